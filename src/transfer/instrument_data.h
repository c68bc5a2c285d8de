// Phase 4: the blocks instrument entries point to.
// Walks every list in the ListTable in slot order (lists appended meanwhile included) and, entry
// by entry, dispatches on the type byte: type number 3 is a wave table (16 bytes); else bit 0x40
// or 0x80 is a nested entry (handed on to the nested list unit); type numbers 1, 2 and 4 point to
// nothing; type number 0 is a sample: a 16-byte header whose last word W sets what follows
// (W = 0: two words; bit 31 clear: W data bytes and the byte after them, which the sound engine
// also reads; bit 31 set: (0x80000001 - (W & 0x7FFFFFFF)) >> 1 bytes). Data words are followed when
// their top byte is 0x08 or 0x09 and the sample (header and data) or wave table lies wholly inside
// the source; samples, wave tables and key maps share the BlockTable. A sample of more than
// 0x100000 data bytes prints its address ("%X").
#pragma once

#include "transfer/frame.h"

// Runs the walk; the BlockTable has been cleared for it.
bool TransferInstrumentData(TransferState& state);
