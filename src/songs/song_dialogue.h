// What the runs of sonvault-songs share: reading a source's song list through a chunked view, and
// the lines that show song lists, players and times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "songs/image_view.h"
#include "songs/song_table.h"

inline constexpr char kTooManySongs[] = "Error: more than 4096 songs in one song list";

const char* Plural(uint32_t count, const char* one, const char* many);

// "Song list at: ..." and "Players: ..." with a line per player.
void ShowSongList(const SongTable& table);
void ShowPlayers(const SongTable& table);

// Only a cartridge address into the image names a song list whose entries can be read and moved,
// as sonvault-point asks of the list it moves the game from.
bool ListInImage(uint32_t listAddress, uint64_t imageSize);

// The source's songs and the view they were read through: large, so one per process, off the
// stack, whichever run it is.
struct SourceSongs {
  SongTable table;
  ImageView view;
};

// Finds the song list of the open image and reads its songs through source.view into
// source.table, measuring each song's move when measure is set; the error line when it cannot,
// else nullptr. The image stays open.
const char* ReadSourceSongs(std::FILE* image, bool measure, SourceSongs& source);

// Seconds as m:ss.
void FormatTime(uint32_t seconds, char* time, size_t size);
