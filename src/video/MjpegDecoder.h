// Decodes a camera's MJPG frames into the host's format and size with libjpeg-turbo:
// straight into the JPEG's own YUV planes, which the frame converter crops, scales
// and turns into the host's RGB24, RGB32, RGB555 or I420. Where the host's picture
// is at most half the camera's, the frame is decoded at a reduced scale in the DCT
// (1/2, 1/4 or 1/8 of each side), which costs a fraction of a whole decode. Frames
// without Huffman tables, as many webcams send them, decode with the standard ones.
//
// What a camera sends is not trusted: the header is read first, and a frame that is
// not a baseline YCbCr JPEG (4:2:0, 4:2:2 or 4:4:4) of exactly the mode's size is
// refused. A frame is judged by whether its picture is whole: cameras end frames
// untidily (no EOI marker, padding or stray bytes after the scan), so the frame is
// decoded up to the end of its scan with an EOI put there, and refused only where
// that decode warns (a scan cut short), never delivered half grey. So nothing a
// frame says can make the decoder work beyond the mode's size.
//
// Threads: made by Open on the host's thread; Decode runs on the delivery thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "video/FrameConverter.h"
#include "video/FrameDecoder.h"

namespace tesmo {

class MjpegDecoder final : public FrameDecoder {
public:
  // For a camera mode of cameraWidth x cameraHeight whose frames the host takes as
  // `target` at hostWidth x hostHeight; null when the host's side is refused.
  static std::unique_ptr<MjpegDecoder> Create(int32_t cameraWidth, int32_t cameraHeight,
                                              PixelFormat target, int32_t hostWidth,
                                              int32_t hostHeight);
  ~MjpegDecoder() override;
  MjpegDecoder(const MjpegDecoder&) = delete;
  MjpegDecoder& operator=(const MjpegDecoder&) = delete;

  int32_t TargetBytes() const override { return targetBytes; }
  bool Decode(const unsigned char* data, int32_t length, unsigned char* target) override;
  // 1 for a whole decode, else the DCT's reduction of each side (2, 4 or 8).
  int ScaleDenominator() const { return denominator; }

private:
  MjpegDecoder() = default;
  // The converter for decoded planes of this chroma layout, configured on first use.
  FrameConverter* ConverterFor(PixelFormat planes);

  void* handle = nullptr;  // the TurboJPEG decompressor
  int32_t cameraWidth = 0, cameraHeight = 0;
  int32_t decodedWidth = 0, decodedHeight = 0;
  int denominator = 1;
  PixelFormat target = PixelFormat::Rgb24;
  int32_t hostWidth = 0, hostHeight = 0;
  int32_t targetBytes = -1;
  // Decodes `length` bytes into the planes, warnings counting as failures.
  bool DecodeStrictly(const unsigned char* data, int32_t length, int subsampling);
  std::vector<unsigned char> planes;  // room for 4:4:4 at the decoded size
  // A frame's scan with an EOI put after it; grows to the longest frame so mended.
  std::vector<unsigned char> mended;
  FrameConverter converters[3];       // 4:2:0, 4:2:2, 4:4:4
};

// Whether `data` is a JPEG whose first frame header is baseline or extended
// sequential with Huffman coding (SOF0, SOF1), as cameras send, found by walking
// its markers without reading past `length`.
bool IsSequentialJpeg(const unsigned char* data, int32_t length);

// Where a JPEG's first scan starts and ends: `scanStart` just after its SOS header,
// `scanEnd` at the first marker after it that is not a restart marker (or `length`
// when none follows), `endMarker` that marker's code (0 for none). False when the
// markers before the scan do not parse.
struct ScanExtent {
  int32_t scanStart = 0;
  int32_t scanEnd = 0;
  int endMarker = 0;
  int32_t afterMarker = 0;  // just past that marker's code (past fill bytes before it)
};
bool FindFirstScan(const unsigned char* data, int32_t length, ScanExtent& extent);

}  // namespace tesmo
