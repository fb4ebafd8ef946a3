// Decodes a camera's MJPG frames into the host's format with the platform's own JPEG
// decoder (the Windows Imaging Component, which Wine implements too): the picture
// comes out as top-down BGR rows, which the frame converter turns into the host's
// RGB24, RGB32, RGB555 or I420. A frame without Huffman tables gets the standard
// ones first (see JpegHuffmanTables.h).
//
// Threads: made by Open on the host's thread; Decode runs on the delivery thread
// only, which is in COM's multithreaded apartment. The imaging factory is created
// there, on the first frame after the Open, and kept for every later frame.
#pragma once

#include <wincodec.h>

#include <memory>
#include <vector>

#include "common/ComPtr.h"
#include "video/FrameConverter.h"
#include "video/FrameDecoder.h"

namespace tesmo {

class MjpegDecoder final : public FrameDecoder {
public:
  // Null when the host's format cannot be made at that size.
  static std::shared_ptr<MjpegDecoder> Create(int32_t width, int32_t height, PixelFormat target);

  int32_t TargetBytes() const override { return fromBgr.TargetBytes(); }
  bool Decode(const unsigned char* data, int32_t length, unsigned char* target) override;

private:
  MjpegDecoder() = default;
  // The decoded picture as top-down BGR rows in `picture`; false when it does not
  // decode to the expected size.
  bool DecodePicture(const unsigned char* data, int32_t length);

  ComPtr<IWICImagingFactory> factory;
  FrameConverter fromBgr;
  std::vector<unsigned char> picture;
  std::vector<uint8_t> withTables;
  int32_t width = 0, height = 0;
  uint32_t stride = 0;
};

}  // namespace tesmo
