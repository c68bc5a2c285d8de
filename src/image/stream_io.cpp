#include "image/stream_io.h"

#include "image/platform.h"

uint32_t ReadU8(std::FILE* stream) {
  const int byte = ReadByteUnlocked(stream);
  return byte == EOF ? 0u : static_cast<uint32_t>(byte);
}

uint32_t ReadU32(std::FILE* stream) {
  uint32_t value = 0;
  for (int k = 0; k < 4; ++k) {
    value |= ReadU8(stream) << (8 * k);
  }
  return value;
}

void WriteU8(std::FILE* stream, uint8_t value) { WriteByteUnlocked(stream, value); }

void WriteU32(std::FILE* stream, uint32_t value) {
  for (int k = 0; k < 4; ++k) {
    WriteU8(stream, static_cast<uint8_t>(value >> (8 * k)));
  }
}
