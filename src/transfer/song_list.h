// Phase 1: the song list.
// A song list is a run of 8-byte entries: a song header pointer, then a word that is copied as
// it stands. The run ends at the first entry whose pointer's top byte is neither 0x08 nor 0x09;
// of that entry only the pointer is read. Each entry is copied with 0 in place of its pointer
// (phase 2 fills it in), and the copy ends with an entry of 8 zero bytes.
#pragma once

#include "transfer/frame.h"

// Copies the list, or the selected entries of it, to the OutputCursor; sets SongCount and leaves
// the OutputCursor past the zero entry.
bool TransferSongList(TransferState& state);
