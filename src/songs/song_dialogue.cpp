#include "songs/song_dialogue.h"

#include "cli/driver.h"
#include "image/address.h"
#include "image/audio_locator.h"

const char* Plural(uint32_t count, const char* one, const char* many) {
  return count == 1 ? one : many;
}

void ShowSongList(const SongTable& table) {
  std::printf("Song list at: 0x%08X (%u %s)\n", table.listAddress, table.count,
              Plural(table.count, "song", "songs"));
}

void ShowPlayers(const SongTable& table) {
  if (table.playerTable == 0) {
    std::puts(table.isBank ? "Players: none (a sound bank holds no player table)"
                           : "Players: no player table found");
    return;
  }
  std::printf("Players: %u (table at 0x%08X)\n", table.playerCount, table.playerTable);
  for (uint32_t p = 0; p < table.playerCount; ++p) {
    std::printf("  player %u: %u %s\n", p, table.playerTracks[p],
                Plural(table.playerTracks[p], "track", "tracks"));
  }
}

bool ListInImage(uint32_t listAddress, uint64_t imageSize) {
  return IsCartridgePointer(listAddress) && FileOffset(listAddress) < imageSize;
}

const char* ReadSourceSongs(std::FILE* image, bool measure, SourceSongs& source) {
  ImageView& view = source.view;
  uint64_t pointerOffset = 0;
  bool readFailed = false;
  const uint32_t listAddress = LocateAudioData(image, &pointerOffset, &readFailed);
  if (listAddress == 0) return readFailed ? kReadInputError : kNotFound;
  if (!OpenImageView(view, image)) return kReadInputError;
  if (!ListInImage(listAddress, view.size)) return kNotFound;
  if (!ReadSongTable(view, listAddress, pointerOffset, measure, source.table)) return kTooManySongs;
  if (view.failed) return kReadInputError;
  return nullptr;
}

void FormatTime(uint32_t seconds, char* time, size_t size) {
  std::snprintf(time, size, "%u:%02u", seconds / 60 % 100, seconds % 60);
}
