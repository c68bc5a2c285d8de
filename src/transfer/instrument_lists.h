// Phase 3: instrument lists, and the instrument entry format the last phase shares.
// An instrument entry is three words: word 0 (its low byte is the type byte), the data word and
// the third word. Type byte bits 0-2 are the type number (0-4 valid: 0 sample, 3 wave table,
// 1, 2 and 4 no data); bit 4 (reverse) and bit 5 (compressed) mark sample voices and leave the
// entry valid; bit 6 means a nested list with a key map, bit 7 a nested list. A list is the run
// of valid entries from its start, at most 128, with no terminator of its own; it is copied
// unchanged (phase 4 relocates the entries' addresses). Each song header's instrument list
// pointer is followed when its top byte is 0x08 or 0x09.
#pragma once

#include <cstdint>

#include "transfer/frame.h"

// The entries of one list as the engine copies them, 12 bytes each as in the source.
struct InstrumentListEntries {
  uint32_t count;
  uint8_t bytes[kMaxListEntries * kEntrySize];
};

// False when word 0 is 0 or its type number is above 4.
bool IsValidInstrumentEntry(uint32_t word0);

// Reads the list at listAddress up to its first invalid entry or its 128th; the one place the end
// of a list is decided, so the copy and the walk over it see the same entries.
void ReadInstrumentList(TransferState& state, uint32_t listAddress, InstrumentListEntries& list);

// Copies the list at listAddress to the OutputCursor. Positions both streams itself.
bool CopyInstrumentList(TransferState& state, uint32_t listAddress);

// Places the list of each of the SongHeaderCount song headers in the ListTable, fills the output
// headers' pointers and sets ListCount.
bool TransferInstrumentLists(TransferState& state);
