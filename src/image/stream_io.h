// Little-endian values on open binary streams, one byte per library call.
// Reads and writes happen at the stream's current position and advance it; nothing here seeks.
// A byte that cannot be read (end of file, read error) reads as 0; outcomes are left on the
// stream's own end-of-file and error indicators for callers that need them.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/platform.h"

// One byte, widened; never negative.
inline uint32_t ReadU8(std::FILE* stream) {
  const int byte = ReadByteUnlocked(stream);
  return byte == EOF ? 0u : static_cast<uint32_t>(byte);
}

// Four bytes, least significant first.
inline uint32_t ReadU32(std::FILE* stream) {
  uint32_t value = 0;
  for (int k = 0; k < 4; ++k) value |= ReadU8(stream) << (8 * k);
  return value;
}

inline void WriteU8(std::FILE* stream, uint8_t value) { WriteByteUnlocked(stream, value); }

// Four bytes, least significant first.
inline void WriteU32(std::FILE* stream, uint32_t value) {
  for (int k = 0; k < 4; ++k) WriteU8(stream, static_cast<uint8_t>(value >> (8 * k)));
}

// The same word order for bytes already in memory.
inline uint32_t LoadU32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void StoreU32(uint8_t* bytes, uint32_t value) {
  for (int k = 0; k < 4; ++k) bytes[k] = static_cast<uint8_t>(value >> (8 * k));
}
