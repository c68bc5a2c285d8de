// Phase 2: song headers and their track streams.
// A song header is a word whose low byte is the track count n, the instrument list pointer, then
// n track pointers. Each distinct header is placed once; its copy holds 0 for the instrument list
// (phase 3 fills it in) and the address of each track's copy. Tracks are never shared: every
// track slot of every header placed gets its own copy, right behind the previous one, no fill.
// A track stream is copied up to and including its end byte 0xB1; the 4-byte operand of 0xB2 and
// 0xB3 is an address, moved by the distance the track itself moved.
#pragma once

#include <cstdint>

#include "transfer/frame.h"

// Places the header of each of the SongCount entries of the output song list at baseAddress
// and fills the entries' pointers. Sets SongHeaderCount; the BlockTable then holds the headers in
// order of first reference.
bool TransferSongData(TransferState& state, uint32_t baseAddress);
