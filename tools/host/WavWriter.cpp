#include "WavWriter.h"

#include <cstring>

namespace {
void PutLittleEndian(unsigned char* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}
}  // namespace

WavWriter::~WavWriter() { Finish(); }

bool WavWriter::Open(const std::string& path, int channels, int samplesPerSec, int bitsPerSample) {
  file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const uint32_t blockAlign = static_cast<uint32_t>(channels * bitsPerSample / 8);
  unsigned char header[44];
  std::memcpy(header, "RIFF", 4);
  PutLittleEndian(header + 4, 36, 4);  // patched in Finish
  std::memcpy(header + 8, "WAVEfmt ", 8);
  PutLittleEndian(header + 16, 16, 4);
  PutLittleEndian(header + 20, 1, 2);  // PCM
  PutLittleEndian(header + 22, static_cast<uint32_t>(channels), 2);
  PutLittleEndian(header + 24, static_cast<uint32_t>(samplesPerSec), 4);
  PutLittleEndian(header + 28, blockAlign * static_cast<uint32_t>(samplesPerSec), 4);
  PutLittleEndian(header + 32, blockAlign, 2);
  PutLittleEndian(header + 34, static_cast<uint32_t>(bitsPerSample), 2);
  std::memcpy(header + 36, "data", 4);
  PutLittleEndian(header + 40, 0, 4);
  dataBytes = 0;
  return std::fwrite(header, 1, sizeof header, file) == sizeof header;
}

bool WavWriter::Append(const unsigned char* data, size_t length) {
  if (!file) return false;
  dataBytes += length;
  return std::fwrite(data, 1, length, file) == length;
}

bool WavWriter::Finish() {
  if (!file) return true;
  // A WAV data chunk is limited to 32 bits; an odd-sized chunk gets a pad byte.
  const uint32_t size = dataBytes > 0xFFFFFFF0u ? 0xFFFFFFF0u : static_cast<uint32_t>(dataBytes);
  bool ok = true;
  if (size & 1) ok = std::fputc(0, file) != EOF;
  unsigned char field[4];
  PutLittleEndian(field, 36 + size + (size & 1), 4);
  ok = ok && std::fseek(file, 4, SEEK_SET) == 0 && std::fwrite(field, 1, 4, file) == 4;
  PutLittleEndian(field, size, 4);
  ok = ok && std::fseek(file, 40, SEEK_SET) == 0 && std::fwrite(field, 1, 4, file) == 4;
  ok = (std::fclose(file) == 0) && ok;
  file = nullptr;
  return ok;
}
