#include "songs/songs.h"

#include <cstdint>
#include <cstdio>

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
#include "songs/moves.h"
#include "songs/song_table.h"
#include "transfer/transfer.h"
#include "version.h"

namespace {

constexpr char kUsage[] = "Usage: sonvault-songs <image> [<target image> <move>...]";
constexpr char kTargetNotFound[] = "Could not locate audio data in the target";
constexpr char kTooManySongs[] = "Error: more than 4096 songs in one song list";
constexpr char kNoMoves[] =
    "Error: no moves given; write them as 3=5 (song 3 replaces song 5), 3=new";
constexpr char kTooManyMoves[] = "Error: too many moves (more than 256)";
constexpr char kNoReference[] =
    "Error: no reference to the target's song list found, so added songs cannot be reached";
constexpr char kReadError[] = "Error reading output file";
constexpr char kTooManyReferences[] =
    "Error: too many references to the target's song list (more than 1024)";

// The tables of both images and the run's working lists, off the stack.
struct Run {
  SongTable source;
  SongTable target;
  Move moves[kMaxMoves];
  uint32_t moveCount;
  SongSelection selection;      // the distinct source songs, in the order of first mention
  uint32_t copyOf[kMaxMoves];   // per move: its song's entry in the copy's list
  uint32_t headers[kMaxMoves];  // per entry of the copy's list: its song header's copy
  ReferenceList words;          // the words rewritten below the target's old end
  ImageView sourceView;         // read as needed, never whole
  ImageView targetView;
};
Run gRun;

const char* Plural(uint32_t count, const char* one, const char* many) {
  return count == 1 ? one : many;
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

void ShowSongList(const SongTable& table) {
  std::printf("Song list at: 0x%08X (%u %s)\n", table.listAddress, table.count,
              Plural(table.count, "song", "songs"));
}

int List(std::FILE* image, const char* path) {
  SongTable& table = gRun.source;
  uint64_t pointerOffset = 0;
  const uint32_t listAddress = LocateAudioData(image, &pointerOffset);
  if (listAddress == 0) return CloseAndFinish(image, kNotFound, kFailure);
  ImageView& view = gRun.sourceView;
  if (!OpenImageView(view, image)) return CloseAndFinish(image, kOpenInputError, kFailure);
  if (!ReadSongTable(view, listAddress, pointerOffset, true, table)) {
    return CloseAndFinish(image, kTooManySongs, kFailure);
  }
  if (view.failed) return CloseAndFinish(image, kOpenInputError, kFailure);
  std::fclose(image);
  std::printf("Image File: %s\n", path);
  ShowSongList(table);
  ShowPlayers(table);
  std::puts("");
  std::puts(" Song  Player  Tracks  Priority  Header      Instruments  Bytes");
  for (uint32_t k = 0; k < table.count; ++k) {
    const SongInfo& song = table.songs[k];
    std::printf("%5u  %6u  %6u  %8u  0x%08X  0x%08X   ", k, PlayerOf(song), song.tracks,
                song.priority, song.header, song.instruments);
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
  if (gRun.source.allCopy == TransferResult::kOk) {
    std::printf("Total: %u %s; moving all of them appends %u bytes\n", table.count,
                Plural(table.count, "song", "songs"), table.allBytes);
  } else {
    std::printf("Total: %u %s; all of them cannot be moved at once (%s)\n", table.count,
                Plural(table.count, "song", "songs"), TransferErrorMessage(table.allCopy));
  }
  ReadConsoleChar();
  return kSuccess;
}

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
    if (move.source >= run.source.count) {
      std::snprintf(error, size, "Error: the source has no song %u (its songs are 0 to %u)",
                    move.source, run.source.count - 1);
      if (run.source.count == 0) std::snprintf(error, size, "Error: the source has no songs");
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
          PlayerOf(move.added ? run.source.songs[move.source] : run.target.songs[move.place]);
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
    const SongInfo& song = run.source.songs[move.source];
    one.songs[0] = move.source;
    uint32_t bytes = 0;
    MeasureSongs(gRun.sourceView, sourceList, &one, bytes);
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
    const uint32_t tracks = run.source.songs[move.source].tracks;
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
    WriteU32(target, (run.source.songs[move.source].second & 0xFFFF0000) | move.player);
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

int MoveSongs(std::FILE* source, int argc, char** argv) {
  Run& run = gRun;
  uint64_t pointerOffset = 0;
  const uint32_t sourceList = LocateAudioData(source, &pointerOffset);
  if (sourceList == 0) return CloseAndFinish(source, kNotFound, kFailure);
  if (!OpenImageView(run.sourceView, source)) {
    return CloseAndFinish(source, kOpenInputError, kFailure);
  }
  if (!ReadSongTable(run.sourceView, sourceList, pointerOffset, false, run.source)) {
    return CloseAndFinish(source, kTooManySongs, kFailure);
  }
  if (run.sourceView.failed) return CloseAndFinish(source, kOpenInputError, kFailure);
  std::printf("Input File: %s\n", argv[1]);
  ShowSongList(run.source);
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
  const uint32_t targetList = LocateAudioData(target, &pointerOffset);
  if (targetList == 0) return refuse(kTargetNotFound);
  if (!OpenImageView(run.targetView, target)) return refuse(kReadError);
  if (!ReadSongTable(run.targetView, targetList, pointerOffset, false, run.target)) {
    return refuse(kTooManySongs);
  }
  if (run.targetView.failed) return refuse(kReadError);
  ShowSongList(run.target);
  ShowPlayers(run.target);
  std::puts("");

  char error[256];
  if (const char* line = ReadMoves(argc, argv, error, sizeof error)) return refuse(line);
  uint32_t bytes = 0;
  const TransferResult measured = MeasureSongs(run.sourceView, sourceList, &run.selection, bytes);
  if (run.sourceView.failed) return refuse(kOpenInputError);
  if (measured != TransferResult::kOk) return refuse(TransferErrorMessage(measured));
  const uint32_t base = AlignedBase(static_cast<uint32_t>(destination.oldSize) | kCartridgeBase);
  const uint32_t added = AddedCount();
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
  std::FILE* source = OpenFile(argv[1], "rb");
  if (source == nullptr) return Finish(kOpenInputError, kFailure);
  if (argc == 2) return List(source, argv[1]);
  return MoveSongs(source, argc, argv);
}
