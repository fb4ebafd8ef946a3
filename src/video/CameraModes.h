// Reading what a camera offers and what a connection settled on: the capability
// list of its capture pin as CameraModes with their own media types, and the
// pixel format, size and row order of a video media type.
#pragma once

#include <optional>
#include <vector>

#include "Tesmo.h"
#include "common/MediaPlatform.h"
#include "common/MediaType.h"
#include "video/CameraModeChoice.h"

namespace tesmo {

// What a host's format code (kVideoRgb24, ...) asks for: its subtype, bit count and
// name; for a code that keeps the camera's own format, no subtype and 0 bits.
struct HostFormat {
  const GUID* subtype;
  int32_t bitCount;
  const char* name;  // for the error texts
};
HostFormat HostFormatOf(int32_t formatCode);

// The library's name for a video subtype; null for one it cannot convert
// (compressed, or unknown).
std::optional<PixelFormat> PixelFormatOfSubtype(const GUID& subtype);
// Motion JPEG, which the library decodes.
bool IsMotionJpegSubtype(const GUID& subtype);
// How a host is told a subtype (ListCameraModes, the statistics): the FOURCC, or for
// RGB the bit count (15 for RGB555, so that it differs from RGB565's 16).
unsigned int FormatCodeOfSubtype(const GUID& subtype);

// What a VideoInfo or VideoInfo2 media type says of its frames.
struct VideoTypeFacts {
  std::optional<PixelFormat> format;
  bool motionJpeg = false;
  int32_t width = 0;
  int32_t height = 0;      // rows, whatever the row order
  bool topDown = false;    // an RGB type with a negative height
  int32_t sampleBytes = 0; // the sample size the type states, 0 when it states none
};
// False for a type that is not video in one of the two formats or has no size.
bool ReadVideoType(const AM_MEDIA_TYPE& type, VideoTypeFacts& facts);

// The bitmap header and frame interval of a VideoInfo or VideoInfo2 type; null
// for any other.
BITMAPINFOHEADER* VideoHeaderOf(AM_MEDIA_TYPE& type, REFERENCE_TIME** interval = nullptr);

// The pin's capability list, one CameraMode and media type per VideoInfo or
// VideoInfo2 entry (other entries are left out); false when it lists nothing.
bool ReadCameraModes(IAMStreamConfig* config, std::vector<CameraMode>& modes,
                     std::vector<MediaType>& types);

// The modes of video device `deviceIndex` for the host (see ListCameraModes in
// Tesmo.h): each once, in the camera's order.
CaptureResult ListModesOfCamera(int deviceIndex, CameraModeInfo* modes, int capacity, int* count);

}  // namespace tesmo
