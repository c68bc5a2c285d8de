// What moving songs appends, measured on the blocks of the source read once and shared by every
// measure. A move places each distinct block once, on a multiple of 4: song headers with their
// tracks, then instrument lists, then what the lists name (samples, wave tables, key maps and
// nested lists). So a song's bytes are the sum over the distinct blocks it reaches, in the order
// the copy meets them; the graph keeps each header's size and each list's entries as the blocks
// they lead to, and a measure walks those instead of the source's bytes.
#pragma once

#include <cstdint>

#include "songs/song_table.h"
#include "transfer/transfer.h"

// Binds the graph to the image (held by reference until the next call), whose song list is at
// listAddress, and forgets the blocks of any image before.
void StartBlockGraph(ImageView& image, uint32_t listAddress);

// True when the graph was last started on this opening of this view, and this list.
bool BlockGraphIsOn(const ImageView& image, uint32_t listAddress);

// What a move of the selected songs appends from a multiple of 4 (every song of the list when
// selection is null): the same result, and when kOk the same byte count, as MeasureAudioData on
// the image's bytes. Allocates nothing, unless the graph's tables are full: then it reads the
// image into memory and measures with the engine.
TransferResult MeasureWithGraph(const SongSelection* selection, uint32_t& byteCount);
