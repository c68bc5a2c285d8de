#include "transfer/frame.h"

#include <algorithm>
#include <iterator>

#include "image/address.h"
#include "image/audio_locator.h"
#include "image/platform.h"
#include "transfer/instrument_data.h"
#include "transfer/instrument_lists.h"
#include "transfer/song_data.h"
#include "transfer/song_list.h"

namespace {

constexpr uint32_t kBankHeaderSize = 16;
constexpr size_t kCopyChunk = 1 << 14;
// A hop forward of up to this many bytes reads through the stream's buffer instead of seeking:
// even a seek inside the buffer costs a system call.
constexpr uint64_t kSkipLimit = 1024;

void ClearTable(RelocationTable& table) {
  std::fill(std::begin(table.sourceAddress), std::end(table.sourceAddress), 0u);
  std::fill(std::begin(table.outputAddress), std::end(table.outputAddress), 0u);
  std::fill(std::begin(table.index), std::end(table.index), uint16_t{0});
  table.count = 0;
}

uint32_t IndexStart(uint32_t sourceAddress) { return (sourceAddress * 0x9E3779B1u) >> 21; }
static_assert(kIndexSlots == 1u << (32 - 21), "the hash covers the index");

// The first slot, from slot 0 on, that holds sourceAddress or is free (0); kTableSlots when there
// is none. An address is found through the index; 0 is never placed, so it finds the free slot.
uint32_t FindSlot(const RelocationTable& table, uint32_t sourceAddress) {
  for (uint32_t at = IndexStart(sourceAddress); sourceAddress != 0; at = (at + 1) % kIndexSlots) {
    const uint32_t slot = table.index[at];
    if (slot == 0) break;
    if (table.sourceAddress[slot - 1] == sourceAddress) return slot - 1;
  }
  return table.count;
}

// Takes slot k, the first free one, for sourceAddress.
void TakeSlot(RelocationTable& table, uint32_t k, uint32_t sourceAddress) {
  table.sourceAddress[k] = sourceAddress;
  uint32_t at = IndexStart(sourceAddress);
  while (table.index[at] != 0) at = (at + 1) % kIndexSlots;
  table.index[at] = static_cast<uint16_t>(k + 1);
  table.count = k + 1;
}

// A read or write error anywhere so far ends the run at the next phase boundary. A read error
// outranks what the phase reported: the zeros read in place of the data may have misled it.
bool CheckStreams(TransferState& state, bool phaseOk) {
  if (state.source != nullptr && std::ferror(state.source)) {
    state.failure = TransferResult::kReadFailed;
  } else if (state.failure == TransferResult::kOk && state.destination != nullptr &&
             std::ferror(state.destination)) {
    state.failure = TransferResult::kWriteFailed;
  }
  return phaseOk && state.failure == TransferResult::kOk;
}

}  // namespace

namespace {

// A line of the run's console; a measuring run prints nothing.
void Announce(const TransferState& state, const char* line) {
  if (state.destination != nullptr) std::puts(line);
}

TransferResult Transfer(TransferState& state, uint32_t baseAddress, bool extractMode) {
  state.failure = TransferResult::kOk;
  // The source's end is fixed now, so a source that is also the destination reads the same.
  // Nothing past the cartridge window is ever read: no address reaches it.
  if (state.sourceBytes == nullptr) {
    const int64_t size = StreamSize(state.source);
    if (size < 0) return state.failure = TransferResult::kReadFailed;
    state.sourceSize = static_cast<uint64_t>(size);
  }
  state.sourceSize = std::min(state.sourceSize, uint64_t{kWindowSize});

  baseAddress = AlignedBase(baseAddress);
  ClearTable(state.BlockTable);
  ClearTable(state.ListTable);
  if (extractMode) {
    // The bank header is the arrangement the locator looks for, so a bank is a valid source.
    WriteSlot(state, FileOffset(baseAddress),
              FileOffset(baseAddress) + kCartridgeBase + kBankHeaderSize);
    for (uint32_t i = 0; i < 3; ++i) {
      WriteSlot(state, FileOffset(baseAddress) + 4 + 4 * i, kSignature[i]);
    }
    baseAddress += kBankHeaderSize;
  }

  Announce(state, "Transferring Song List...");
  state.OutputCursor = baseAddress | kCartridgeBase;
  if (!CheckStreams(state, TransferSongList(state))) return state.failure;

  Announce(state, "Transferring Song Data...");
  if (!CheckStreams(state, TransferSongData(state, baseAddress))) return state.failure;

  Announce(state, "Transferring Instrument Lists...");
  if (!CheckStreams(state, TransferInstrumentLists(state))) return state.failure;

  // Song headers and instrument data never share copies.
  ClearTable(state.BlockTable);
  Announce(state, "Transferring Instrument Data...");
  CheckStreams(state, TransferInstrumentData(state));
  return state.failure;
}

}  // namespace

TransferResult TransferAudioData(std::FILE* source, uint32_t songListAddress,
                                 std::FILE* destination, uint32_t baseAddress, bool extractMode,
                                 const SongSelection* selection) {
  TransferState state{};
  state.source = source;
  state.songListAddress = songListAddress;
  state.selection = selection;
  state.destination = destination;
  return Transfer(state, baseAddress, extractMode);
}

TransferResult MeasureAudioData(const uint8_t* source, uint64_t sourceSize,
                                uint32_t songListAddress, const SongSelection* selection,
                                uint32_t& byteCount) {
  TransferState state{};
  state.sourceBytes = source;
  state.sourceSize = sourceSize;
  state.songListAddress = songListAddress;
  state.selection = selection;
  const TransferResult result = Transfer(state, kCartridgeBase, false);
  byteCount = state.OutputCursor - kCartridgeBase;
  return result;
}

uint32_t SongEntryAddress(const TransferState& state, uint32_t i) {
  const uint32_t song = state.selection == nullptr ? i : state.selection->songs[i];
  return state.songListAddress + 8 * song;
}

uint32_t FindBlockSlot(const RelocationTable& table, uint32_t sourceAddress) {
  return FindSlot(table, sourceAddress);
}

Placement PlaceBlock(TransferState& state, RelocationTable& table, uint32_t sourceAddress,
                     uint32_t slotOffset) {
  const uint32_t k = FindSlot(table, sourceAddress);
  if (k == kTableSlots) {
    state.failure = TransferResult::kTooManyBlocks;
    return Placement::kFailed;
  }
  if (table.sourceAddress[k] == sourceAddress) {
    WriteSlot(state, slotOffset, table.outputAddress[k]);
    return Placement::kAlreadyPlaced;
  }
  while (state.OutputCursor % 4 != 0) {
    if (!AppendU8(state, 0)) return Placement::kFailed;
  }
  WriteSlot(state, slotOffset, state.OutputCursor);
  TakeSlot(table, k, sourceAddress);
  table.outputAddress[k] = state.OutputCursor;
  return Placement::kPlacedNow;
}

namespace {

// Brings the source stream to offset without a seek when it stands there or a little before it.
bool SkipSourceTo(TransferState& state, uint64_t offset) {
  // A read that failed leaves the stream short of where sourceStreamOffset says.
  if (!state.sourceStreamKnown || std::feof(state.source) || std::ferror(state.source)) {
    return false;
  }
  if (offset < state.sourceStreamOffset) return false;
  const uint64_t distance = offset - state.sourceStreamOffset;
  if (distance == 0) return true;
  if (distance > kSkipLimit || offset > state.sourceSize) return false;
  unsigned char skipped[kSkipLimit];
  const size_t got = std::fread(skipped, 1, static_cast<size_t>(distance), state.source);
  state.sourceStreamOffset += got;
  if (got == distance) return true;
  state.sourceStreamKnown = false;
  return false;
}

}  // namespace

void SeekSource(TransferState& state, uint32_t address) {
  state.sourcePosition = FileOffset(address);
  if (state.sourceBytes != nullptr || SkipSourceTo(state, state.sourcePosition)) return;
  state.sourceStreamKnown = SeekStream(state.source, state.sourcePosition);
  state.sourceStreamOffset = state.sourcePosition;
  // The bytes read next would come from elsewhere.
  if (!state.sourceStreamKnown) state.failure = TransferResult::kReadFailed;
}

uint32_t ReadSourceU32(TransferState& state) {
  if (SourceHolds(state, 4) && state.sourceBytes != nullptr) {
    const uint32_t value = LoadU32(state.sourceBytes + state.sourcePosition);
    state.sourcePosition += 4;
    return value;
  }
  if (SourceHolds(state, 4)) {
    state.sourcePosition += 4;
    state.sourceStreamOffset += 4;
    return ReadU32(state.source);
  }
  uint32_t value = 0;
  for (int k = 0; k < 4; ++k) value |= ReadSourceU8(state) << (8 * k);
  return value;
}

uint32_t SampleLengthWord(TransferState& state, uint32_t address) {
  const uint32_t k = (address * 0x9E3779B1u) >> 22;
  static_assert(kLengthWords == 1u << (32 - 22), "the hash covers the kept words");
  if (address != 0 && state.lengthAddress[k] == address) return state.lengthWord[k];
  SeekSource(state, address + 12);
  const uint32_t word = ReadSourceU32(state);
  state.lengthAddress[k] = address;
  state.lengthWord[k] = word;
  return word;
}

namespace {

// A failed seek is a failed write: nothing is written where the stream happens to stand.
bool SeekDestination(TransferState& state, uint32_t offset) {
  state.destinationAtCursor = false;
  if (SeekStream(state.destination, offset)) return true;
  state.failure = TransferResult::kWriteFailed;
  return false;
}

}  // namespace

void WriteSlot(TransferState& state, uint32_t slotOffset, uint32_t value) {
  SlotBuffer& slots = state.slots;
  bool whole = true;
  for (uint32_t k = 0; k < 4; ++k) {
    const uint32_t at = slotOffset + k;
    if (slots.length != 0 && at >= slots.offset && at < slots.offset + slots.length) {
      slots.bytes[at - slots.offset] = static_cast<uint8_t>(value >> (8 * k));
    } else {
      whole = false;
    }
  }
  if (whole || state.destination == nullptr) return;
  if (SeekDestination(state, slotOffset)) WriteU32(state.destination, value);
}

void OpenSlotBuffer(TransferState& state, uint32_t address, const uint8_t* bytes, uint32_t length) {
  SlotBuffer& slots = state.slots;
  slots.offset = FileOffset(address);
  slots.length = std::min(length, kSlotBufferSize);
  if (bytes == nullptr) {
    std::fill(slots.bytes, slots.bytes + slots.length, uint8_t{0});
  } else {
    std::copy(bytes, bytes + slots.length, slots.bytes);
  }
}

void FlushSlotBuffer(TransferState& state) {
  SlotBuffer& slots = state.slots;
  if (slots.length == 0) return;
  if (state.destination != nullptr && SeekDestination(state, slots.offset)) {
    std::fwrite(slots.bytes, 1, slots.length, state.destination);
  }
  slots.length = 0;
}

bool MoveDestinationToCursor(TransferState& state) {
  // A measuring run has no stream: it stands wherever it needs to.
  if (state.destination == nullptr) return state.destinationAtCursor = true;
  state.destinationAtCursor = SeekDestination(state, FileOffset(state.OutputCursor));
  return state.destinationAtCursor;
}

bool AppendU32(TransferState& state, uint32_t value) {
  if (!ReserveOutput(state, 4)) return false;
  if (state.destination != nullptr) WriteU32(state.destination, value);
  state.OutputCursor += 4;
  return true;
}

bool AppendBytes(TransferState& state, const uint8_t* bytes, uint32_t byteCount) {
  if (!ReserveOutput(state, byteCount)) return false;
  if (state.destination != nullptr) std::fwrite(bytes, 1, byteCount, state.destination);
  state.OutputCursor += byteCount;
  return true;
}

bool AppendSourceBytes(TransferState& state, uint32_t byteCount) {
  if (!ReserveOutput(state, byteCount)) return false;
  if (state.destination == nullptr) {
    // Measuring: the bytes themselves do not matter.
    state.sourcePosition += byteCount;
    state.sourceStreamKnown = false;
    state.OutputCursor += byteCount;
    return true;
  }
  unsigned char chunk[kCopyChunk];
  uint32_t left = byteCount;
  while (left > 0) {
    const size_t want = std::min<size_t>(left, kCopyChunk);
    size_t got = 0;
    if (state.sourcePosition < state.sourceSize) {
      const size_t inFile =
          static_cast<size_t>(std::min<uint64_t>(want, state.sourceSize - state.sourcePosition));
      got = std::fread(chunk, 1, inFile, state.source);
      state.sourceStreamOffset += got;
      if (got < inFile) state.sourceStreamKnown = false;
    }
    std::fill(chunk + got, chunk + want, static_cast<unsigned char>(0));
    state.sourcePosition += want;
    if (std::fwrite(chunk, 1, want, state.destination) != want) {
      state.failure = TransferResult::kWriteFailed;
      return false;
    }
    left -= static_cast<uint32_t>(want);
  }
  state.OutputCursor += byteCount;
  return true;
}
