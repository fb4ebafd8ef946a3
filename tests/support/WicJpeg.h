// Decodes a JPEG frame with the platform's own decoder (the Windows Imaging Component), as a
// host of MJPG frames would: to a top-down 24-bit BGR picture with rows of width * 3 bytes.
#pragma once
#include <wincodec.h>

#include <cstdint>
#include <vector>

#include "../../src/common/ComPtr.h"

namespace testpicture {

struct DecodedJpeg {
  UINT width = 0, height = 0;
  std::vector<uint8_t> bgr;
};

// S_OK with the picture, or the decoder's failure. The calling thread has COM initialised.
inline HRESULT DecodeJpeg(const uint8_t* data, size_t size, DecodedJpeg& out) {
  using tesmo::ComPtr;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICBitmapSource> converted;
  HRESULT hr;
  if ((hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) != S_OK ||
      (hr = factory->CreateStream(&stream)) != S_OK ||
      (hr = stream->InitializeFromMemory(const_cast<BYTE*>(data), DWORD(size))) != S_OK ||
      (hr = factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                             &decoder)) != S_OK ||
      (hr = decoder->GetFrame(0, &frame)) != S_OK ||
      (hr = frame->GetSize(&out.width, &out.height)) != S_OK ||
      (hr = WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame.Get(), &converted)) != S_OK)
    return hr;
  out.bgr.assign(size_t(out.width) * out.height * 3, 0);
  return converted->CopyPixels(nullptr, out.width * 3, UINT(out.bgr.size()), out.bgr.data());
}

}  // namespace testpicture
