// Nested instrument lists and key maps, for the instrument data walk.
// A nested entry (type number not 3, bit 0x40 or 0x80 set) has in its data word the address of a
// further instrument list, followed when its top byte is 0x08 or 0x09: the list is placed once in
// the ListTable (which the walk then visits in turn) and copied as far as the sound engine
// indexes it: as a key-split list with bit 0x40, as a drum kit without. With bit 0x40 the third
// word is the address of a 128-byte key map, followed whatever its top byte and placed in the
// BlockTable beside samples and wave tables.
#pragma once

#include <cstdint>

#include "transfer/frame.h"

// Handles entry entryIndex of the list in ListTable slot listSlot, given its three words.
bool TransferNestedEntry(TransferState& state, uint32_t listSlot, uint32_t entryIndex,
                         uint32_t word0, uint32_t nestedList, uint32_t keyMap);
