#include "songs/song_table.h"

#include "image/address.h"
#include "image/platform.h"
#include "image/stream_io.h"

namespace {

constexpr uint32_t kPlayerSize = 12;

bool IsRamPointer(uint32_t word) { return (word >> 24) == 0x02 || (word >> 24) == 0x03; }

// The word at a cartridge address; 0 past the end of the image.
uint32_t WordAt(std::FILE* image, uint64_t imageSize, uint32_t address) {
  if (FileOffset(address) + uint64_t{4} > imageSize || !SeekStream(image, FileOffset(address))) {
    return 0;
  }
  return ReadU32(image);
}

void ReadPlayers(std::FILE* image, uint64_t imageSize, uint64_t pointerOffset, SongTable& table) {
  table.playerTable = 0;
  table.playerCount = 0;
  table.isBank = pointerOffset == 0;
  if (pointerOffset < 4) return;  // a bank: nothing in front of its song list pointer
  const uint32_t players = WordAt(image, imageSize, static_cast<uint32_t>(pointerOffset - 4));
  if (!IsCartridgePointer(players)) return;
  while (table.playerCount < kMaxPlayers) {
    const uint32_t player = players + kPlayerSize * table.playerCount;
    if (!IsRamPointer(WordAt(image, imageSize, player)) ||
        !IsRamPointer(WordAt(image, imageSize, player + 4))) {
      break;
    }
    table.playerTracks[table.playerCount++] = WordAt(image, imageSize, player + 8) & 0xFF;
  }
  if (table.playerCount > 0) table.playerTable = players;
}

}  // namespace

bool ReadSongTable(std::FILE* image, uint32_t listAddress, uint64_t pointerOffset, bool measure,
                   SongTable& table) {
  const int64_t size = StreamSize(image);
  const uint64_t imageSize = size < 0 ? 0 : static_cast<uint64_t>(size);
  table.listAddress = listAddress;
  table.count = 0;
  for (;; ++table.count) {
    const uint32_t entry = listAddress + 8 * table.count;
    const uint32_t header = WordAt(image, imageSize, entry);
    if (!IsCartridgePointer(header)) break;
    if (table.count == kMaxSongs) return false;
    SongInfo& song = table.songs[table.count];
    song.header = header;
    song.second = WordAt(image, imageSize, entry + 4);
    const uint32_t first = WordAt(image, imageSize, header);
    song.tracks = first & 0xFF;
    song.priority = (first >> 16) & 0xFF;
    song.instruments = WordAt(image, imageSize, header + 4);
    song.sharesWith = table.count;
    for (uint32_t k = 0; k < table.count; ++k) {
      if (table.songs[k].header == header) {
        song.sharesWith = k;
        break;
      }
    }
  }
  ReadPlayers(image, imageSize, pointerOffset, table);
  if (!measure) return true;
  static SongSelection one;
  one.count = 1;
  for (uint32_t k = 0; k < table.count; ++k) {
    one.songs[0] = k;
    SongInfo& song = table.songs[k];
    song.copy = MeasureAudioData(image, listAddress, &one, song.bytes);
  }
  table.allCopy = MeasureAudioData(image, listAddress, nullptr, table.allBytes);
  return true;
}
