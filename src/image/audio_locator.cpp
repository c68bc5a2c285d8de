#include "image/audio_locator.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "image/address.h"
#include "image/platform.h"
#include "image/stream_io.h"

namespace {

// Reads the file in blocks but tests the candidates exactly as a word-by-word scan would: every
// multiple of 4 in increasing order, each needing all twelve signature bytes inside the file.
constexpr size_t kChunkSize = 1 << 16;
constexpr size_t kCarry = 16;  // a pointer and a partial signature cut by the chunk boundary
constexpr int kFirstByte = kSignature[0] & 0xFF;

bool IsSignatureAt(const uint8_t* bytes) {
  return LoadU32(bytes) == kSignature[0] && LoadU32(bytes + 4) == kSignature[1] &&
         LoadU32(bytes + 8) == kSignature[2];
}

}  // namespace

uint32_t LocateAudioData(std::FILE* stream, uint64_t* pointerOffset, bool* failed) {
  bool ignored = false;
  bool& failure = failed != nullptr ? *failed : ignored;
  failure = !SeekStream(stream, 0);
  if (failure) return 0;

  uint8_t buffer[kChunkSize + kCarry];
  size_t kept = 0;    // bytes carried over at the front of the buffer
  uint64_t base = 0;  // file offset of buffer[0]
  uint64_t next = 0;  // file offset of the next candidate for word 1
  for (;;) {
    // No address reaches past the cartridge window: the scan ends there as at the file's end.
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(kChunkSize, kWindowSize - base - kept));
    const size_t got = std::fread(buffer + kept, 1, want, stream);
    if (got < kChunkSize && std::ferror(stream)) {
      failure = true;
      return 0;
    }
    const uint64_t end = base + kept + got;
    while (next + 12 <= end) {
      // Only a candidate that starts with word 1's first byte can match: memchr finds the next
      // one far faster than a test of every word.
      const void* hit =
          std::memchr(buffer + (next - base), kFirstByte, static_cast<size_t>(end - 11 - next));
      if (hit == nullptr) {
        next = (end - 12) / 4 * 4 + 4;  // every candidate up to end - 12 failed
        break;
      }
      const uint64_t at = base + static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - buffer);
      next = (at + 3) / 4 * 4;
      if (next != at || next + 12 > end) continue;
      // Word 1 at offset 0 has no pointer in front of it: not a match.
      const uint8_t* candidate = buffer + (next - base);
      if (next >= 4 && IsSignatureAt(candidate)) {
        if (pointerOffset != nullptr) *pointerOffset = next - 4;
        return LoadU32(candidate - 4);
      }
      next += 4;
    }
    if (got < kChunkSize) return 0;  // end of file inside or before a partial match
    // Keep the pointer slot in front of the next candidate and everything after it.
    const uint64_t keepFrom = next >= 4 ? next - 4 : 0;
    kept = static_cast<size_t>(end - keepFrom);
    std::memmove(buffer, buffer + (keepFrom - base), kept);
    base = keepFrom;
  }
}
