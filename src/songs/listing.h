// "sonvault-songs <image>": the image's songs, its players and what moving each song costs, with
// the length of one pass through each song.
#pragma once

#include <cstdio>

#include "songs/song_dialogue.h"

// Lists the songs of the open image at path, read into source, closes it and reads one
// character; the status.
int ListSongs(std::FILE* image, const char* path, SourceSongs& source);
