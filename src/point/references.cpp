#include "point/references.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

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

// How far ahead of itself a PC-relative load reaches: ARM's ldr rd, [pc, #imm12] loads the word
// at its address + 8 + imm12; Thumb's ldr rd, [pc, #imm8 * 4] at most 1024 bytes ahead.
constexpr size_t kLoadReach = 8 + 0xFFC;

// True when code loads the word at bytes[at] (a multiple of 4 bytes past a word-aligned start):
// a Thumb ldr rd, [pc, #4 * imm] (0x48xx to 0x4Fxx) at h loads ((h + 4) & ~3) + 4 * imm, an ARM
// ldr rd, [pc, #imm12] (0x?59Fxxxx) at h loads h + 8 + imm12.
bool IsLoadedByCode(const uint8_t* bytes, size_t at) {
  for (size_t imm = 0; imm <= 0xFF; ++imm) {
    for (size_t ahead : {4 * imm + 4, 4 * imm + 2}) {
      if (ahead > at) continue;
      const uint32_t half = bytes[at - ahead] | static_cast<uint32_t>(bytes[at - ahead + 1]) << 8;
      if ((half & 0xF800) == 0x4800 && (half & 0xFF) == imm) return true;
    }
  }
  for (size_t imm = 0; imm <= 0xFFC; imm += 4) {
    if (8 + imm > at) break;
    const uint32_t instruction = LoadU32(bytes + at - 8 - imm);
    if ((instruction & 0x0FFF0000) == 0x059F0000 && (instruction & 0xFFF) == imm) return true;
  }
  return false;
}

// A word inside the list is a reference only where code reaches it: it points at one entry's
// header word or player field, and a PC-relative load loads it. Data that merely falls in the
// list's range (a game's tables, music inserted after it) is left alone.
bool IsEntryReference(uint32_t word, uint32_t current, uint64_t listEnd, const uint8_t* bytes,
                      size_t at) {
  if (word <= current || word >= listEnd || (word - current) % 4 != 0) return false;
  return IsLoadedByCode(bytes, at);
}

// The first word from bytes[at] on (at steps by 4 up to end) that holds current or points inside
// the span bytes that follow it: nearly every word is neither. A group of words is tested at a
// time without a branch per word, so the compiler can vectorise the test.
size_t NextCandidate(const uint8_t* bytes, size_t at, size_t end, uint32_t current, uint32_t span) {
  constexpr size_t kGroup = 16;
  for (; at + 4 * kGroup <= end; at += 4 * kGroup) {
    uint32_t hits = 0;
    for (size_t j = 0; j < kGroup; ++j) {
      hits |= static_cast<uint32_t>(LoadU32(bytes + at + 4 * j) - current < span);
    }
    if (hits != 0) break;
  }
  while (at + 4 <= end && LoadU32(bytes + at) - current >= span) at += 4;
  return at;
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

bool CountSongs(std::FILE* image, uint32_t address, uint32_t& count) {
  count = 0;
  if (!Seek(image, FileOffset(address))) return false;
  while (IsCartridgePointer(ReadU32(image))) {
    ReadU32(image);
    ++count;
  }
  return !std::ferror(image);
}

bool FindReferences(std::FILE* image, uint32_t current, uint32_t songCount, uint32_t target,
                    ReferenceList& references) {
  references.count = 0;
  const uint64_t listEnd = current + uint64_t{kSongEntrySize} * songCount;
  if (!Seek(image, 0)) return false;
  // Each chunk is read behind the last kLoadReach bytes of the one before it, so the load of a
  // word is in memory with the word.
  static uint8_t buffer[kLoadReach + kChunkSize];
  size_t kept = 0;    // bytes carried over at the front of the buffer
  uint64_t base = 0;  // file offset of buffer[0]
  // One unsigned test passes the list's address and every word that points into the list.
  const uint32_t span = static_cast<uint32_t>(std::max<uint64_t>(listEnd - current, 1));
  for (;;) {
    // The console reaches no word past the cartridge window.
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(kChunkSize, kWindowSize - base - kept));
    const size_t got = std::fread(buffer + kept, 1, want, image);
    if (got < kChunkSize && std::ferror(image)) return false;
    const size_t end = kept + got;
    for (size_t at = NextCandidate(buffer, kept, end, current, span); at + 4 <= end;
         at = NextCandidate(buffer, at + 4, end, current, span)) {
      const uint32_t word = LoadU32(buffer + at);
      if (word != current && !IsEntryReference(word, current, listEnd, buffer, at)) continue;
      if (references.count == kMaxReferences) return false;
      references.items[references.count++] = {static_cast<uint32_t>(base + at), word,
                                              target + (word - current)};
    }
    if (got < kChunkSize) return true;
    kept = std::min(end, kLoadReach);
    std::memmove(buffer, buffer + end - kept, kept);
    base += end - kept;
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
