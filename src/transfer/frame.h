// The transfer engine's entry and the machinery its four phases share.
// TransferAudioData copies the audio data of a source image to a destination in four phases
// (song list, song data, instrument lists, instrument data), placing every shared block once on a
// multiple of 4 at the OutputCursor and writing its output address into each pointer slot that
// names it. The engine allocates nothing, throws nothing and reports a failure as its result.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/address.h"
#include "image/platform.h"

enum class TransferResult {
  kOk,
  kOutputTooLarge,  // a byte would land at a file offset past the 32 MiB window
  kTooManyBlocks,   // a 1025th distinct block in one relocation table
  kTrackPastEnd,    // a track stream reaches the end of the source before its end byte
  kWriteFailed,     // the destination stream reported a write error
};

// Runs the whole transfer. The base is made even; in extract mode the 16-byte bank header goes
// first. Bytes past the end of the source (its size when the call starts) read as 0. On failure
// the destination holds a partial output that the caller must discard.
TransferResult TransferAudioData(std::FILE* source, uint32_t songListAddress,
                                 std::FILE* destination, uint32_t baseAddress, bool extractMode);

inline constexpr uint32_t kTableSlots = 1024;

// Source address -> output address of each block placed; a source address of 0 marks a free
// slot, and slots fill strictly from the front.
struct RelocationTable {
  uint32_t sourceAddress[kTableSlots];
  uint32_t outputAddress[kTableSlots];
};

// Output bytes behind the cursor held in memory while their pointer slots are filled in, then
// written in one go: a header's track slots, or the entries of the list being walked. Each
// write elsewhere behind the cursor costs a seek and a flush of the stream.
inline constexpr uint32_t kPatchWindowSize = 128 * 12;
struct PatchWindow {
  uint32_t offset;  // file offset of bytes[0]
  uint32_t length;  // 0: closed
  uint8_t bytes[kPatchWindowSize];
};

// All state of one transfer, owned by the call.
struct TransferState {
  std::FILE* source;
  uint64_t sourceSize;
  uint64_t sourcePosition;  // file offset of the next source byte
  std::FILE* destination;
  uint32_t OutputCursor;  // address of the next byte appended to the output
  RelocationTable BlockTable;
  RelocationTable ListTable;
  uint32_t SongCount;
  uint32_t SongHeaderCount;
  uint32_t ListCount;
  TransferResult failure;
  // Where the source stream really stands (reads past the source's end move only
  // sourcePosition), so a seek to that spot or a little beyond it can be skipped; valid while
  // sourceStreamKnown, which a failed read clears.
  uint64_t sourceStreamOffset;
  bool sourceStreamKnown;
  bool destinationAtCursor;  // the destination stream stands at the OutputCursor
  PatchWindow window;
};

enum class Placement { kAlreadyPlaced, kPlacedNow, kFailed };

// Looks sourceAddress up in table (a match is tested before the free slot, so 0 finds the first
// free slot's 0). On a match writes the recorded output address into the pointer slot at file
// offset slotOffset. Otherwise zero-fills the output to a multiple of 4, writes the OutputCursor
// into the slot and records the pair: the caller then appends the block. kFailed (state.failure
// set) when the table is full or the fill leaves the window.
Placement PlaceBlock(TransferState& state, RelocationTable& table, uint32_t sourceAddress,
                     uint32_t slotOffset);

// Source access, positioned by cartridge address; bytes past the source's end read as 0.
void SeekSource(TransferState& state, uint32_t address);
inline uint32_t ReadSourceU8(TransferState& state);
uint32_t ReadSourceU32(TransferState& state);
inline bool SourceHolds(const TransferState& state, uint32_t byteCount);  // from the position

// Output behind the cursor. WriteSlot writes a word at a file offset, into the patch window when
// it lies there. The window opens over length bytes at address (the caller fills bytes[]) and is
// written out by FlushPatchWindow.
void WriteSlot(TransferState& state, uint32_t slotOffset, uint32_t value);
void OpenPatchWindow(TransferState& state, uint32_t address, uint32_t length);
void FlushPatchWindow(TransferState& state);

// Appends at the OutputCursor: each checks the 32 MiB window first and advances the cursor.
inline bool ReserveOutput(TransferState& state, uint64_t byteCount);
inline bool AppendU8(TransferState& state, uint8_t value);
bool AppendU32(TransferState& state, uint32_t value);
// Copies byteCount bytes from the source's current position to the end of the output.
bool AppendSourceBytes(TransferState& state, uint32_t byteCount);
void MoveDestinationToCursor(TransferState& state);

// Track streams are copied a byte at a time through these, so they are defined here, where the
// phases can inline them.

// One byte of the source stream, which stands inside the source; 0 when the read fails.
inline uint32_t ReadSourceStreamByte(TransferState& state) {
  const int byte = ReadByteUnlocked(state.source);
  if (byte == EOF) {
    state.sourceStreamKnown = false;
    return 0;
  }
  ++state.sourceStreamOffset;
  return static_cast<uint32_t>(byte);
}

inline uint32_t ReadSourceU8(TransferState& state) {
  if (state.sourcePosition >= state.sourceSize) {
    ++state.sourcePosition;
    return 0;
  }
  ++state.sourcePosition;
  return ReadSourceStreamByte(state);
}

inline bool SourceHolds(const TransferState& state, uint32_t byteCount) {
  return state.sourcePosition + byteCount <= state.sourceSize;
}

inline bool ReserveOutput(TransferState& state, uint64_t byteCount) {
  // The cursor started at or above the cartridge bit; its distance from it is the file offset
  // the next byte would take if no address wrapped.
  const uint64_t offset = static_cast<uint64_t>(state.OutputCursor) - kCartridgeBase;
  if (offset + byteCount > kWindowSize) {
    state.failure = TransferResult::kOutputTooLarge;
    return false;
  }
  if (!state.destinationAtCursor) MoveDestinationToCursor(state);
  return true;
}

inline bool AppendU8(TransferState& state, uint8_t value) {
  if (!ReserveOutput(state, 1)) return false;
  WriteByteUnlocked(state.destination, value);
  state.OutputCursor += 1;
  return true;
}
