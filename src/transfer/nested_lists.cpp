#include "transfer/nested_lists.h"

#include "image/address.h"
#include "transfer/instrument_lists.h"

namespace {

constexpr uint32_t kKeyMapBit = 0x40;
constexpr uint32_t kKeyMapSize = 128;

}  // namespace

bool TransferNestedEntry(TransferState& state, uint32_t listSlot, uint32_t entryIndex,
                         uint32_t word0, uint32_t nestedList, uint32_t keyMap) {
  const uint32_t outputEntry = state.ListTable.outputAddress[listSlot] + kEntrySize * entryIndex;
  if (!IsCartridgePointer(nestedList)) return true;
  const Placement list =
      PlaceBlock(state, state.ListTable, nestedList, FileOffset(outputEntry + 4));
  if (list == Placement::kFailed) return false;
  if (list == Placement::kPlacedNow) {
    // The engine indexes a list with a key map through it, and one without by the note's key.
    const ListShape shape = (word0 & kKeyMapBit) != 0 ? ListShape::kKeySplit : ListShape::kDrumKit;
    if (!CopyInstrumentList(state, state.ListCount++, shape, keyMap)) return false;
  }
  if ((word0 & kKeyMapBit) == 0) return true;

  const Placement map = PlaceBlock(state, state.BlockTable, keyMap, FileOffset(outputEntry + 8));
  if (map == Placement::kFailed) return false;
  if (map == Placement::kAlreadyPlaced) return true;
  SeekSource(state, keyMap);
  return AppendSourceBytes(state, kKeyMapSize);
}
