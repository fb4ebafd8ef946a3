// libFuzzer target for what a camera sends: each input is an MJPG frame for the
// decoder (camera mode, host size and format picked by its first bytes) and, when it
// is long enough, a raw frame for the converter (source format and size, target
// format and size picked the same way). See MjpegFuzzInput.h for the layout and
// scripts/fuzz.sh for the run.
//
// libyuv and libjpeg-turbo come from Debian without the sanitizer's checks, so the
// frame, the source and the host's buffer each sit against an inaccessible page: a
// read or write one byte past the end (or, by a bit of the input, before the start)
// faults whoever does it. Each decoded or converted frame is checked for what its
// layout promises over every byte: RGB32 opaque, RGB555's top bit clear, I420 from a
// JPEG or RGB source in limited range; the host's buffer is filled first with bytes
// that break those promises, so a part left unwritten shows.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "MjpegFuzzInput.h"
#include "video/FrameConverter.h"
#include "video/MjpegDecoder.h"

using tesmo::CropRect;
using tesmo::FrameConverter;
using tesmo::FrameFormat;
using tesmo::MjpegDecoder;
using tesmo::PixelFormat;

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "MjpegFrameFuzzer: %s\n", what);
  std::abort();
}

// `size` bytes in pages of their own, with an inaccessible page on each side; the
// bytes touch the one after them, or the one before.
class GuardedBytes {
public:
  GuardedBytes(size_t size, bool guardBefore) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    length = ((size + page - 1) / page + 2) * page;
    void* mapped = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) Fail("mmap");
    base = static_cast<unsigned char*>(mapped);
    if (mprotect(base, page, PROT_NONE) != 0 || mprotect(base + length - page, page, PROT_NONE) != 0)
      Fail("mprotect");
    bytes = guardBefore ? base + page : base + length - page - size;
  }
  ~GuardedBytes() { munmap(base, length); }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  unsigned char* data() { return bytes; }

private:
  unsigned char* base = nullptr;
  unsigned char* bytes = nullptr;
  size_t length = 0;
};

// A filling that breaks every promise CheckHostFrame checks.
unsigned char UnwrittenByte(PixelFormat host) {
  return host == PixelFormat::Rgb555 ? 0xFF : host == PixelFormat::Rgb24 ? 0x5A : 0x00;
}

// What every byte of a host frame must show. `limitedRange`: the source was JPEG or
// RGB, so I420 comes out as Y 16..235 and chroma 16..240 (a YUV source's I420 is
// passed through scaled, whatever its values).
void CheckHostFrame(PixelFormat host, int32_t width, int32_t height, const unsigned char* frame,
                    bool limitedRange) {
  const size_t pixels = static_cast<size_t>(width) * height;
  switch (host) {
    case PixelFormat::Rgb32:
      for (size_t i = 0; i < pixels; ++i)
        if (frame[4 * i + 3] != 0xFF) Fail("an RGB32 pixel is not opaque (or was not written)");
      break;
    case PixelFormat::Rgb555:
      for (size_t i = 0; i < pixels; ++i)
        if (frame[2 * i + 1] & 0x80) Fail("an RGB555 pixel has its top bit set (or was not written)");
      break;
    case PixelFormat::I420: {
      if (!limitedRange) break;
      const size_t chroma = pixels / 2;  // both planes: width / 2 * height / 2 each
      for (size_t i = 0; i < pixels; ++i)
        if (frame[i] < 16 || frame[i] > 235) Fail("an I420 luma byte is out of 16..235");
      for (size_t i = pixels; i < pixels + chroma; ++i)
        if (frame[i] < 16 || frame[i] > 240) Fail("an I420 chroma byte is out of 16..240");
      break;
    }
    default: break;
  }
}

void FuzzDecode(const uint8_t* input, size_t size) {
  using namespace mjpegfuzz;
  const DecodeSetting& s = kDecodeSettings[input[0] % kDecodeSettingCount];
  const PixelFormat host = kHostFormats[input[1] & 3];
  const bool guardBefore = (input[1] & kGuardBefore) != 0;
  std::unique_ptr<MjpegDecoder> decoder =
      MjpegDecoder::Create(s.cameraWidth, s.cameraHeight, host, s.hostWidth, s.hostHeight);
  const int32_t hostBytes = tesmo::TargetFrameBytes(host, s.hostWidth, s.hostHeight);
  if (!decoder) {
    if (hostBytes > 0) Fail("Create refused a host it can serve");
    return;
  }
  if (decoder->TargetBytes() != hostBytes) Fail("the decoder's frame length is not the host's");
  if (decoder->ScaleDenominator() != s.denominator) Fail("an unexpected DCT reduction");

  const size_t length = size - kHeaderBytes;
  if (length == 0) return;
  GuardedBytes frame(length, guardBefore);
  std::memcpy(frame.data(), input + kHeaderBytes, length);
  GuardedBytes out(static_cast<size_t>(hostBytes), guardBefore);
  std::memset(out.data(), UnwrittenByte(host), static_cast<size_t>(hostBytes));
  if (decoder->Decode(frame.data(), static_cast<int32_t>(length), out.data()))
    CheckHostFrame(host, s.hostWidth, s.hostHeight, out.data(), true);
}

void FuzzConvert(const uint8_t* input, size_t size) {
  using namespace mjpegfuzz;
  const FrameFormat source{kSourceFormats[(input[2] & 0x7F) % kSourceFormatCount], input[4] + 1,
                           input[5] + 1, (input[2] & kTopDown) != 0};
  const PixelFormat target = kHostFormats[input[3] & 3];
  const bool guardBefore = (input[3] & kGuardBefore) != 0;
  const int32_t width = input[6] + 1, height = input[7] + 1;
  const int32_t sourceBytes = tesmo::SourceFrameBytes(source);
  if (sourceBytes <= 0) Fail("a 1..256 source has no length");
  if (size - kHeaderBytes < static_cast<size_t>(sourceBytes)) return;

  FrameConverter converter;
  const int32_t targetBytes = tesmo::TargetFrameBytes(target, width, height);
  if (!converter.Configure(source, target, width, height)) {
    if (targetBytes > 0) Fail("Configure refused a pair it can convert");
    return;
  }
  if (converter.SourceBytes() != sourceBytes || converter.TargetBytes() != targetBytes)
    Fail("the converter's lengths are not the frames'");
  // The crop lies inside the source, about its centre, and is even where it cuts.
  const CropRect& crop = converter.Crop();
  if (crop.width <= 0 || crop.height <= 0 || crop.x < 0 || crop.y < 0 ||
      crop.x + crop.width > source.width || crop.y + crop.height > source.height)
    Fail("the crop leaves the source");
  if ((crop.width != source.width && (crop.width % 2 || crop.x % 2 || crop.y != 0)) ||
      (crop.height != source.height && (crop.height % 2 || crop.y % 2 || crop.x != 0)))
    Fail("a cut side is odd, or both sides are cut");
  // An even offset from an odd margin: at most three pixels more on one side.
  if (std::abs(2 * crop.x + crop.width - source.width) > 3 ||
      std::abs(2 * crop.y + crop.height - source.height) > 3)
    Fail("the crop is off centre");

  GuardedBytes in(static_cast<size_t>(sourceBytes), guardBefore);
  std::memcpy(in.data(), input + kHeaderBytes, static_cast<size_t>(sourceBytes));
  GuardedBytes out(static_cast<size_t>(targetBytes), guardBefore);
  std::memset(out.data(), UnwrittenByte(target), static_cast<size_t>(targetBytes));
  converter.Convert(in.data(), out.data());
  const bool limitedRange = tesmo::IsRgb(source.format) || source.format == PixelFormat::Jpeg420 ||
                            source.format == PixelFormat::Jpeg422 ||
                            source.format == PixelFormat::Jpeg444;
  CheckHostFrame(target, width, height, out.data(), limitedRange);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < mjpegfuzz::kHeaderBytes) return 0;
  FuzzDecode(data, size);
  FuzzConvert(data, size);
  return 0;
}
