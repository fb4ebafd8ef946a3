// The camera's MJPG frames: its picture compressed with the platform's own JPEG encoder (the
// Windows Imaging Component), as a webcam's chip compresses what its sensor sees. One encoder
// per streaming run, used by the streaming thread alone; that thread has COM initialised.
#pragma once
#include <wincodec.h>

#include <cstdint>
#include <vector>

#include "ComSupport.h"

namespace testdevices {

class JpegEncoder {
public:
  JpegEncoder();
  // S_OK once the imaging factory exists; the result of creating it otherwise.
  HRESULT Status() const { return status; }
  // Encodes a top-down 24-bit BGR picture (rows `stride` bytes apart) into `jpeg`.
  HRESULT Encode(const uint8_t* pixels, int width, int height, long stride,
                 std::vector<uint8_t>& jpeg);

private:
  HRESULT status = E_FAIL;
  ComPtr<IWICImagingFactory> factory;
};

}  // namespace testdevices
