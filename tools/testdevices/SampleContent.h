// What the test devices put in their samples: rules a test can check byte for byte.
// No COM here, only memory.
#pragma once
#include <windows.h>
#include <cstdint>

namespace testdevices {

constexpr unsigned kSequenceModulus = 251;  // prime, so no buffer or block size lines up with it

// Audio: byte i of the stream since Run from Stopped is (i mod 251), whatever the buffer cut.
void FillByteSequence(BYTE* data, long size, uint64_t firstByteIndex);

// Audio, listening mode: a sine tone at a quarter of full scale on every channel.
// firstFrame counts sample frames since Run from Stopped.
void FillTone(BYTE* data, long size, int channels, int samplesPerSec, int bitsPerSample, int toneHz,
              uint64_t firstFrame);

enum class PixelFormat { Rgb24, I420, Rgb555, Rgb32 };

// Video: colour bars scrolling left by 4 pixels a frame and a white band moving down by 2 rows
// a frame; then bytes 0..3 carry frameNumber, little-endian. Rows are width * bits / 8 bytes.
void FillVideoFrame(PixelFormat format, int width, int height, uint32_t frameNumber, BYTE* data,
                    long size);

}  // namespace testdevices
