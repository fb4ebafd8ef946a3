// Writes the MJPG frame fuzzer's seeds into a folder: the test camera's picture
// compressed by TurboJPEG as a webcam sends it, at 320x240, 640x480 and 1280x720 in
// 4:2:0, 4:2:2 and 4:4:4, with and without Huffman tables, plus the largest mode
// (1920x1080), an odd size (321x241), a frame cut short in its scan, one cut just
// after its scan header and a progressive one. Each frame goes to every decode
// setting of its size, in turn with each host format and converter setting.
//
//   MjpegSeeds DIR
#include <turbojpeg.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../../tools/testdevices/JpegFrames.h"
#include "../../tools/testdevices/PictureLayout.h"
#include "MjpegFuzzInput.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The test camera's picture (bars, band and frame-number cells) of frame 7.
Bytes EncodePicture(int width, int height, int subsampling, int flags) {
  Bytes rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const testdevices::Rgb c = testdevices::PictureColourAt(x, y, width, height, 7);
      unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }
  tjhandle encoder = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  Bytes out;
  if (encoder && tjCompress2(encoder, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size,
                             subsampling, 85, flags) == 0)
    out.assign(jpeg, jpeg + size);
  tjFree(jpeg);
  if (encoder) tjDestroy(encoder);
  return out;
}

// The converter's settings the seeds take in turn: small sizes, so that a seed frame
// also holds a whole source frame, odd and even, up and down, other aspects.
struct ConvertSetting {
  int sourceWidth, sourceHeight, targetWidth, targetHeight;
};
constexpr ConvertSetting kConvertSettings[] = {
    {16, 12, 32, 24}, {33, 17, 16, 9},  {64, 48, 64, 48}, {7, 5, 9, 7},   {1, 1, 2, 2},
    {100, 75, 64, 36}, {48, 27, 200, 150}, {2, 200, 6, 2}, {64, 36, 48, 48}, {31, 23, 30, 22}};

int written = 0;

bool Write(const std::string& folder, const std::string& name, size_t setting, const Bytes& jpeg) {
  const int i = written;
  const ConvertSetting& c = kConvertSettings[i % std::size(kConvertSettings)];
  const unsigned char header[mjpegfuzz::kHeaderBytes] = {
      static_cast<unsigned char>(setting),
      static_cast<unsigned char>((i + i / 5) % 4 | ((i / 4) % 2 ? mjpegfuzz::kGuardBefore : 0)),
      static_cast<unsigned char>(i % mjpegfuzz::kSourceFormatCount |
                                 ((i / mjpegfuzz::kSourceFormatCount) % 2 ? mjpegfuzz::kTopDown : 0)),
      static_cast<unsigned char>((i / 3) % 4 | ((i / 2) % 2 ? mjpegfuzz::kGuardBefore : 0)),
      static_cast<unsigned char>(c.sourceWidth - 1),
      static_cast<unsigned char>(c.sourceHeight - 1),
      static_cast<unsigned char>(c.targetWidth - 1),
      static_cast<unsigned char>(c.targetHeight - 1)};
  const std::string path = folder + "/" + name + "-setting" + std::to_string(setting);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header &&
                  std::fwrite(jpeg.data(), 1, jpeg.size(), file) == jpeg.size();
  ++written;
  return std::fclose(file) == 0 && ok;
}

// The frame to every decode setting whose camera has its size.
bool WriteForEachSetting(const std::string& folder, const std::string& name, int width, int height,
                         const Bytes& jpeg) {
  if (jpeg.empty()) return false;
  bool ok = true;
  for (size_t s = 0; s < mjpegfuzz::kDecodeSettingCount; ++s)
    if (mjpegfuzz::kDecodeSettings[s].cameraWidth == width &&
        mjpegfuzz::kDecodeSettings[s].cameraHeight == height)
      ok = Write(folder, name, s, jpeg) && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  bool ok = true;
  struct Layout {
    int subsampling;
    const char* name;
  };
  const Layout layouts[] = {{TJSAMP_420, "420"}, {TJSAMP_422, "422"}, {TJSAMP_444, "444"}};
  for (const auto& [width, height] : {std::pair{320, 240}, {640, 480}, {1280, 720}}) {
    for (const Layout& layout : layouts) {
      const std::string name =
          "mjpg-" + std::to_string(width) + "x" + std::to_string(height) + "-" + layout.name;
      Bytes jpeg = EncodePicture(width, height, layout.subsampling, 0);
      ok = WriteForEachSetting(folder, name, width, height, jpeg) && ok;
      // As many webcams send it: the decoder must supply the standard tables.
      const size_t stripped = testdevices::RemoveHuffmanTables(jpeg.data(), jpeg.size());
      if (stripped == jpeg.size()) {
        std::fprintf(stderr, "%s: the Huffman tables are not the standard ones\n", name.c_str());
        ok = false;
      }
      jpeg.resize(stripped);
      ok = WriteForEachSetting(folder, name + "-nodht", width, height, jpeg) && ok;
    }
  }
  ok = WriteForEachSetting(folder, "mjpg-1920x1080-422", 1920, 1080,
                           EncodePicture(1920, 1080, TJSAMP_422, 0)) && ok;
  ok = WriteForEachSetting(folder, "mjpg-321x241-420", 321, 241,
                           EncodePicture(321, 241, TJSAMP_420, 0)) && ok;
  // Damaged on the way: cut in the middle of its scan, and just after the scan header.
  Bytes cut = EncodePicture(640, 480, TJSAMP_422, 0);
  cut.resize(cut.size() * 3 / 5);
  ok = WriteForEachSetting(folder, "mjpg-640x480-422-cut", 640, 480, cut) && ok;
  Bytes headerOnly = EncodePicture(640, 480, TJSAMP_420, 0);
  headerOnly.resize(testdevices::CorruptJpeg(headerOnly.data(), headerOnly.size()));
  ok = WriteForEachSetting(folder, "mjpg-640x480-420-noscan", 640, 480, headerOnly) && ok;
  // Ended untidily, as webcams send whole pictures: no EOI, zero padding to the
  // buffer's size, junk after the EOI.
  Bytes noEoi = EncodePicture(640, 480, TJSAMP_422, 0);
  noEoi.resize(testdevices::DropEndMarker(noEoi.data(), noEoi.size()));
  ok = WriteForEachSetting(folder, "mjpg-640x480-422-noeoi", 640, 480, noEoi) && ok;
  noEoi.resize(noEoi.size() + 256, 0x00);
  ok = WriteForEachSetting(folder, "mjpg-640x480-422-padded", 640, 480, noEoi) && ok;
  Bytes junk = EncodePicture(320, 240, TJSAMP_420, 0);
  junk.insert(junk.end(), {0x00, 0xFF, 0x00, 0x12, 0xFF, 0xD9, 0x7F});
  ok = WriteForEachSetting(folder, "mjpg-320x240-420-junk", 320, 240, junk) && ok;
  ok = WriteForEachSetting(folder, "mjpg-640x480-420-progressive", 640, 480,
                           EncodePicture(640, 480, TJSAMP_420, TJFLAG_PROGRESSIVE)) && ok;
  std::printf("%d seeds in %s\n", written, folder.c_str());
  return ok ? 0 : 1;
}
