// The camera's picture: the test camera's own (moving colour bars, the frame number in
// cells), drawn top-down with packed rows as V4L2 delivers it, in BGR24 or YUYV.
#pragma once

#include <cstddef>
#include <cstdint>

namespace v4l2camera {

// Bytes of one frame, or 0 for a format the camera does not draw.
size_t FrameBytes(uint32_t pixelFormat, uint32_t width, uint32_t height);

// Draws frame `number` into `out` (FrameBytes long), `brightness` added to every channel
// of every bar (as the test camera's brightness control does).
void DrawFrame(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t number,
               uint8_t* out, int brightness = 0);

}  // namespace v4l2camera
