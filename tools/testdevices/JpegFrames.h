// Edits of a camera's JPEG frames, as the faults of real MJPEG cameras shape them: frames sent
// without their Huffman tables (the decoder must then use the standard ones), frames spoiled on
// the way. Portable (no platform headers), so a test can check frames with the same rules.
#pragma once
#include <cstddef>
#include <cstdint>

namespace testdevices {

// The offset of the first entropy-coded byte (just after the first SOS segment), or 0 when
// the markers before it do not parse.
size_t ScanDataOffset(const uint8_t* data, size_t size);

// The number of DHT segments before the scan (0 for a frame that relies on the standard tables).
int CountHuffmanSegments(const uint8_t* data, size_t size);

// True when the frame has Huffman tables and each of them is the standard table of the JPEG
// standard (Annex K.3) for its class and slot: only then may a frame go without them.
bool HasOnlyStandardHuffmanTables(const uint8_t* data, size_t size);

// Removes the DHT segments in place, as cameras that rely on the standard tables send frames;
// returns the new size (the old one when the frame has other tables or does not parse).
size_t RemoveHuffmanTables(uint8_t* data, size_t size);

// Spoils a frame as a bad cable does, so that a decoder must fail on it: the frame is cut just
// after the SOS header and what the scan would have held is lost. Returns the new size.
size_t CorruptJpeg(uint8_t* data, size_t size);

// Takes the EOI marker (FF D9) off the end, as several cameras send their frames: the
// picture is whole, the end marker missing. Returns the new size.
size_t DropEndMarker(const uint8_t* data, size_t size);

}  // namespace testdevices
