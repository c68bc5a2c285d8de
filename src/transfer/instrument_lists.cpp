#include "transfer/instrument_lists.h"

#include "image/address.h"

bool IsValidInstrumentEntry(uint32_t word0) {
  if (word0 == 0) return false;
  if ((word0 & 0x07) > 4) return false;
  return (word0 & 0x30) == 0;
}

bool CopyInstrumentList(TransferState& state, uint32_t listAddress) {
  SeekSource(state, listAddress);
  for (uint32_t n = 0; n < kMaxListEntries; ++n) {
    const uint32_t word0 = ReadSourceU32(state);
    if (!IsValidInstrumentEntry(word0)) break;
    if (!AppendU32(state, word0)) return false;
    if (!AppendU32(state, ReadSourceU32(state))) return false;
    if (!AppendU32(state, ReadSourceU32(state))) return false;
  }
  return true;
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
