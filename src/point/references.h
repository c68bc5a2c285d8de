// Where a game image refers to its song list, and how those references are moved to another.
// The sound engine (and sometimes the game's own code) reaches the song list through 4-byte words
// on multiples of 4 that hold the list's address, and a few games' code also loads words that
// point inside it, at one entry's header word or player field. Pointing a game rewrites exactly
// these words: the list's address becomes the new list's, and a word inside the list the same
// place in the new list.
#pragma once

#include <cstdint>
#include <cstdio>

inline constexpr uint32_t kMaxReferences = 1024;
inline constexpr uint32_t kSongEntrySize = 8;

struct Reference {
  uint32_t offset;    // file offset of the word
  uint32_t oldValue;  // the word now
  uint32_t newValue;  // the word once pointed
};

struct ReferenceList {
  uint32_t count;
  Reference items[kMaxReferences];
};

// Reads a song list address written as sonvault prints it: hexadecimal, with or without 0x, any
// case, at most 8 digits, nothing else. False when text is not one.
bool ParseAddress(const char* text, uint32_t& address);

// The songs of the list at address, counted as a transfer counts them: entries from its start
// while the header pointer's top byte is 0x08 or 0x09; bytes past the end of the image read 0.
// False when the seek or a read fails: a count cut short would leave words inside the list behind.
bool CountSongs(std::FILE* image, uint32_t address, uint32_t& count);

// Collects, in file order, every word on a multiple of 4 that equals current, or that points at
// an entry's header word or player field of its songCount entries and that a PC-relative load
// (Thumb or ARM ldr from pc) loads; each paired with its value once pointed at target. Reads no
// further than the 32 MiB cartridge window. False on a read error or when there are more than
// kMaxReferences.
bool FindReferences(std::FILE* image, uint32_t current, uint32_t songCount, uint32_t target,
                    ReferenceList& references);

enum class WriteOutcome { kWritten, kFailedRestored, kFailedNotRestored };

// Writes every reference's new value and waits until they are on the disk. When a seek, a write
// or the wait fails, restores the old values as RestoreReferences does.
WriteOutcome WriteReferences(std::FILE* image, const ReferenceList& references);

// Writes back the old values where they changed, waits for the disk and reads them all back:
// kFailedRestored when the image is as it was (a word that cannot be reached counts as not).
WriteOutcome RestoreReferences(std::FILE* image, const ReferenceList& references);
