#include "transfer/instrument_lists.h"

#include <algorithm>
#include <iterator>

#include "image/address.h"
#include "image/stream_io.h"

namespace {

constexpr uint32_t kKeyMapSize = 128;

// Marks the entries a key map names and returns how many entries reach the highest of them.
uint32_t ReadKeyMap(TransferState& state, uint32_t keyMap, bool (&named)[kMaxSplitEntries]) {
  std::fill(std::begin(named), std::end(named), false);
  // A key map address of 0 is no key map: the walk does not follow it either.
  if (keyMap == 0) return 0;
  SeekSource(state, keyMap);
  uint32_t reach = 0;
  for (uint32_t key = 0; key < kKeyMapSize; ++key) {
    const uint32_t entry = ReadSourceU8(state);
    named[entry] = true;
    reach = std::max(reach, entry + 1);
  }
  return reach;
}

}  // namespace

bool IsValidInstrumentEntry(uint32_t word0) { return word0 != 0 && (word0 & 0x07) <= 4; }

void ReadInstrumentList(TransferState& state, uint32_t listAddress, ListShape shape,
                        uint32_t keyMap, InstrumentListEntries& list) {
  uint32_t reach = 0;
  if (shape == ListShape::kDrumKit) reach = kMaxListEntries;
  if (shape == ListShape::kKeySplit) reach = ReadKeyMap(state, keyMap, list.named);
  SeekSource(state, listAddress);
  list.validCount = 0;
  uint32_t count = 0;
  for (bool valid = true; count < std::max(reach, kMaxListEntries); ++count) {
    const uint32_t word0 = ReadSourceU32(state);
    valid = valid && count < kMaxListEntries && IsValidInstrumentEntry(word0);
    if (valid) list.validCount = count + 1;
    // Past the first invalid entry only a list the engine indexes further goes on.
    if (!valid && count >= reach) break;
    uint8_t* entry = list.bytes + kEntrySize * count;
    StoreU32(entry, word0);
    StoreU32(entry + 4, ReadSourceU32(state));
    StoreU32(entry + 8, ReadSourceU32(state));
  }
  list.count = count;
}

bool CopyInstrumentList(TransferState& state, uint32_t slot, ListShape shape, uint32_t keyMap) {
  state.listShape[slot] = shape;
  state.listKeyMap[slot] = keyMap;
  InstrumentListEntries list;
  ReadInstrumentList(state, state.ListTable.sourceAddress[slot], shape, keyMap, list);
  return AppendBytes(state, list.bytes, kEntrySize * list.count);
}

bool TransferInstrumentLists(TransferState& state) {
  state.ListCount = 0;
  for (uint32_t j = 0; j < state.SongHeaderCount; ++j) {
    const uint32_t header = state.BlockTable.sourceAddress[j];
    const uint32_t output = state.BlockTable.outputAddress[j];
    SeekSource(state, header + 4);
    const uint32_t list = ReadSourceU32(state);
    if (!IsCartridgePointer(list)) continue;
    const Placement placement = PlaceBlock(state, state.ListTable, list, FileOffset(output + 4));
    if (placement == Placement::kFailed) return false;
    if (placement == Placement::kAlreadyPlaced) continue;
    if (!CopyInstrumentList(state, state.ListCount++, ListShape::kPlain, 0)) return false;
  }
  return true;
}
