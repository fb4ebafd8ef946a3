// The camera's picture: the test camera's own (moving colour bars, the frame number in
// cells), drawn top-down as V4L2 delivers it, in BGR24 or YUYV.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace v4l2camera {

// Bytes of one frame, or 0 for a format the camera does not draw.
size_t FrameBytes(uint32_t pixelFormat, uint32_t width, uint32_t height);

// Draws frame `number` into `out` (FrameBytes long). `scratch` keeps the BGR picture
// between calls, so a stream allocates once.
void DrawFrame(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t number, uint8_t* out,
               std::vector<uint8_t>& scratch);

// One row of BGR pixels as YUYV, BT.601 limited range; a chroma pair is the mean of the
// two pixels' chroma. `width` is even.
void BgrRowToYuyv(const uint8_t* bgr, uint32_t width, uint8_t* yuyv);

}  // namespace v4l2camera
