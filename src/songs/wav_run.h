// "sonvault-songs <image or bank> --wav <songs>...": renders the named songs (numbers, ranges
// "10-20", "all") as the game's sound engine plays them into "<file name without
// extension>-<K>.wav" in the working folder, each written under a temporary name and moved into
// place when whole.
#pragma once

#include <cstdio>

#include "songs/song_dialogue.h"

// Renders the songs argv[3...] name of the open image argv[1], read into source, closes it and
// reads one character; 0 when every one was written, 1 after an error line.
int RenderSongs(std::FILE* image, int argc, char** argv, SourceSongs& source);
