// Turns a delivered video frame into a picture a person can open: a BMP file.
// RGB frames are already DIB rows (bottom-up, as the device delivers them); I420
// frames are converted to 24-bit RGB for viewing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Converts a top-down I420 picture (Y plane, then U and V at half resolution) to
// bottom-up BGR rows of `stride` bytes, BT.601 studio range.
void I420ToBottomUpBgr(const uint8_t* i420, int width, int height, uint8_t* bgr, int stride);

// Bits per pixel of a format code, or 0 for one the library does not produce.
int BitsPerPixel(int formatCode);

// The bytes of a complete BMP file for a frame of `length` bytes, or an empty
// vector when the frame is shorter than the format needs.
std::vector<uint8_t> EncodeBmp(int width, int height, int formatCode, const uint8_t* frame,
                               int length);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
