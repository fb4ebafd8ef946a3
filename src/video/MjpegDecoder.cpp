#include "video/MjpegDecoder.h"

#include <turbojpeg.h>

namespace tesmo {

namespace {

// The DCT reductions libjpeg-turbo offers, largest first.
constexpr int kReductions[] = {8, 4, 2};

int32_t Reduced(int32_t side, int denominator) { return (side + denominator - 1) / denominator; }

// The largest reduction whose picture, once cropped to the host's aspect ratio,
// still holds the host's size: the host never gets a picture scaled up from one
// decoded smaller than it needed.
int ChooseReduction(int32_t cameraWidth, int32_t cameraHeight, int32_t hostWidth,
                    int32_t hostHeight) {
  for (int denominator : kReductions) {
    const CropRect crop = CentreCrop(Reduced(cameraWidth, denominator),
                                     Reduced(cameraHeight, denominator), hostWidth, hostHeight);
    if (crop.width >= hostWidth && crop.height >= hostHeight) return denominator;
  }
  return 1;
}

}  // namespace

bool IsSequentialJpeg(const unsigned char* data, int32_t length) {
  if (!data || length < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  int64_t at = 2;
  while (at + 1 < length) {
    if (data[at] != 0xFF) return false;
    const unsigned char marker = data[at + 1];
    at += 2;
    if (marker == 0xFF) {  // fill byte before a marker
      --at;
      continue;
    }
    if (marker == 0xC0 || marker == 0xC1) return true;
    // Any other frame header (progressive, lossless, arithmetic) is refused, and so
    // is a scan or the end before any frame header.
    if ((marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
         marker != 0xCC) ||
        marker == 0xDA || marker == 0xD9)
      return false;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length
    if (at + 1 >= length) return false;
    const int segment = (data[at] << 8) | data[at + 1];
    if (segment < 2) return false;
    at += segment;
  }
  return false;
}

bool FindFirstScan(const unsigned char* data, int32_t length, ScanExtent& extent) {
  if (!data || length < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  int64_t at = 2;
  for (;;) {
    if (at + 1 >= length || data[at] != 0xFF) return false;
    const unsigned char marker = data[at + 1];
    at += 2;
    if (marker == 0xFF) {  // fill byte before a marker
      --at;
      continue;
    }
    if (marker == 0xD9) return false;                                    // EOI before a scan
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no length
    if (at + 1 >= length) return false;
    const int segment = (data[at] << 8) | data[at + 1];
    if (segment < 2 || at + segment > length) return false;
    at += segment;
    if (marker == 0xDA) break;
  }
  extent.scanStart = static_cast<int32_t>(at);
  // Entropy-coded data: an FF is followed by a stuffed 00, a restart marker, more
  // fill FFs or the marker that ends the scan.
  while (at < length) {
    if (data[at] != 0xFF) {
      ++at;
      continue;
    }
    int64_t next = at + 1;
    while (next < length && data[next] == 0xFF) ++next;
    if (next >= length) break;
    const unsigned char code = data[next];
    if (code == 0x00 || (code >= 0xD0 && code <= 0xD7)) {
      at = next + 1;
      continue;
    }
    extent.scanEnd = static_cast<int32_t>(at);
    extent.endMarker = code;
    extent.afterMarker = static_cast<int32_t>(next + 1);
    return true;
  }
  extent.scanEnd = static_cast<int32_t>(length);
  extent.endMarker = 0;
  return true;
}

std::unique_ptr<MjpegDecoder> MjpegDecoder::Create(int32_t cameraWidth, int32_t cameraHeight,
                                                   PixelFormat target, int32_t hostWidth,
                                                   int32_t hostHeight) {
  const int32_t bytes = TargetFrameBytes(target, hostWidth, hostHeight);
  if (bytes < 0 || cameraWidth <= 0 || cameraHeight <= 0 ||
      SourceFrameBytes({PixelFormat::Jpeg444, cameraWidth, cameraHeight, true}) < 0)
    return nullptr;
  std::unique_ptr<MjpegDecoder> decoder(new MjpegDecoder());
  decoder->handle = tjInitDecompress();
  if (!decoder->handle) return nullptr;
  decoder->cameraWidth = cameraWidth;
  decoder->cameraHeight = cameraHeight;
  decoder->denominator = ChooseReduction(cameraWidth, cameraHeight, hostWidth, hostHeight);
  decoder->decodedWidth = Reduced(cameraWidth, decoder->denominator);
  decoder->decodedHeight = Reduced(cameraHeight, decoder->denominator);
  decoder->target = target;
  decoder->hostWidth = hostWidth;
  decoder->hostHeight = hostHeight;
  decoder->targetBytes = bytes;
  decoder->planes.resize(static_cast<size_t>(SourceFrameBytes(
      {PixelFormat::Jpeg444, decoder->decodedWidth, decoder->decodedHeight, true})));
  return decoder;
}

MjpegDecoder::~MjpegDecoder() {
  if (handle) tjDestroy(handle);
}

FrameConverter* MjpegDecoder::ConverterFor(PixelFormat layout) {
  FrameConverter& converter =
      converters[layout == PixelFormat::Jpeg420 ? 0 : layout == PixelFormat::Jpeg422 ? 1 : 2];
  if (!converter.IsConfigured() &&
      !converter.Configure({layout, decodedWidth, decodedHeight, true}, target, hostWidth,
                           hostHeight))
    return nullptr;
  return &converter;
}

bool MjpegDecoder::Decode(const unsigned char* data, int32_t length, unsigned char* out) {
  if (!handle || !data || length <= 0 || !IsSequentialJpeg(data, length)) return false;
  int width = 0, height = 0, subsampling = -1, colourspace = -1;
  if (tjDecompressHeader3(handle, data, static_cast<unsigned long>(length), &width, &height,
                          &subsampling, &colourspace) != 0)
    return false;
  // Another size than the mode's is a fault of the camera, not a picture to scale.
  if (width != cameraWidth || height != cameraHeight || colourspace != TJCS_YCbCr) return false;
  PixelFormat layout;
  switch (subsampling) {
    case TJSAMP_420: layout = PixelFormat::Jpeg420; break;
    case TJSAMP_422: layout = PixelFormat::Jpeg422; break;
    case TJSAMP_444: layout = PixelFormat::Jpeg444; break;
    default: return false;
  }
  FrameConverter* converter = ConverterFor(layout);
  if (!converter) return false;
  ScanExtent scan;
  if (!FindFirstScan(data, length, scan)) return false;
  bool decoded;
  if (scan.endMarker != 0 && scan.endMarker != 0xD9) {
    // The scan goes on with a marker of its own (a second scan): decoded as it stands.
    decoded = DecodeStrictly(data, length, subsampling);
  } else {
    // Zero bytes at the end of the scan are most likely a camera's padding, which
    // would read as data before the marker; where the decode without them fails,
    // they are tried as the scan's own.
    int32_t end = scan.scanEnd;
    while (end > scan.scanStart && data[end - 1] == 0x00 && data[end - 2] != 0xFF) --end;
    auto mendAndDecode = [&](int32_t scanEnd) {
      mended.assign(data, data + scanEnd);
      mended.push_back(0xFF);
      mended.push_back(0xD9);
      return DecodeStrictly(mended.data(), static_cast<int32_t>(mended.size()), subsampling);
    };
    if (scan.endMarker == 0xD9 && end == scan.scanEnd) {
      // A tidy end: decoded in place, whatever follows its EOI.
      decoded = DecodeStrictly(data, scan.afterMarker, subsampling);
    } else {
      // No EOI, or padding before it: the EOI is put right after the scan.
      decoded = mendAndDecode(end) || (end != scan.scanEnd && mendAndDecode(scan.scanEnd));
    }
  }
  if (!decoded) return false;
  converter->Convert(planes.data(), out);
  return true;
}

bool MjpegDecoder::DecodeStrictly(const unsigned char* data, int32_t length, int subsampling) {
  const int chromaWidth = tjPlaneWidth(1, decodedWidth, subsampling);
  const int chromaHeight = tjPlaneHeight(1, decodedHeight, subsampling);
  unsigned char* planeStarts[3] = {planes.data(), nullptr, nullptr};
  planeStarts[1] = planeStarts[0] + static_cast<size_t>(decodedWidth) * decodedHeight;
  planeStarts[2] = planeStarts[1] + static_cast<size_t>(chromaWidth) * chromaHeight;
  int strides[3] = {decodedWidth, chromaWidth, chromaWidth};
  // With its end in place, a warning means a damaged picture (a scan cut short, bad
  // data in it): decoding stops there.
  return tjDecompressToYUVPlanes(handle, data, static_cast<unsigned long>(length), planeStarts,
                                 decodedWidth, strides, decodedHeight, TJFLAG_STOPONWARNING) == 0;
}

}  // namespace tesmo
