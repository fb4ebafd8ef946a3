// How the MJPG frame fuzzer reads one input, shared with the seed writer so that each
// seed frame goes to a camera mode of its own size.
//
//   byte 0     the decode setting: kDecodeSettings[byte % kDecodeSettingCount]
//   byte 1     bits 0-1 the host's format (kHostFormats), bit 2 a guard page before
//              the buffers rather than after
//   byte 2     the converter's source format (kSourceFormats[byte % 12]), bit 7 a
//              top-down RGB source
//   byte 3     bits 0-1 the converter's target format, bit 2 as byte 1's
//   bytes 4, 5 the converter's source width and height, less one (1..256)
//   bytes 6, 7 the converter's target width and height, less one
//   then       the payload: an MJPG frame for the decoder, and the source frame's
//              bytes for the converter when there are enough of them
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "video/FrameConverter.h"

namespace mjpegfuzz {

constexpr size_t kHeaderBytes = 8;

// A camera mode and the host's size taken from it, with the DCT reduction the decoder
// should pick: the largest of 1/8, 1/4, 1/2 whose picture, centre-cropped to the
// host's aspect, still holds the host's size.
struct DecodeSetting {
  int32_t cameraWidth, cameraHeight, hostWidth, hostHeight;
  int denominator;
};

constexpr DecodeSetting kDecodeSettings[] = {
    {320, 240, 320, 240, 1},      // as it comes: neither cut nor scaled
    {320, 240, 640, 360, 1},      // top and bottom cut (320 x 180), scaled up
    {321, 241, 320, 240, 1},      // odd camera: one row cut, the odd width scaled
    {321, 241, 161, 121, 2},      // odd host (no I420), odd 161 x 121 decoded planes
    {640, 480, 320, 240, 2},      // half-scale decode is the host's size
    {640, 480, 176, 144, 2},      // half scale, sides cut to 294 x 240
    {640, 480, 80, 60, 8},        // 1/8 scale is the host's size
    {640, 480, 1280, 720, 1},     // cut to 640 x 360, scaled up
    {1280, 720, 640, 480, 1},     // sides cut to 960 x 720; half scale would be too small
    {1280, 720, 320, 240, 2},     // half scale, sides cut to 480 x 360
    {1280, 720, 160, 90, 8},      // 1/8 scale is the host's size
    {1920, 1080, 1920, 1080, 1},  // the largest mode a webcam has, whole
    {1920, 1080, 640, 480, 2},    // half scale, sides cut to 720 x 540
};
constexpr size_t kDecodeSettingCount = std::size(kDecodeSettings);

constexpr tesmo::PixelFormat kHostFormats[] = {tesmo::PixelFormat::Rgb24, tesmo::PixelFormat::Rgb32,
                                               tesmo::PixelFormat::Rgb555, tesmo::PixelFormat::I420};

constexpr tesmo::PixelFormat kSourceFormats[] = {
    tesmo::PixelFormat::Yuy2,    tesmo::PixelFormat::Uyvy,    tesmo::PixelFormat::Nv12,
    tesmo::PixelFormat::I420,    tesmo::PixelFormat::Yv12,    tesmo::PixelFormat::Rgb24,
    tesmo::PixelFormat::Rgb32,   tesmo::PixelFormat::Rgb555,  tesmo::PixelFormat::Rgb565,
    tesmo::PixelFormat::Jpeg420, tesmo::PixelFormat::Jpeg422, tesmo::PixelFormat::Jpeg444};
constexpr size_t kSourceFormatCount = std::size(kSourceFormats);

constexpr uint8_t kGuardBefore = 4;
constexpr uint8_t kTopDown = 0x80;

}  // namespace mjpegfuzz
