#include "JpegEncoder.h"

#include <cstring>

namespace testdevices {
namespace {

// About what webcams send: artefacts stay well inside the frame-number cells' thresholds.
constexpr float kImageQuality = 0.85f;

}  // namespace

JpegEncoder::JpegEncoder() {
  status = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
}

HRESULT JpegEncoder::Encode(const uint8_t* pixels, int width, int height, long stride,
                            std::vector<uint8_t>& jpeg) {
  if (status != S_OK) return status;
  ComPtr<IStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  HRESULT hr;
  if ((hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream)) != S_OK ||
      (hr = factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)) != S_OK ||
      (hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) != S_OK ||
      (hr = encoder->CreateNewFrame(&frame, &options)) != S_OK)
    return hr;
  PROPBAG2 option = {};
  option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
  VARIANT quality;
  VariantInit(&quality);
  quality.vt = VT_R4;
  quality.fltVal = kImageQuality;
  if ((hr = options->Write(1, &option, &quality)) != S_OK ||
      (hr = frame->Initialize(options.Get())) != S_OK ||
      (hr = frame->SetSize(UINT(width), UINT(height))) != S_OK)
    return hr;
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if ((hr = frame->SetPixelFormat(&format)) != S_OK) return hr;
  if (format != GUID_WICPixelFormat24bppBGR) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  if ((hr = frame->WritePixels(UINT(height), UINT(stride), UINT(stride * height),
                               const_cast<BYTE*>(pixels))) != S_OK ||
      (hr = frame->Commit()) != S_OK || (hr = encoder->Commit()) != S_OK)
    return hr;
  STATSTG stat = {};
  HGLOBAL memory = nullptr;
  if ((hr = stream->Stat(&stat, STATFLAG_NONAME)) != S_OK ||
      (hr = GetHGlobalFromStream(stream.Get(), &memory)) != S_OK)
    return hr;
  const void* bytes = GlobalLock(memory);
  if (!bytes) return E_OUTOFMEMORY;
  jpeg.resize(size_t(stat.cbSize.QuadPart));
  std::memcpy(jpeg.data(), bytes, jpeg.size());
  GlobalUnlock(memory);
  return S_OK;
}

}  // namespace testdevices
