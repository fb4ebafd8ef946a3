#include "video/MjpegDecoder.h"

#include "video/JpegHuffmanTables.h"

namespace tesmo {

std::shared_ptr<MjpegDecoder> MjpegDecoder::Create(int32_t width, int32_t height,
                                                   PixelFormat target) {
  std::shared_ptr<MjpegDecoder> decoder(new MjpegDecoder());
  const FrameFormat bgrRows{PixelFormat::Rgb24, width, height, true};
  if (!decoder->fromBgr.Configure(bgrRows, target)) return nullptr;
  decoder->width = width;
  decoder->height = height;
  decoder->stride = static_cast<uint32_t>((width * 3 + 3) & ~3);  // the converter's DIB rows
  decoder->picture.resize(static_cast<size_t>(decoder->fromBgr.SourceBytes()));
  return decoder;
}

bool MjpegDecoder::Decode(const unsigned char* data, int32_t length, unsigned char* target) {
  if (!data || length <= 0 || !DecodePicture(data, length)) return false;
  fromBgr.Convert(picture.data(), target);
  return true;
}

bool MjpegDecoder::DecodePicture(const unsigned char* data, int32_t length) {
  const JpegHeaders headers = ReadJpegHeaders(data, static_cast<size_t>(length));
  if (!headers.valid) return false;
  if (!headers.hasHuffmanTables) {
    if (!AddStandardHuffmanTables(data, static_cast<size_t>(length), withTables)) return false;
    data = withTables.data();
    length = static_cast<int32_t>(withTables.size());
  }
  if (!factory &&
      CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                       IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)) != S_OK)
    return false;

  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  if (factory->CreateStream(&stream) != S_OK ||
      stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(length)) != S_OK ||
      factory->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, &decoder) != S_OK ||
      decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand) != S_OK ||
      decoder->GetFrame(0, &frame) != S_OK)
    return false;
  UINT frameWidth = 0, frameHeight = 0;
  if (frame->GetSize(&frameWidth, &frameHeight) != S_OK || frameWidth != static_cast<UINT>(width) ||
      frameHeight != static_cast<UINT>(height))
    return false;

  // Colour JPEG decodes to BGR as it is; a grey one goes through a format converter.
  WICPixelFormatGUID pixelFormat{};
  if (frame->GetPixelFormat(&pixelFormat) != S_OK) return false;
  ComPtr<IWICFormatConverter> converter;
  IWICBitmapSource* source = frame.Get();
  if (!IsEqualGUID(pixelFormat, GUID_WICPixelFormat24bppBGR)) {
    if (factory->CreateFormatConverter(&converter) != S_OK ||
        converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                              nullptr, 0.0, WICBitmapPaletteTypeCustom) != S_OK)
      return false;
    source = converter.Get();
  }
  return source->CopyPixels(nullptr, stride, static_cast<UINT>(picture.size()), picture.data()) ==
         S_OK;
}

}  // namespace tesmo
