#include "MediaType.h"

#include <cstring>
#include <cwchar>
#include <cstdlib>
#include <utility>

namespace testdevices {

const GUID kSubtypeI420 = {
    0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

namespace {

const VideoSubtype kVideoSubtypes[] = {
    {MEDIASUBTYPE_RGB24, PixelFormat::Rgb24, 24, BI_RGB, L"RGB24"},
    {MEDIASUBTYPE_RGB32, PixelFormat::Rgb32, 32, BI_RGB, L"RGB32"},
    {MEDIASUBTYPE_RGB555, PixelFormat::Rgb555, 16, BI_RGB, L"RGB555"},
    {MEDIASUBTYPE_RGB565, PixelFormat::Rgb565, 16, BI_BITFIELDS, L"RGB565"},
    {kSubtypeI420, PixelFormat::I420, 12, kFourccI420, L"I420"},
    {MEDIASUBTYPE_YV12, PixelFormat::Yv12, 12, MAKEFOURCC('Y', 'V', '1', '2'), L"YV12"},
    {MEDIASUBTYPE_NV12, PixelFormat::Nv12, 12, MAKEFOURCC('N', 'V', '1', '2'), L"NV12"},
    {MEDIASUBTYPE_YUY2, PixelFormat::Yuy2, 16, MAKEFOURCC('Y', 'U', 'Y', '2'), L"YUY2"},
    {MEDIASUBTYPE_UYVY, PixelFormat::Uyvy, 16, MAKEFOURCC('U', 'Y', 'V', 'Y'), L"UYVY"},
    {MEDIASUBTYPE_MJPG, PixelFormat::Rgb24, 24, MAKEFOURCC('M', 'J', 'P', 'G'), L"MJPG", true},
};

}  // namespace

const VideoSubtype* FindVideoSubtype(const GUID& subtype) {
  for (const auto& known : kVideoSubtypes)
    if (known.subtype == subtype) return &known;
  return nullptr;
}

const VideoSubtype* FindVideoSubtype(const wchar_t* name) {
  for (const auto& known : kVideoSubtypes)
    if (std::wcscmp(known.name, name) == 0) return &known;
  return nullptr;
}

MediaType::MediaType() { std::memset(&type, 0, sizeof type); }

MediaType::MediaType(const AM_MEDIA_TYPE& other) : MediaType() {
  type = other;
  type.pUnk = nullptr;
  type.pbFormat = nullptr;
  type.cbFormat = 0;
  SetFormat(other.formattype, other.pbFormat, other.pbFormat ? other.cbFormat : 0);
}

MediaType::MediaType(const MediaType& other) : MediaType(other.type) {}

MediaType& MediaType::operator=(const MediaType& other) {
  if (this != &other) {
    MediaType copy(other);
    std::swap(type, copy.type);
  }
  return *this;
}

MediaType::~MediaType() { FreeContents(type); }

void MediaType::SetFormat(const GUID& formatType, const void* data, ULONG size) {
  CoTaskMemFree(type.pbFormat);
  type.formattype = formatType;
  type.pbFormat = nullptr;
  type.cbFormat = 0;
  if (data && size) {
    type.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (type.pbFormat) {
      std::memcpy(type.pbFormat, data, size);
      type.cbFormat = size;
    }
  }
}

HRESULT MediaType::CopyTo(AM_MEDIA_TYPE* out) const {
  if (!out) return E_POINTER;
  *out = type;
  out->pUnk = nullptr;  // never set on our types
  out->pbFormat = nullptr;
  out->cbFormat = 0;
  if (type.pbFormat && type.cbFormat) {
    out->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(type.cbFormat));
    if (!out->pbFormat) return E_OUTOFMEMORY;
    std::memcpy(out->pbFormat, type.pbFormat, type.cbFormat);
    out->cbFormat = type.cbFormat;
  }
  return S_OK;
}

AM_MEDIA_TYPE* MediaType::NewTaskMemCopy() const {
  auto* out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (out && CopyTo(out) != S_OK) {
    CoTaskMemFree(out);
    out = nullptr;
  }
  return out;
}

const WAVEFORMATEX* MediaType::Wave() const {
  if (type.formattype != FORMAT_WaveFormatEx || !type.pbFormat ||
      type.cbFormat < sizeof(WAVEFORMATEX) - sizeof(WORD))
    return nullptr;
  return reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
}

const VIDEOINFOHEADER* MediaType::Video() const {
  if (type.formattype != FORMAT_VideoInfo || !type.pbFormat ||
      type.cbFormat < sizeof(VIDEOINFOHEADER))
    return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
}

const VIDEOINFOHEADER2* MediaType::Video2() const {
  if (type.formattype != FORMAT_VideoInfo2 || !type.pbFormat ||
      type.cbFormat < sizeof(VIDEOINFOHEADER2))
    return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
}

const BITMAPINFOHEADER* MediaType::Bitmap() const {
  if (const VIDEOINFOHEADER* info = Video()) return &info->bmiHeader;
  if (const VIDEOINFOHEADER2* info = Video2()) return &info->bmiHeader;
  return nullptr;
}

REFERENCE_TIME MediaType::FrameInterval() const {
  if (const VIDEOINFOHEADER* info = Video()) return info->AvgTimePerFrame;
  if (const VIDEOINFOHEADER2* info = Video2()) return info->AvgTimePerFrame;
  return 0;
}

void MediaType::FreeContents(AM_MEDIA_TYPE& t) {
  CoTaskMemFree(t.pbFormat);
  t.pbFormat = nullptr;
  t.cbFormat = 0;
  if (t.pUnk) {
    t.pUnk->Release();
    t.pUnk = nullptr;
  }
}

MediaType MakePcmType(int channels, int samplesPerSec, int bitsPerSample) {
  WAVEFORMATEX wave = {};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = static_cast<WORD>(channels);
  wave.nSamplesPerSec = static_cast<DWORD>(samplesPerSec);
  wave.wBitsPerSample = static_cast<WORD>(bitsPerSample);
  wave.nBlockAlign = static_cast<WORD>(channels * bitsPerSample / 8);
  wave.nAvgBytesPerSec = wave.nBlockAlign * wave.nSamplesPerSec;
  wave.cbSize = 0;

  MediaType mt;
  AM_MEDIA_TYPE& t = mt.Edit();
  t.majortype = MEDIATYPE_Audio;
  t.subtype = MEDIASUBTYPE_PCM;
  t.bFixedSizeSamples = TRUE;
  t.bTemporalCompression = FALSE;
  t.lSampleSize = wave.nBlockAlign;
  mt.SetFormat(FORMAT_WaveFormatEx, &wave, sizeof wave);
  return mt;
}

MediaType MakeOpaqueAudioType() {
  MediaType mt;
  AM_MEDIA_TYPE& t = mt.Edit();
  t.majortype = MEDIATYPE_Audio;
  t.subtype = MEDIASUBTYPE_PCM;
  t.bFixedSizeSamples = TRUE;
  t.lSampleSize = 2;
  t.formattype = FORMAT_None;
  return mt;
}

MediaType MakeVideoType(const GUID& subtype, int width, int height, REFERENCE_TIME frameInterval,
                        const GUID& formatType) {
  const VideoSubtype* known = FindVideoSubtype(subtype);
  const PixelFormat format = known ? known->format : PixelFormat::Rgb24;
  BITMAPINFOHEADER bmi = {};
  bmi.biSize = sizeof(BITMAPINFOHEADER);
  bmi.biWidth = width;
  bmi.biHeight = height;
  bmi.biPlanes = 1;
  bmi.biBitCount = WORD(known ? known->bits : 0);
  bmi.biCompression = known ? known->compression : BI_RGB;
  bmi.biSizeImage = DWORD(FrameBytes(format, width, height));
  const RECT picture = {0, 0, width, std::abs(height)};
  const DWORD bitRate =
      frameInterval > 0 ? DWORD(bmi.biSizeImage * 8LL * 10000000LL / frameInterval) : 0;
  // BI_BITFIELDS pictures carry their red, green and blue masks after the header.
  const DWORD masks[3] = {0xf800, 0x07e0, 0x001f};
  const ULONG maskBytes = bmi.biCompression == BI_BITFIELDS ? sizeof masks : 0;

  MediaType mt;
  AM_MEDIA_TYPE& t = mt.Edit();
  t.majortype = MEDIATYPE_Video;
  t.subtype = subtype;
  t.bFixedSizeSamples = !(known && known->jpeg);
  t.bTemporalCompression = FALSE;
  t.lSampleSize = bmi.biSizeImage;
  BYTE block[sizeof(VIDEOINFOHEADER2) + sizeof masks] = {};
  ULONG blockSize;
  if (formatType == FORMAT_VideoInfo2) {
    VIDEOINFOHEADER2 info = {};
    info.rcSource = info.rcTarget = picture;
    info.dwBitRate = bitRate;
    info.AvgTimePerFrame = frameInterval;
    // The picture's aspect ratio, reduced: square pixels.
    DWORD x = DWORD(width), y = DWORD(std::abs(height));
    for (DWORD a = x, b = y; b;) {
      const DWORD r = a % b;
      a = b;
      b = r;
      if (!b) x /= a, y /= a;
    }
    info.dwPictAspectRatioX = x;
    info.dwPictAspectRatioY = y;
    info.bmiHeader = bmi;
    std::memcpy(block, &info, sizeof info);
    blockSize = sizeof info;
  } else {
    VIDEOINFOHEADER info = {};
    info.rcSource = info.rcTarget = picture;
    info.dwBitRate = bitRate;
    info.AvgTimePerFrame = frameInterval;
    info.bmiHeader = bmi;
    std::memcpy(block, &info, sizeof info);
    blockSize = sizeof info;
  }
  std::memcpy(block + blockSize, masks, maskBytes);
  mt.SetFormat(formatType, block, blockSize + maskBytes);
  return mt;
}

bool Matches(const AM_MEDIA_TYPE& proposed, const AM_MEDIA_TYPE& offered) {
  if (proposed.majortype != GUID_NULL && proposed.majortype != offered.majortype) return false;
  if (proposed.subtype != GUID_NULL && proposed.subtype != offered.subtype) return false;
  if (proposed.formattype == GUID_NULL) return true;
  if (proposed.formattype != offered.formattype) return false;
  if (!proposed.pbFormat) return true;
  return proposed.cbFormat == offered.cbFormat &&
         std::memcmp(proposed.pbFormat, offered.pbFormat, offered.cbFormat) == 0;
}

}  // namespace testdevices
