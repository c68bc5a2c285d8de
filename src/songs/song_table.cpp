#include "songs/song_table.h"

#include <algorithm>

#include "image/address.h"
#include "image/platform.h"
#include "image/stream_io.h"
#include "songs/block_graph.h"

namespace {

constexpr uint32_t kPlayerSize = 12;

bool IsRamPointer(uint32_t word) { return (word >> 24) == 0x02 || (word >> 24) == 0x03; }

// The word at a cartridge address; 0 past the end of the image.
uint32_t WordAt(ImageView& image, uint32_t address) {
  const uint64_t at = FileOffset(address);
  return at + 4 <= image.size ? ViewU32(image, at) : 0;
}

void ReadPlayers(ImageView& image, uint64_t pointerOffset, SongTable& table) {
  table.playerTable = 0;
  table.playerCount = 0;
  table.isBank = pointerOffset == 0;
  if (pointerOffset < 4) return;  // a bank: nothing in front of its song list pointer
  const uint32_t players = WordAt(image, static_cast<uint32_t>(pointerOffset - 4));
  if (!IsCartridgePointer(players)) return;
  while (table.playerCount < kMaxPlayers) {
    const uint32_t player = players + kPlayerSize * table.playerCount;
    if (!IsRamPointer(WordAt(image, player)) || !IsRamPointer(WordAt(image, player + 4))) {
      break;
    }
    table.playerTracks[table.playerCount++] = WordAt(image, player + 8) & 0xFF;
  }
  if (table.playerCount > 0) table.playerTable = players;
}

}  // namespace

bool ReadImage(std::FILE* file, ImageBytes& bytes) {
  const int64_t size = StreamSize(file);
  if (size < 0 || !SeekStream(file, 0)) return false;
  // No address reaches past the cartridge window, so nothing there is read.
  bytes.resize(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), kWindowSize)));
  return std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

TransferResult MeasureSongs(ImageView& image, uint32_t listAddress, const SongSelection* selection,
                            uint32_t& byteCount) {
  if (!BlockGraphIsOn(image, listAddress)) StartBlockGraph(image, listAddress);
  return MeasureWithGraph(selection, byteCount);
}

bool ReadSongTable(ImageView& image, uint32_t listAddress, uint64_t pointerOffset, bool measure,
                   SongTable& table) {
  table.listAddress = listAddress;
  table.count = 0;
  for (;; ++table.count) {
    const uint32_t entry = listAddress + 8 * table.count;
    const uint32_t header = WordAt(image, entry);
    if (!IsCartridgePointer(header)) break;
    if (table.count == kMaxSongs) return false;
    SongInfo& song = table.songs[table.count];
    song.header = header;
    song.second = WordAt(image, entry + 4);
    const uint32_t first = WordAt(image, header);
    song.tracks = first & 0xFF;
    song.priority = (first >> 16) & 0xFF;
    song.instruments = WordAt(image, header + 4);
    song.sharesWith = table.count;
    for (uint32_t k = 0; k < table.count; ++k) {
      if (table.songs[k].header == header) {
        song.sharesWith = k;
        break;
      }
    }
  }
  ReadPlayers(image, pointerOffset, table);
  if (!measure) return true;
  StartBlockGraph(image, listAddress);
  static SongSelection one;
  one.count = 1;
  for (uint32_t k = 0; k < table.count; ++k) {
    SongInfo& song = table.songs[k];
    // A song measured alone appends what its header leads to, whatever its entry's other word.
    if (song.sharesWith != k) {
      song.copy = table.songs[song.sharesWith].copy;
      song.bytes = table.songs[song.sharesWith].bytes;
      continue;
    }
    one.songs[0] = k;
    song.copy = MeasureWithGraph(&one, song.bytes);
  }
  table.allCopy = MeasureWithGraph(nullptr, table.allBytes);
  return true;
}
