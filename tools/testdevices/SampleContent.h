// What the test devices put in their samples: rules a test can check byte for byte.
// Portable: no platform headers, so a camera on another platform draws the same samples.
#pragma once
#include <cstdint>
#include <vector>

#include "PictureLayout.h"

namespace testdevices {

constexpr unsigned kSequenceModulus = 251;  // prime, so no buffer or block size lines up with it

// Audio: byte i of the stream since Run from Stopped is (i mod 251), whatever the buffer cut.
void FillByteSequence(uint8_t* data, long size, uint64_t firstByteIndex);

// Audio, listening mode: a sine tone at a quarter of full scale on every channel.
// firstFrame counts sample frames since Run from Stopped.
void FillTone(uint8_t* data, long size, int channels, int samplesPerSec, int bitsPerSample,
              int toneHz, uint64_t firstFrame);

// Stores picture row y (from the top), whose colours are `line`, into a whole frame in
// `format` (rows `stride` bytes apart, RGB bottom-up for a positive height).
void DrawRow(PixelFormat format, int width, int height, int y, const std::vector<Rgb>& line,
             uint8_t* data, long stride);

// Video: the picture of PictureLayout.h for frame `frameNumber`, stored in `format` (rows
// rowBytes apart, 0: RowBytes(format, width)); then bytes 0..3 carry frameNumber,
// little-endian. A `size` short of the frame gets the frame's first `size` bytes.
// `adjustment`: what the camera's controls do to the picture.
void FillVideoFrame(PixelFormat format, int width, int height, uint32_t frameNumber, uint8_t* data,
                    long size, long rowBytes = 0, const PictureAdjustment& adjustment = {});

}  // namespace testdevices
