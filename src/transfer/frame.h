// What the four phases of a transfer share: the state of one call, the relocation tables, block
// placement, and source and output access by cartridge address.
// Every block is placed once, on a multiple of 4 at the OutputCursor (zero bytes fill the gap);
// each pointer slot that names it receives its output address. Slots behind the cursor are
// written later, once the block they name is placed.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/address.h"
#include "image/stream_io.h"
#include "transfer/transfer.h"

inline constexpr uint32_t kTableSlots = 1024;
// Limits of the records: an instrument list holds at most 128 entries of 12 bytes (a key-split
// list up to 256, as many as a key map byte can name), a song header at most 255 track slots (its
// track count is a byte).
inline constexpr uint32_t kMaxListEntries = 128;
inline constexpr uint32_t kMaxSplitEntries = 256;
inline constexpr uint32_t kEntrySize = 12;
inline constexpr uint32_t kMaxTracks = 255;

// Source address -> output address of each block placed; a source address of 0 marks a free
// slot, and slots fill strictly from the front. The index finds a placed address's slot: slot + 1
// at the place its address hashes to or the first one after it that is not taken (0: none).
inline constexpr uint32_t kIndexSlots = 2 * kTableSlots;
struct RelocationTable {
  uint32_t sourceAddress[kTableSlots];
  uint32_t outputAddress[kTableSlots];
  uint32_t count;  // slots taken
  uint16_t index[kIndexSlots];
};

// Output bytes behind the cursor held in memory while their pointer slots are filled in, then
// written in one go: a header's track slots, or the entries of the list being walked. Each write
// elsewhere behind the cursor costs a seek and a flush of the stream.
inline constexpr uint32_t kSlotBufferSize = kMaxSplitEntries * kEntrySize;
static_assert(kSlotBufferSize >= 4 * kMaxTracks, "a song header's track slots must fit");
struct SlotBuffer {
  uint32_t offset;  // file offset of bytes[0]
  uint32_t length;  // 0: closed
  uint8_t bytes[kSlotBufferSize];
};

// How far a list is copied: a song's list or a nested list as read up to its first invalid entry,
// a drum kit, or a key-split list (see the instrument list unit).
enum class ListShape : uint8_t { kPlain, kDrumKit, kKeySplit };

// Sample length words kept by header address, a power of 2.
inline constexpr uint32_t kLengthWords = 1024;

// All state of one transfer, owned by the call.
struct TransferState {
  std::FILE* source;
  const uint8_t* sourceBytes;  // a measuring run's source in memory, read instead of the stream
  uint32_t songListAddress;
  const SongSelection* selection;  // null: every song of the list
  uint64_t sourceSize;
  uint64_t sourcePosition;  // file offset of the next source byte
  std::FILE* destination;   // null: a measuring run, which writes and prints nothing
  uint32_t OutputCursor;    // address of the next byte appended to the output
  RelocationTable BlockTable;
  RelocationTable ListTable;
  ListShape listShape[kTableSlots];  // per ListTable slot, as the list was copied
  uint32_t listKeyMap[kTableSlots];  // per ListTable slot: a key-split list's key map address
  uint32_t SongCount;
  uint32_t SongHeaderCount;
  uint32_t ListCount;
  TransferResult failure;
  // Where the source stream stands (reads past the source's end move only sourcePosition), so a
  // seek to that spot or a little beyond it can be skipped; trusted while sourceStreamKnown and
  // the stream shows no failed read.
  uint64_t sourceStreamOffset;
  bool sourceStreamKnown;
  bool destinationAtCursor;  // the destination stream stands at the OutputCursor
  SlotBuffer slots;
  // Length words read to learn whether a sample lies in the source, by its header's address (0:
  // none): the walk asks about the same samples again and again, each a seek away.
  uint32_t lengthAddress[kLengthWords];
  uint32_t lengthWord[kLengthWords];
};

enum class Placement { kAlreadyPlaced, kPlacedNow, kFailed };

// Looks sourceAddress up in table (a match is tested before the free slot, so 0 finds the first
// free slot's 0). On a match writes the recorded output address into the pointer slot at file
// offset slotOffset. Otherwise zero-fills the output to a multiple of 4, writes the OutputCursor
// into the slot and records the pair: the caller then appends the block. kFailed (state.failure
// set) when the table is full or the fill leaves the window.
Placement PlaceBlock(TransferState& state, RelocationTable& table, uint32_t sourceAddress,
                     uint32_t slotOffset);

// The slot of table that holds sourceAddress, or else the first free one (the one PlaceBlock
// fills next); kTableSlots when the table is full.
uint32_t FindBlockSlot(const RelocationTable& table, uint32_t sourceAddress);

// The source address of entry i of the copy's song list.
uint32_t SongEntryAddress(const TransferState& state, uint32_t i);

// Source access, positioned by cartridge address; bytes past the source's end read as 0. A seek
// that fails records kReadFailed.
void SeekSource(TransferState& state, uint32_t address);
uint32_t ReadSourceU32(TransferState& state);

// The length word (the fourth word) of the sample header at address, read once per address and
// kept; leaves the source position unspecified.
uint32_t SampleLengthWord(TransferState& state, uint32_t address);

// One byte; tracks are copied a byte at a time, so this one is inline.
inline uint32_t ReadSourceU8(TransferState& state) {
  if (state.sourcePosition >= state.sourceSize) {
    ++state.sourcePosition;
    return 0;
  }
  if (state.sourceBytes != nullptr) return state.sourceBytes[state.sourcePosition++];
  ++state.sourcePosition;
  ++state.sourceStreamOffset;
  return ReadU8(state.source);
}

// True when the source holds byteCount more bytes from the position.
inline bool SourceHolds(const TransferState& state, uint32_t byteCount) {
  return state.sourcePosition + byteCount <= state.sourceSize;
}

// Output behind the cursor. WriteSlot writes a word at a file offset, into the slot buffer when
// it lies there. OpenSlotBuffer puts length bytes (at most kSlotBufferSize) for the output at
// address into the buffer, zeros when bytes is null; FlushSlotBuffer writes them out.
void WriteSlot(TransferState& state, uint32_t slotOffset, uint32_t value);
void OpenSlotBuffer(TransferState& state, uint32_t address, const uint8_t* bytes, uint32_t length);
void FlushSlotBuffer(TransferState& state);

// Appends at the OutputCursor: each checks the 32 MiB window first and advances the cursor.
bool AppendU32(TransferState& state, uint32_t value);
bool AppendBytes(TransferState& state, const uint8_t* bytes, uint32_t byteCount);
// Copies byteCount bytes from the source's position to the end of the output.
bool AppendSourceBytes(TransferState& state, uint32_t byteCount);

// False (state.failure set) when the seek fails.
bool MoveDestinationToCursor(TransferState& state);

// Checks that byteCount more bytes stay inside the 32 MiB window and brings the destination to
// the cursor; false, with the failure recorded, when either fails.
inline bool ReserveOutput(TransferState& state, uint64_t byteCount) {
  // The cursor started at or above the cartridge bit; its distance from it is the file offset
  // the next byte takes.
  const uint64_t offset = static_cast<uint64_t>(state.OutputCursor) - kCartridgeBase;
  if (offset + byteCount > kWindowSize) {
    state.failure = TransferResult::kOutputTooLarge;
    return false;
  }
  return state.destinationAtCursor || MoveDestinationToCursor(state);
}

// One byte; inline for the same reason as ReadSourceU8.
inline bool AppendU8(TransferState& state, uint8_t value) {
  if (!ReserveOutput(state, 1)) return false;
  if (state.destination != nullptr) WriteU8(state.destination, value);
  state.OutputCursor += 1;
  return true;
}
