#include "songs/listing.h"

#include <algorithm>
#include <cstdint>

#include "cli/console.h"
#include "cli/driver.h"
#include "render/renderer.h"
#include "songs/image_view.h"
#include "songs/song_dialogue.h"
#include "songs/song_table.h"
#include "transfer/transfer.h"

namespace {

// Track commands the Length column may run for the whole listing, so that no image makes it slow.
constexpr uint64_t kListingCommands = 64'000'000;

// Off the stack.
struct Listing {
  LazyImage lazy;              // the source as the Length column reads it
  SongPass passes[kMaxSongs];  // the Length column
};
Listing gListing;

// The Length column, 10 characters: one pass as m:ss and " loop" or five spaces; blank for an
// empty song or one that cannot be measured.
void FormatLength(const SongPass& pass, char* field, size_t size) {
  char time[8] = "long";
  if (pass.kind == PassKind::kUnmeasured) {
    std::snprintf(field, size, "%10s", "");
    return;
  }
  if (pass.kind != PassKind::kLong) FormatTime(SecondsOf(pass.frames), time, sizeof time);
  std::snprintf(field, size, "%5s%s", time, pass.loops ? " loop" : "     ");
}

// One pass of every song, its tracks read from the view as the sequencer first asks for them.
bool MeasurePasses(const SongTable& table, ImageView& source) {
  LazyImage& image = gListing.lazy;
  // Without the memory the lengths stay blank; the rest of the listing does not need them.
  if (!OpenLazyImage(image, source)) {
    std::fill_n(gListing.passes, table.count, SongPass{PassKind::kUnmeasured, false, 0});
    return true;
  }
  uint64_t budget = kListingCommands;
  const ImageSpan view{image.bytes, static_cast<uint32_t>(source.size), BringInChunks, &image};
  for (uint32_t k = 0; k < table.count; ++k) {
    const SongInfo& song = table.songs[k];
    SongPass& pass = gListing.passes[k];
    if (song.sharesWith != k) {
      pass = gListing.passes[song.sharesWith];
    } else if (song.tracks == 0) {
      pass = {PassKind::kUnmeasured, false, 0};
    } else {
      pass = MeasureSong(view, song.header, budget);
    }
  }
  CloseLazyImage(image);
  return !source.failed;
}

}  // namespace

int ListSongs(std::FILE* image, const char* path, SourceSongs& source) {
  SongTable& table = source.table;
  if (const char* line = ReadSourceSongs(image, true, source))
    return CloseAndFinish(image, line, kFailure);
  if (!MeasurePasses(table, source.view)) return CloseAndFinish(image, kReadInputError, kFailure);
  std::fclose(image);
  std::printf("Image File: %s\n", path);
  ShowSongList(table);
  ShowPlayers(table);
  std::puts("");
  std::puts(" Song  Player  Tracks  Priority  Length      Header      Instruments  Bytes");
  for (uint32_t k = 0; k < table.count; ++k) {
    const SongInfo& song = table.songs[k];
    char length[16];
    FormatLength(gListing.passes[k], length, sizeof length);
    std::printf("%5u  %6u  %6u  %8u  %s  0x%08X  0x%08X   ", k, PlayerOf(song), song.tracks,
                song.priority, length, song.header, song.instruments);
    if (song.copy == TransferResult::kOk) {
      std::printf("%u", song.bytes);
    } else {
      std::printf("- (%s)", TransferErrorMessage(song.copy));
    }
    if (song.tracks == 0) std::printf("  empty");
    if (song.sharesWith != k) std::printf("  same header as song %u", song.sharesWith);
    std::puts("");
  }
  std::puts("");
  if (table.allCopy == TransferResult::kOk) {
    std::printf("Total: %u %s; moving all of them appends %u bytes\n", table.count,
                Plural(table.count, "song", "songs"), table.allBytes);
  } else {
    std::printf("Total: %u %s; all of them cannot be moved at once (%s)\n", table.count,
                Plural(table.count, "song", "songs"), TransferErrorMessage(table.allCopy));
  }
  ReadConsoleChar();
  return kSuccess;
}
