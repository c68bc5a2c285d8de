// Phase 3: instrument lists, and the instrument entry format the last phase shares.
// An instrument entry is three words: word 0 (its low byte is the type byte), the data word and
// the third word. Type byte bits 0-2 are the type number (0-4 valid: 0 sample, 3 wave table,
// 1, 2 and 4 no data); bit 4 (reverse) and bit 5 (compressed) mark sample voices and leave the
// entry valid; bit 6 means a nested list with a key map, bit 7 a nested list. A list is the run
// of valid entries from its start, at most 128, with no terminator of its own; it is copied
// unchanged (phase 4 relocates the entries' addresses). Each song header's instrument list
// pointer is followed when its top byte is 0x08 or 0x09.
// The sound engine indexes two kinds of nested list past their first invalid entry, so those are
// copied as far as it can index them: a drum kit (reached through bit 0x80 alone) by the note's
// key, all 128 entries; a key-split list (bit 0x40) through its key map, up to the highest entry
// the key map names (a byte: at most 256 entries). A list keeps the shape it was first met with.
#pragma once

#include <cstdint>

#include "transfer/frame.h"

// The entries of one list as the engine copies them, 12 bytes each as in the source.
struct InstrumentListEntries {
  uint32_t count;
  uint32_t validCount;  // entries before the first invalid one: the rest are copied as bytes
  bool named[kMaxSplitEntries];  // key-split lists: entries the key map names
  uint8_t bytes[kMaxSplitEntries * kEntrySize];
};

// False when word 0 is 0 or its type number is above 4.
bool IsValidInstrumentEntry(uint32_t word0);

// Reads the list at listAddress as a list of that shape is copied (keyMap: a key-split list's key
// map address); the one place the end of a list is decided, so the copy and the walk over it see
// the same entries.
void ReadInstrumentList(TransferState& state, uint32_t listAddress, ListShape shape,
                        uint32_t keyMap, InstrumentListEntries& list);

// Copies the list just placed in ListTable slot slot, of that shape, to the OutputCursor, and
// records the shape for the walk. Positions both streams itself.
bool CopyInstrumentList(TransferState& state, uint32_t slot, ListShape shape, uint32_t keyMap);

// Places the list of each of the SongHeaderCount song headers in the ListTable, fills the output
// headers' pointers and sets ListCount.
bool TransferInstrumentLists(TransferState& state);
