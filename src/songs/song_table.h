// What a game or a bank holds, song by song, as its sound engine reads it.
// A song list entry is 8 bytes: the song header pointer, the number of the music player that
// plays the song (16 bits) and one more halfword. A song header's first word holds its track
// count (byte 0) and priority (byte 2), then comes its instrument list pointer. The word in front
// of a game's song list pointer points to its player table: 12 bytes a player, two RAM pointers
// (0x02xxxxxx or 0x03xxxxxx) and then the player's track count; a song starts on its player with
// at most that many tracks. A bank has no player table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "songs/image_view.h"
#include "transfer/transfer.h"

inline constexpr uint32_t kMaxSongs = 4096;
inline constexpr uint32_t kMaxPlayers = 32;

struct SongInfo {
  uint32_t header;       // the song header pointer
  uint32_t second;       // the entry's second word: player number, then the other halfword
  uint32_t tracks;       // the header's track count
  uint32_t priority;     // the header's priority
  uint32_t instruments;  // the header's instrument list pointer
  uint32_t bytes;        // what a move of this song alone appends
  TransferResult copy;   // kOk when it can be copied
  uint32_t sharesWith;   // an earlier song with the same header, or count when none
};

struct SongTable {
  uint32_t listAddress;
  uint32_t count;
  SongInfo songs[kMaxSongs];
  bool isBank;           // the song list pointer opens the file
  uint32_t playerTable;  // 0: none found
  uint32_t playerCount;
  uint32_t playerTracks[kMaxPlayers];
  uint32_t allBytes;  // what a move of every song appends (sonvault's insert)
  TransferResult allCopy;
};

inline uint32_t PlayerOf(const SongInfo& song) { return song.second & 0xFFFF; }

using ImageBytes = std::vector<uint8_t>;

// Reads the file, up to the 32 MiB cartridge window, into bytes (the songs are measured in
// memory); false when its size or its bytes cannot be read.
bool ReadImage(std::FILE* file, ImageBytes& bytes);

// Reads the songs of the list at listAddress, whose pointer the locator found at file offset
// pointerOffset, and the player table in front of it; measures each song's move when measure is
// set. False when the list holds more than kMaxSongs songs; a read error shows in image.failed.
bool ReadSongTable(ImageView& image, uint32_t listAddress, uint64_t pointerOffset, bool measure,
                   SongTable& table);

// What a move of the selected songs of image appends.
TransferResult MeasureSongs(ImageView& image, uint32_t listAddress, const SongSelection* selection,
                            uint32_t& byteCount);
