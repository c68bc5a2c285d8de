#include "transfer/instrument_data.h"

#include <cstdio>

#include "image/address.h"
#include "image/stream_io.h"
#include "transfer/instrument_lists.h"
#include "transfer/nested_lists.h"

namespace {

constexpr uint32_t kWaveTableType = 3;
constexpr uint32_t kNestedBits = 0xC0;
constexpr uint32_t kLargeSample = 0x100000;

uint32_t SampleDataLength(uint32_t lengthWord) {
  if ((lengthWord & 0x80000000u) == 0) return lengthWord;
  return (0x80000001u - (lengthWord & 0x7FFFFFFFu)) >> 1;
}

// Copies the sample at the source's position to the OutputCursor.
bool CopySample(TransferState& state, uint32_t sampleAddress) {
  uint32_t lengthWord = 0;
  for (int i = 0; i < 4; ++i) {
    lengthWord = ReadSourceU32(state);
    if (!AppendU32(state, lengthWord)) return false;
  }
  if (lengthWord == 0) {
    return AppendU32(state, ReadSourceU32(state)) && AppendU32(state, ReadSourceU32(state));
  }
  const uint32_t length = SampleDataLength(lengthWord);
  if (length > kLargeSample && state.destination != nullptr) std::printf("%X\n", sampleAddress);
  // The sound engine reads one byte past plain-length data (it interpolates towards it at the
  // end and at the loop point), so that byte travels with the sample.
  const uint32_t guard = (lengthWord & 0x80000000u) == 0 ? 1 : 0;
  return AppendSourceBytes(state, length + guard);
}

bool CopyWaveTable(TransferState& state) {
  for (int i = 0; i < 4; ++i) {
    if (!AppendU32(state, ReadSourceU32(state))) return false;
  }
  return true;
}

static_assert(sizeof(InstrumentListEntries::bytes) <= kSlotBufferSize,
              "a whole list must fit the slot buffer");

// A sample (its header and its data by the length rule) or a wave table is followed only when it
// lies wholly inside the source: the sound engine cannot read one that runs past the cartridge,
// and the bytes of an entry nobody plays may ask for any length.
bool SourceHoldsBlock(TransferState& state, uint32_t data, bool waveTable) {
  const uint64_t start = FileOffset(data);
  uint64_t size = 16;
  if (!waveTable) {
    if (start + size > state.sourceSize) return false;
    const uint32_t lengthWord = SampleLengthWord(state, data);
    size += lengthWord == 0 ? 8 : SampleDataLength(lengthWord);
  }
  return start + size <= state.sourceSize;
}

// Per BlockTable slot: true when a sample entry placed its block, which then lay in the source.
using SampleSlots = bool[kTableSlots];

// A sample or wave table entry whose data word, data, fills the pointer slot at slotOffset. One
// that does not lie in the source keeps its pointer, like one outside the cartridge space. A
// sample placed before is not measured again: most entries name a sample placed before.
bool TransferDataBlock(TransferState& state, uint32_t data, uint32_t slotOffset, bool waveTable,
                       SampleSlots& samples) {
  if (!IsCartridgePointer(data)) return true;
  const uint32_t slot = waveTable ? kTableSlots : FindBlockSlot(state.BlockTable, data);
  if (slot < kTableSlots && state.BlockTable.sourceAddress[slot] == data && samples[slot]) {
    WriteSlot(state, slotOffset, state.BlockTable.outputAddress[slot]);
    return true;
  }
  if (!SourceHoldsBlock(state, data, waveTable)) return true;
  const Placement placement = PlaceBlock(state, state.BlockTable, data, slotOffset);
  if (placement == Placement::kFailed) return false;
  if (placement == Placement::kAlreadyPlaced) return true;
  if (!waveTable) samples[slot] = true;  // PlaceBlock filled the free slot found above
  SeekSource(state, data);
  return waveTable ? CopyWaveTable(state) : CopySample(state, data);
}

// Walks the list in ListTable slot slot; its copy stays in the slot buffer while the entries'
// pointer slots are filled in.
bool TransferListEntries(TransferState& state, uint32_t slot, SampleSlots& samples) {
  const uint32_t output = state.ListTable.outputAddress[slot];
  const ListShape shape = state.listShape[slot];
  InstrumentListEntries list;
  ReadInstrumentList(state, state.ListTable.sourceAddress[slot], shape, state.listKeyMap[slot],
                     list);
  OpenSlotBuffer(state, output, list.bytes, kEntrySize * list.count);
  for (uint32_t k = 0; k < list.count; ++k) {
    const uint8_t* entry = list.bytes + kEntrySize * k;
    const uint32_t word0 = LoadU32(entry);
    const uint32_t data = LoadU32(entry + 4);
    const uint32_t third = LoadU32(entry + 8);
    const uint32_t dataSlot = FileOffset(output + kEntrySize * k + 4);
    const uint32_t typeNumber = word0 & 0x07;
    // Past the first invalid entry: the valid entries of a drum kit, those of a key-split list its
    // key map names, and of those only samples and wave tables; nested entries stay as bytes.
    if (k >= list.validCount) {
      if (!IsValidInstrumentEntry(word0)) continue;
      if (shape == ListShape::kKeySplit && !list.named[k]) continue;
      const bool waveTable = typeNumber == kWaveTableType;
      if (!waveTable && ((word0 & kNestedBits) != 0 || typeNumber != 0)) continue;
    }
    bool ok = true;
    if (typeNumber == kWaveTableType) {
      ok = TransferDataBlock(state, data, dataSlot, true, samples);
    } else if ((word0 & kNestedBits) != 0) {
      ok = TransferNestedEntry(state, slot, k, word0, data, third);
    } else if (typeNumber == 0) {
      ok = TransferDataBlock(state, data, dataSlot, false, samples);
    }
    if (!ok) return false;
  }
  FlushSlotBuffer(state);
  return true;
}

}  // namespace

bool TransferInstrumentData(TransferState& state) {
  // ListCount grows while the walk runs: nested lists join behind the others.
  SampleSlots samples{};
  for (uint32_t slot = 0; slot < state.ListCount; ++slot) {
    if (!TransferListEntries(state, slot, samples)) return false;
  }
  return true;
}
