#include "point/references.h"

#include <cstddef>

#include "cli/file_system.h"
#include "image/address.h"
#include "image/platform.h"
#include "image/stream_io.h"

namespace {

constexpr size_t kChunkSize = 1 << 16;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Seek(std::FILE* image, uint32_t offset) { return SeekStream(image, offset); }

// Writes each reference's new value, or its old one where it no longer holds that, and waits for
// the words to reach the disk. A word whose seek fails is not written: it would land elsewhere.
bool WriteWords(std::FILE* image, const ReferenceList& references, bool newValues) {
  bool ok = true;
  for (uint32_t k = 0; k < references.count; ++k) {
    const Reference& reference = references.items[k];
    const uint32_t value = newValues ? reference.newValue : reference.oldValue;
    if (!Seek(image, reference.offset)) {
      ok = false;
      continue;
    }
    if (!newValues && ReadU32(image) == value) continue;
    if (!Seek(image, reference.offset)) {
      ok = false;
      continue;
    }
    WriteU32(image, value);
  }
  return FlushToDisk(image) && !std::ferror(image) && ok;
}

bool HoldsOldValues(std::FILE* image, const ReferenceList& references) {
  for (uint32_t k = 0; k < references.count; ++k) {
    const Reference& reference = references.items[k];
    if (!Seek(image, reference.offset) || ReadU32(image) != reference.oldValue) return false;
  }
  return !std::ferror(image);
}

}  // namespace

bool ParseAddress(const char* text, uint32_t& address) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  uint32_t value = 0;
  int digits = 0;
  for (; *text != '\0'; ++text, ++digits) {
    const int digit = HexDigit(*text);
    if (digit < 0 || digits == 8) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  address = value;
  return digits > 0;
}

uint32_t CountSongs(std::FILE* image, uint32_t address) {
  if (!Seek(image, FileOffset(address))) return 0;
  uint32_t count = 0;
  while (IsCartridgePointer(ReadU32(image))) {
    ReadU32(image);
    ++count;
  }
  return count;
}

bool FindReferences(std::FILE* image, uint32_t current, uint32_t songCount, uint32_t target,
                    ReferenceList& references) {
  references.count = 0;
  const uint64_t listEnd = current + uint64_t{kSongEntrySize} * songCount;
  if (!Seek(image, 0)) return false;
  uint8_t chunk[kChunkSize];
  uint32_t base = 0;
  for (;;) {
    const size_t got = std::fread(chunk, 1, kChunkSize, image);
    if (got < kChunkSize && std::ferror(image)) return false;
    for (size_t at = 0; at + 4 <= got; at += 4) {
      const uint32_t word = LoadU32(chunk + at);
      if (word != current && (word < current || word >= listEnd)) continue;
      if (references.count == kMaxReferences) return false;
      references.items[references.count++] = {base + static_cast<uint32_t>(at), word,
                                              target + (word - current)};
    }
    if (got < kChunkSize) return true;
    // An offset past 4 GiB would not fit a reference: no cartridge image is that large.
    if (base > UINT32_MAX - 2 * kChunkSize) return false;
    base += kChunkSize;
  }
}

WriteOutcome WriteReferences(std::FILE* image, const ReferenceList& references) {
  if (WriteWords(image, references, true)) return WriteOutcome::kWritten;
  return RestoreReferences(image, references);
}

WriteOutcome RestoreReferences(std::FILE* image, const ReferenceList& references) {
  std::clearerr(image);
  WriteWords(image, references, false);
  std::clearerr(image);
  return HoldsOldValues(image, references) ? WriteOutcome::kFailedRestored
                                           : WriteOutcome::kFailedNotRestored;
}
