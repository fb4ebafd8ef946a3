// A standard PCM WAV file: RIFF header, "fmt " chunk, "data" chunk. The sizes in
// the header are filled in when the file is finished.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class WavWriter {
public:
  WavWriter() = default;
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  bool Open(const std::string& path, int channels, int samplesPerSec, int bitsPerSample);
  bool Append(const unsigned char* data, size_t length);
  // Writes the final sizes and closes the file.
  bool Finish();
  uint64_t DataBytes() const { return dataBytes; }

private:
  FILE* file = nullptr;
  uint64_t dataBytes = 0;
};
