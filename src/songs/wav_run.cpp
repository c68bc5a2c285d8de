#include "songs/wav_run.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "cli/console.h"
#include "cli/destination.h"
#include "cli/driver.h"
#include "image/address.h"
#include "render/image_span.h"
#include "render/renderer.h"
#include "songs/image_view.h"
#include "songs/moves.h"
#include "songs/song_dialogue.h"
#include "songs/song_table.h"
#include "songs/wav_file.h"
#include "transfer/transfer.h"

namespace {

constexpr char kNoSongsToRender[] =
    "Error: no songs given; write them as 13, 10-20 or all (numbers as moves take them)";

// Off the stack.
struct RenderRun {
  ImageBytes bytes;  // the voices play from the whole image in memory
  bool chosen[kMaxSongs];
  Renderer renderer;
};
RenderRun gRender;

ImageSpan SpanOf(const ImageBytes& image) {
  const uint64_t size = image.size() < kWindowSize ? image.size() : kWindowSize;
  return {image.data(), static_cast<uint32_t>(size)};
}

// Marks the songs named by argv[3] on (numbers, ranges "10-20", "all"); the error line when one
// is not a song of the table.
const char* ReadChosenSongs(int argc, char** argv, const SongTable& table, char* error,
                            size_t size) {
  bool any = false;
  for (uint32_t k = 0; k < kMaxSongs; ++k) gRender.chosen[k] = false;
  for (int i = 3; i < argc; ++i) {
    uint32_t first = 0;
    uint32_t last = 0;
    char text[64];
    std::snprintf(text, sizeof text, "%s", argv[i]);
    char* dash = std::strchr(text, '-');
    if (dash != nullptr) *dash = '\0';
    bool ok = std::strlen(argv[i]) < sizeof text;
    if (std::strcmp(argv[i], "all") == 0) {
      last = table.count - 1;
      if (table.count == 0) return "Error: the image has no songs";
    } else {
      ok = ok && ParseNumber(text, first);
      last = first;
      if (dash != nullptr) ok = ok && ParseNumber(dash + 1, last) && first <= last;
    }
    if (!ok) {
      std::snprintf(error, size,
                    "Error: not a song or a range of songs: %s (write 13, 10-20 or all)", argv[i]);
      return error;
    }
    if (last >= table.count) {
      std::snprintf(error, size, "Error: the image has no song %u (its songs are 0 to %u)",
                    first < table.count ? last : first, table.count - 1);
      if (table.count == 0) std::snprintf(error, size, "Error: the image has no songs");
      return error;
    }
    for (uint32_t k = first; k <= last; ++k) gRender.chosen[k] = true;
    any = true;
  }
  return any ? nullptr : kNoSongsToRender;
}

// The file name of path without its folders and its last extension.
std::string StemOf(const char* path) {
  std::string name = path;
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

const char* StartError(SongStart start) {
  switch (start) {
    case SongStart::kHeaderOffImage:
      return "its header runs off the image";
    case SongStart::kTrackOffImage:
      return "its tracks run off the image";
    case SongStart::kNoInstruments:
      return "it has no instrument list in the image";
    default:
      return "";
  }
}

}  // namespace

int RenderSongs(std::FILE* image, int argc, char** argv, SourceSongs& source) {
  SongTable& table = source.table;
  if (const char* line = ReadSourceSongs(image, false, source)) {
    return CloseAndFinish(image, line, kFailure);
  }
  // The voices play from the whole image in memory.
  if (!ReadImage(image, gRender.bytes)) return CloseAndFinish(image, kReadInputError, kFailure);
  // The source stays open while the files are written, so that none of them takes its name.
  std::printf("Image File: %s\n", argv[1]);
  ShowSongList(table);
  std::puts("");
  char error[256];
  if (const char* line = ReadChosenSongs(argc, argv, table, error, sizeof error)) {
    return CloseAndFinish(image, line, kFailure);
  }
  const ImageSpan view = SpanOf(gRender.bytes);
  const std::string stem = StemOf(argv[1]);
  uint32_t failed = 0;
  for (uint32_t k = 0; k < table.count; ++k) {
    if (!gRender.chosen[k]) continue;
    const std::string name = stem + "-" + std::to_string(k) + ".wav";
    const SongStart start = StartSong(gRender.renderer, view, table.songs[k].header);
    if (start != SongStart::kOk && start != SongStart::kEmpty) {
      std::printf("Song %u: not rendered, %s\n", k, StartError(start));
      ++failed;
      continue;
    }
    uint64_t budget = UINT64_MAX;
    const SongPass pass = MeasureSong(view, table.songs[k].header, budget);
    Destination destination;
    if (!OpenBank(name, image, destination)) {
      std::printf("Song %u: not rendered, %s cannot be created\n", k, name.c_str());
      ++failed;
      continue;
    }
    uint64_t samples = 0;
    const bool complete = WriteSongWav(destination.stream, gRender.renderer, samples);
    const Ending ending =
        EndDestination(destination, complete ? TransferResult::kOk : TransferResult::kWriteFailed);
    if (ending.result != TransferResult::kOk) {
      std::printf("Song %u: not rendered, %s could not be written\n", k, name.c_str());
      ++failed;
      continue;
    }
    char length[24] = "longer than 10:00";
    if (pass.kind == PassKind::kUnmeasured) std::snprintf(length, sizeof length, "length unknown");
    if (pass.kind == PassKind::kEnds || pass.kind == PassKind::kLoops) {
      FormatTime(SecondsOf(pass.frames), length, sizeof length);
    }
    if (start == SongStart::kEmpty) {
      std::printf("Song %u: empty, no tracks; an empty file written to %s\n", k, name.c_str());
      continue;
    }
    char written[8];
    FormatTime(static_cast<uint32_t>((samples + kOutputRate / 2) / kOutputRate), written,
               sizeof written);
    std::printf("Song %u: %s, %s; %s written to %s\n", k, length, pass.loops ? "loops" : "ends",
                written, name.c_str());
  }
  std::fclose(image);
  std::puts("");
  if (failed == 0) return Finish("Finished", kSuccess);
  std::snprintf(error, sizeof error, "Error: %u %s could not be rendered", failed,
                Plural(failed, "song", "songs"));
  return Finish(error, kFailure);
}
