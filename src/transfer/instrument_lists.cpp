#include "transfer/instrument_lists.h"

#include "image/address.h"
#include "image/stream_io.h"

bool IsValidInstrumentEntry(uint32_t word0) { return word0 != 0 && (word0 & 0x07) <= 4; }

void ReadInstrumentList(TransferState& state, uint32_t listAddress, InstrumentListEntries& list) {
  SeekSource(state, listAddress);
  list.count = 0;
  while (list.count < kMaxListEntries) {
    const uint32_t word0 = ReadSourceU32(state);
    if (!IsValidInstrumentEntry(word0)) break;
    uint8_t* entry = list.bytes + kEntrySize * list.count;
    StoreU32(entry, word0);
    StoreU32(entry + 4, ReadSourceU32(state));
    StoreU32(entry + 8, ReadSourceU32(state));
    ++list.count;
  }
}

bool CopyInstrumentList(TransferState& state, uint32_t listAddress) {
  InstrumentListEntries list;
  ReadInstrumentList(state, listAddress, list);
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
    ++state.ListCount;
    if (!CopyInstrumentList(state, list)) return false;
  }
  return true;
}
