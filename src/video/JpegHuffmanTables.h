// Webcams commonly send MJPEG frames without Huffman tables (no DHT segment): the
// stream relies on the standard tables of the JPEG standard (its Annex K.3), which a
// still-image decoder need not assume. Such a frame gets the standard tables put in
// before it is decoded. Portable: bytes in, bytes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tesmo {

struct JpegHeaders {
  bool valid = false;             // starts with SOI and reaches a scan (SOS)
  bool hasHuffmanTables = false;  // a DHT segment comes before the first scan
  size_t scanStart = 0;           // the offset of the first SOS marker
};

// Walks the marker segments from SOI to the first SOS; never reads past `length`.
JpegHeaders ReadJpegHeaders(const uint8_t* data, size_t length);

// The DHT segment (marker included) holding the four standard tables: luminance
// and chrominance, DC and AC, as table ids 0 and 1.
const std::vector<uint8_t>& StandardHuffmanSegment();

// Copies the frame into `out` with StandardHuffmanSegment() put in before its first
// scan. False, leaving `out` empty, for data that is no JPEG (see ReadJpegHeaders).
bool AddStandardHuffmanTables(const uint8_t* data, size_t length, std::vector<uint8_t>& out);

}  // namespace tesmo
