#include "transfer/nested_lists.h"

#include "image/address.h"
#include "transfer/instrument_lists.h"

namespace {

constexpr uint32_t kKeyMapBit = 0x40;
constexpr uint32_t kKeyMapSize = 128;

}  // namespace

bool TransferNestedEntry(TransferState& state, uint32_t listSlot, uint32_t entryIndex,
                         uint32_t word0) {
  const uint32_t sourceEntry = state.ListTable.sourceAddress[listSlot] + kEntrySize * entryIndex;
  const uint32_t outputEntry = state.ListTable.outputAddress[listSlot] + kEntrySize * entryIndex;

  const uint32_t nested = ReadSourceU32(state);
  if (!IsCartridgePointer(nested)) return true;
  const Placement list = PlaceBlock(state, state.ListTable, nested, FileOffset(outputEntry + 4));
  if (list == Placement::kFailed) return false;
  if (list == Placement::kPlacedNow) {
    ++state.ListCount;
    if (!CopyInstrumentList(state, nested)) return false;
  }
  if ((word0 & kKeyMapBit) == 0) return true;

  SeekSource(state, sourceEntry + 8);
  SeekDestination(state, outputEntry + 8);
  const uint32_t keyMap = ReadSourceU32(state);
  const Placement map = PlaceBlock(state, state.BlockTable, keyMap, FileOffset(outputEntry + 8));
  if (map == Placement::kFailed) return false;
  if (map == Placement::kAlreadyPlaced) return true;
  SeekSource(state, keyMap);
  SeekDestinationToCursor(state);
  return AppendSourceBytes(state, kKeyMapSize);
}
