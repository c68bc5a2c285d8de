#include "songs/songs.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cli/console.h"
#include "cli/destination.h"
#include "cli/driver.h"
#include "cli/file_system.h"
#include "cli/program_info.h"
#include "image/address.h"
#include "image/audio_locator.h"
#include "image/platform.h"
#include "image/stream_io.h"
#include "point/references.h"
#include "songs/listing.h"
#include "songs/moves.h"
#include "songs/song_dialogue.h"
#include "songs/song_table.h"
#include "songs/wav_run.h"
#include "transfer/transfer.h"
#include "version.h"

namespace {

constexpr char kUsage[] =
    "Usage: sonvault-songs <image> [<target image> <move>... | --wav <songs>...]";
constexpr char kTargetNotFound[] = "Could not locate audio data in the target";
constexpr char kNoMoves[] =
    "Error: no moves given; write them as 3=5 (song 3 replaces song 5), 3=new";
constexpr char kTooManyMoves[] = "Error: too many moves (more than 256)";
constexpr char kNoReference[] =
    "Error: no reference to the target's song list found, so added songs cannot be reached";
constexpr char kReadError[] = "Error reading output file";
constexpr char kTooManyReferences[] =
    "Error: too many references to the target's song list (more than 1024)";
constexpr char kOverlap[] =
    "Error: the words the moves rewrite overlap one another, the song list pointer, the signature "
    "or the copy";
constexpr char kWavOption[] = "--wav";

// The tables of both images and the run's working lists, off the stack.
struct Run {
  SongTable target;
  Move moves[kMaxMoves];
  uint32_t moveCount;
  SongSelection selection;      // the distinct source songs, in the order of first mention
  uint32_t copyOf[kMaxMoves];   // per move: its song's entry in the copy's list
  uint32_t headers[kMaxMoves];  // per entry of the copy's list: its song header's copy
  ReferenceList words;          // the words rewritten below the target's old end
  ImageView targetView;
};
Run gRun;
SourceSongs gSource;

// Reads, checks and numbers the moves; the error line when they cannot be made.
const char* ReadMoves(int argc, char** argv, char* error, size_t size) {
  Run& run = gRun;
  run.moveCount = 0;
  run.selection.count = 0;
  if (argc <= 3) return kNoMoves;
  if (argc - 3 > static_cast<int>(kMaxMoves)) return kTooManyMoves;
  uint32_t added = 0;
  for (int i = 3; i < argc; ++i) {
    Move& move = run.moves[run.moveCount];
    if (!ParseMove(argv[i], move)) {
      std::snprintf(error, size, "Error: not a move: %s (write it as 3=5, 3=new or 3=new:1)",
                    argv[i]);
      return error;
    }
    if (move.source >= gSource.table.count) {
      std::snprintf(error, size, "Error: the source has no song %u (its songs are 0 to %u)",
                    move.source, gSource.table.count - 1);
      if (gSource.table.count == 0) std::snprintf(error, size, "Error: the source has no songs");
      return error;
    }
    if (move.added) {
      move.place = run.target.count + added++;
    } else if (move.place >= run.target.count) {
      std::snprintf(error, size,
                    "Error: the target has no song %u to replace (its songs are 0 to %u)",
                    move.place, run.target.count - 1);
      if (run.target.count == 0) std::snprintf(error, size, "Error: the target has no songs");
      return error;
    }
    for (uint32_t k = 0; k < run.moveCount; ++k) {
      if (!move.added && !run.moves[k].added && run.moves[k].place == move.place) {
        std::snprintf(error, size, "Error: song %u of the target is given two songs", move.place);
        return error;
      }
    }
    if (move.player == kNoPlayer) {
      move.player =
          PlayerOf(move.added ? gSource.table.songs[move.source] : run.target.songs[move.place]);
    }
    if (run.target.playerTable != 0 && move.player >= run.target.playerCount) {
      std::snprintf(error, size, "Error: the target has no player %u (its players are 0 to %u)",
                    move.player, run.target.playerCount - 1);
      return error;
    }
    uint32_t j = 0;
    while (j < run.selection.count && run.selection.songs[j] != move.source) ++j;
    if (j == run.selection.count) run.selection.songs[run.selection.count++] = move.source;
    run.copyOf[run.moveCount++] = j;
  }
  return nullptr;
}

uint32_t AddedCount() {
  uint32_t added = 0;
  for (uint32_t k = 0; k < gRun.moveCount; ++k) added += gRun.moves[k].added ? 1 : 0;
  return added;
}

void ShowMoves(uint32_t sourceList) {
  const Run& run = gRun;
  static SongSelection one;
  one.count = 1;
  std::puts("Moves:");
  for (uint32_t k = 0; k < run.moveCount; ++k) {
    const Move& move = run.moves[k];
    const SongInfo& song = gSource.table.songs[move.source];
    one.songs[0] = move.source;
    uint32_t bytes = 0;
    MeasureSongs(gSource.view, sourceList, &one, bytes);
    std::printf("  song %u (%u %s, %u bytes) %s song %u, player %u", move.source, song.tracks,
                Plural(song.tracks, "track", "tracks"), bytes,
                move.added ? "is added as" : "replaces", move.place, move.player);
    if (run.target.playerTable != 0) {
      const uint32_t tracks = run.target.playerTracks[move.player];
      std::printf(" (%u %s)", tracks, Plural(tracks, "track", "tracks"));
    }
    std::puts("");
  }
  for (uint32_t k = 0; k < run.moveCount && run.target.playerTable != 0; ++k) {
    const Move& move = run.moves[k];
    const uint32_t tracks = gSource.table.songs[move.source].tracks;
    const uint32_t plays = run.target.playerTracks[move.player];
    if (tracks <= plays) continue;
    std::printf(
        "Warning: song %u has %u tracks and player %u plays %u: the game plays only the first "
        "%u\n",
        move.source, tracks, move.player, plays, plays);
  }
}
// Writes the longer song list at listAt (zeros from from up to it): the target's songs as the
// moves leave them, the added songs, and an entry of zeros, so the next run counts exactly these
// songs. False when the stream cannot be moved there.
bool WriteSongList(std::FILE* target, uint32_t from, uint32_t listAt) {
  const Run& run = gRun;
  const uint32_t* headers = run.headers;
  if (!SeekStream(target, FileOffset(from))) return false;
  for (uint32_t at = from; at < listAt; ++at) WriteU8(target, 0);
  for (uint32_t k = 0; k < run.target.count; ++k) {
    uint32_t header = run.target.songs[k].header;
    uint32_t second = run.target.songs[k].second;
    for (uint32_t m = 0; m < run.moveCount; ++m) {
      const Move& move = run.moves[m];
      if (move.added || move.place != k) continue;
      header = headers[run.copyOf[m]];
      second = (second & 0xFFFF0000) | move.player;
    }
    WriteU32(target, header);
    WriteU32(target, second);
  }
  for (uint32_t m = 0; m < run.moveCount; ++m) {
    const Move& move = run.moves[m];
    if (!move.added) continue;
    WriteU32(target, headers[run.copyOf[m]]);
    WriteU32(target, (gSource.table.songs[move.source].second & 0xFFFF0000) | move.player);
  }
  WriteU32(target, 0);
  WriteU32(target, 0);
  return true;
}

// The replaced entries' words, behind the references already in gRun.words.
void AddEntryWords() {
  const uint32_t* headers = gRun.headers;
  Run& run = gRun;
  for (uint32_t m = 0; m < run.moveCount; ++m) {
    const Move& move = run.moves[m];
    if (move.added) continue;
    const SongInfo& song = run.target.songs[move.place];
    const uint32_t entry = FileOffset(run.target.listAddress + 8 * move.place);
    run.words.items[run.words.count++] = {entry, song.header, headers[run.copyOf[m]]};
    const uint32_t second = (song.second & 0xFFFF0000) | move.player;
    if (second != song.second) {
      run.words.items[run.words.count++] = {entry + 4, song.second, second};
    }
  }
}

// Where the copy starts in the target, oldSize bytes long: on the next multiple of 4. A replace
// alone must leave the game's song list as long as it was, so when the header word of the entry
// that ends the list is not wholly in the file (the list ends at its end), the copy starts after
// a zero entry of its own.
uint64_t CopyOffset(uint64_t oldSize, uint32_t added) {
  const SongTable& target = gRun.target;
  uint64_t from = oldSize;
  const uint64_t zeroEntry = FileOffset(target.listAddress + kSongEntrySize * target.count);
  if (added == 0 && zeroEntry + 4 > oldSize) from = zeroEntry + kSongEntrySize;
  return (from + 3) / 4 * 4;
}

// The file offsets of the words a move rewrites below the target's old end, each marked when it
// is a reference: the references found, then each replaced entry's header word and, when its
// player changes, its second word.
std::vector<std::pair<uint64_t, bool>> RewrittenWords() {
  const Run& run = gRun;
  std::vector<std::pair<uint64_t, bool>> words;
  for (uint32_t k = 0; k < run.words.count; ++k) words.push_back({run.words.items[k].offset, true});
  for (uint32_t m = 0; m < run.moveCount; ++m) {
    const Move& move = run.moves[m];
    if (move.added) continue;
    const SongInfo& song = run.target.songs[move.place];
    const uint32_t entry = FileOffset(run.target.listAddress + kSongEntrySize * move.place);
    words.push_back({entry, false});
    if (((song.second & 0xFFFF0000) | move.player) != song.second) {
      words.push_back({entry + 4, false});
    }
  }
  return words;
}

// True when two rewritten words overlap, or one overlaps the song list pointer (but for the
// reference that is the pointer itself), the signature behind it, or the copy past the old end:
// each would undo another write or leave a game whose audio data cannot be found.
bool RewritesCollide(uint64_t pointerOffset, uint64_t oldSize) {
  std::vector<std::pair<uint64_t, bool>> words = RewrittenWords();
  std::sort(words.begin(), words.end());
  for (size_t k = 0; k < words.size(); ++k) {
    const auto [at, reference] = words[k];
    if (k > 0 && at < words[k - 1].first + 4) return true;
    if (at + 4 > oldSize) return true;
    const bool thePointer = reference && at == pointerOffset;
    if (!thePointer && at + 4 > pointerOffset && at < pointerOffset + 16) return true;
  }
  return false;
}

int MoveSongs(std::FILE* source, int argc, char** argv) {
  Run& run = gRun;
  if (const char* line = ReadSourceSongs(source, false, gSource)) {
    return CloseAndFinish(source, line, kFailure);
  }
  const uint32_t sourceList = gSource.table.listAddress;
  uint64_t pointerOffset = 0;
  bool readFailed = false;
  std::printf("Input File: %s\n", argv[1]);
  ShowSongList(gSource.table);
  std::puts("");

  Destination destination;
  if (!OpenTarget(argv[2], destination)) {
    return CloseAndFinish(source, kOpenOutputError, kFailure);
  }
  std::FILE* target = destination.stream;
  // Ends the run before anything was written to the target.
  const auto refuse = [&](const char* line) {
    AbandonDestination(destination);
    return CloseAndFinish(source, line, kFailure);
  };
  std::printf("Output File: %s\n", argv[2]);
  if (destination.oldSize >= kWindowSize) return refuse(kWindowError);
  const uint32_t targetList = LocateAudioData(target, &pointerOffset, &readFailed);
  if (targetList == 0) return refuse(readFailed ? kReadError : kTargetNotFound);
  const uint64_t targetPointer = pointerOffset;
  if (!OpenImageView(run.targetView, target)) return refuse(kReadError);
  if (!ListInImage(targetList, run.targetView.size)) return refuse(kTargetNotFound);
  if (!ReadSongTable(run.targetView, targetList, pointerOffset, false, run.target)) {
    return refuse(kTooManySongs);
  }
  if (run.targetView.failed) return refuse(kReadError);
  ShowSongList(run.target);
  ShowPlayers(run.target);
  std::puts("");

  char error[256];
  if (const char* line = ReadMoves(argc, argv, error, sizeof error)) return refuse(line);
  const uint32_t added = AddedCount();
  // The new list must stay one that sonvault-songs itself can read.
  if (run.target.count + added > kMaxSongs) return refuse(kTooManySongs);
  uint32_t bytes = 0;
  const TransferResult measured = MeasureSongs(gSource.view, sourceList, &run.selection, bytes);
  if (gSource.view.failed) return refuse(kReadInputError);
  if (measured != TransferResult::kOk) return refuse(TransferErrorMessage(measured));
  const uint64_t baseOffset = CopyOffset(destination.oldSize, added);
  if (baseOffset >= kWindowSize) return refuse(kWindowError);
  const uint32_t base = kCartridgeBase + static_cast<uint32_t>(baseOffset);
  const uint64_t copyEnd = uint64_t{base} + bytes;
  const uint64_t listAt = (copyEnd + 3) / 4 * 4;
  const uint64_t end = added == 0 ? copyEnd : listAt + 8 * (uint64_t{run.target.count} + added + 1);
  if (end - kCartridgeBase > kWindowSize) return refuse(kWindowError);
  run.words.count = 0;
  if (added > 0) {
    const uint32_t newList = static_cast<uint32_t>(listAt);
    if (!FindReferences(target, targetList, run.target.count, newList, run.words)) {
      return refuse(run.words.count == kMaxReferences ? kTooManyReferences : kReadError);
    }
    if (run.words.count == 0) return refuse(kNoReference);
  }
  // Each replace rewrites up to two words of its entry too.
  if (run.words.count + 2 * (run.moveCount - added) > kMaxReferences) {
    return refuse(kTooManyReferences);
  }
  if (RewritesCollide(targetPointer, destination.oldSize)) return refuse(kOverlap);

  ShowMoves(sourceList);
  std::puts("");
  std::printf("Appending %u bytes at: 0x%08X\n", static_cast<uint32_t>(end - base), base);
  if (added > 0) {
    std::printf("New song list at: 0x%08X (%u songs), and %u %s to it\n",
                static_cast<uint32_t>(listAt), run.target.count + added, run.words.count,
                Plural(run.words.count, "reference", "references"));
  }
  std::puts("");
  if (!AskToProceed()) {
    AbandonDestination(destination);
    std::fclose(source);
    return FinishAborted();
  }
  DrainAnswerLine();

  std::puts("Copying the songs...");
  TransferResult result =
      TransferAudioData(source, sourceList, target, base, false, &run.selection);
  std::fclose(source);
  WriteOutcome outcome = WriteOutcome::kWritten;
  if (result == TransferResult::kOk) {
    // The copy's song list names each song's header copy.
    bool ok = true;
    for (uint32_t j = 0; j < run.selection.count && ok; ++j) {
      ok = SeekStream(target, FileOffset(base + 8 * j));
      run.headers[j] = ReadU32(target);
    }
    if (ok && added > 0) {
      std::puts("Writing the new song list...");
      ok = WriteSongList(target, static_cast<uint32_t>(copyEnd), static_cast<uint32_t>(listAt));
    }
    if (!ok || std::ferror(target)) result = TransferResult::kWriteFailed;
  }
  if (result == TransferResult::kOk) {
    AddEntryWords();
    if (added > 0) std::puts("Pointing the game at the new song list...");
    outcome = WriteReferences(target, run.words);
    if (outcome != WriteOutcome::kWritten) result = TransferResult::kWriteFailed;
  }
  const Ending ending = EndDestination(destination, result);
  if (ending.result == TransferResult::kOk) return Finish("Finished", kSuccess);
  if (result == TransferResult::kOk) {
    // The words went to the disk, but closing the target failed: they go back through a new
    // stream, as the tail was cut off.
    std::FILE* again = OpenFile(argv[2], "r+b");
    outcome =
        again == nullptr ? WriteOutcome::kFailedNotRestored : RestoreReferences(again, run.words);
    if (again != nullptr) std::fclose(again);
  }
  if (ending.restored && outcome != WriteOutcome::kFailedNotRestored) {
    return Finish(TransferErrorMessage(ending.result), kFailure);
  }
  std::puts(TransferErrorMessage(ending.result));
  return Finish(kRestoreError, kFailure);
}

}  // namespace

int RunSonvaultSongs(int argc, char** argv) {
  if (PrintProgramInfo(kSonvaultSongsInfo, argc, argv)) return kSuccess;
  std::puts("Sonvault Songs, Release " SONVAULT_VERSION_MAJOR);
  std::puts("");
  if (argc <= 1) return Finish(kUsage, kFailure);
  std::FILE* source = OpenRegularFile(argv[1], "rb");
  if (source == nullptr) return Finish(kOpenInputError, kFailure);
  if (argc == 2) return ListSongs(source, argv[1], gSource);
  if (std::strcmp(argv[2], kWavOption) == 0) return RenderSongs(source, argc, argv, gSource);
  return MoveSongs(source, argc, argv);
}
