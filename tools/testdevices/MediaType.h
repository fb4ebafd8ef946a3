// AM_MEDIA_TYPE with an owned format block, and the formats the test devices produce.
#pragma once
#include <dshow.h>
#include <dvdmedia.h>

#include "PictureLayout.h"

namespace testdevices {

// MEDIASUBTYPE_I420 is declared only in a Media Foundation header; it is the usual FOURCC GUID.
extern const GUID kSubtypeI420;
constexpr DWORD kFourccI420 = MAKEFOURCC('I', '4', '2', '0');

// A video subtype the test devices produce or read: its layout, biBitCount and biCompression
// (BI_RGB or the FOURCC) and its name in device descriptions. A JPEG subtype (MJPG) gives the
// layout its pictures are drawn in before they are compressed; its frames vary in size, up to
// the layout's frame size.
struct VideoSubtype {
  const GUID& subtype;
  PixelFormat format;
  int bits;
  DWORD compression;
  const wchar_t* name;
  bool jpeg = false;
  // biBitCount and biCompression fit (RGB565 may also leave its standard masks implied: BI_RGB).
  bool Describes(const BITMAPINFOHEADER& picture) const {
    return picture.biBitCount == bits &&
           (picture.biCompression == compression ||
            (format == PixelFormat::Rgb565 && picture.biCompression == BI_RGB));
  }
};
const VideoSubtype* FindVideoSubtype(const GUID& subtype);  // null: not one of ours
const VideoSubtype* FindVideoSubtype(const wchar_t* name);

class MediaType {
public:
  MediaType();
  MediaType(const AM_MEDIA_TYPE& other);
  MediaType(const MediaType& other);
  MediaType& operator=(const MediaType& other);
  ~MediaType();

  const AM_MEDIA_TYPE& Get() const { return type; }
  AM_MEDIA_TYPE& Edit() { return type; }
  void SetFormat(const GUID& formatType, const void* data, ULONG size);

  // Deep copy into caller-owned storage (the contents are freed with FreeContents).
  HRESULT CopyTo(AM_MEDIA_TYPE* out) const;
  // A CoTaskMem-allocated copy, as IAMStreamConfig::GetFormat hands out.
  AM_MEDIA_TYPE* NewTaskMemCopy() const;

  const WAVEFORMATEX* Wave() const;        // null unless FORMAT_WaveFormatEx with a full block
  const VIDEOINFOHEADER* Video() const;    // null unless FORMAT_VideoInfo with a full block
  const VIDEOINFOHEADER2* Video2() const;  // null unless FORMAT_VideoInfo2 with a full block
  // The picture header and frame interval of either video format block, null for others.
  const BITMAPINFOHEADER* Bitmap() const;
  REFERENCE_TIME FrameInterval() const;

  static void FreeContents(AM_MEDIA_TYPE& type);

private:
  AM_MEDIA_TYPE type;
};

MediaType MakePcmType(int channels, int samplesPerSec, int bitsPerSample);
// An audio type whose format block is not a WAVEFORMATEX (FORMAT_None, no block).
MediaType MakeOpaqueAudioType();
// A video type of one of the subtypes FindVideoSubtype knows, with a FORMAT_VideoInfo or
// FORMAT_VideoInfo2 block; biSizeImage from the picture (FrameBytes); frameInterval in
// 100 ns units.
MediaType MakeVideoType(const GUID& subtype, int width, int height, REFERENCE_TIME frameInterval,
                        const GUID& formatType = FORMAT_VideoInfo);

// Whether a connection's proposed type (fields left GUID_NULL are wildcards) fits `offered`.
bool Matches(const AM_MEDIA_TYPE& proposed, const AM_MEDIA_TYPE& offered);

}  // namespace testdevices
