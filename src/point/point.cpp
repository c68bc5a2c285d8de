#include "point/point.h"

#include <cstdint>
#include <cstdio>

#include "cli/console.h"
#include "cli/driver.h"
#include "cli/file_system.h"
#include "cli/program_info.h"
#include "image/address.h"
#include "image/audio_locator.h"
#include "image/platform.h"
#include "image/stream_io.h"
#include "point/references.h"
#include "version.h"

namespace {

constexpr size_t kTypedAddressSize = 64;

constexpr char kUsage[] = "Usage: sonvault-point <image> [<song list address>]";
constexpr char kOpenError[] = "Error opening image file";
constexpr char kReadError[] = "Error reading image file";
constexpr char kNoAddress[] = "Error: no song list address given";
constexpr char kNotAnAddress[] =
    "Error: not an address; write it as sonvault prints it (0x09000000)";
constexpr char kOutside[] = "Error: the address lies outside the image";
constexpr char kMisaligned[] =
    "Error: the address is not a multiple of 4; the sound engine cannot read a song list there";
constexpr char kNotASong[] = "Error: no song list there: its first entry is not a song";
constexpr char kNoReference[] = "Error: no reference to the current song list found";
constexpr char kTooMany[] = "Error: too many references to the current song list (more than 1024)";
constexpr char kWriteError[] = "Error writing image file";
constexpr char kImageRestoreError[] = "Error: the image could not be restored";
constexpr char kUnchanged[] = "The game already uses that song list: nothing to change";

const char* Songs(uint32_t count) { return count == 1 ? "song" : "songs"; }

// The address from the command line, or typed at the prompt when there is none.
const char* AddressError(int argc, char** argv, uint32_t& address) {
  char typed[kTypedAddressSize];
  const char* text = argv[2];
  if (argc <= 2) {
    std::printf("New song list address: ");
    const bool typedOne = ReadConsoleLine(typed, sizeof typed);
    std::putchar('\n');
    if (!typedOne) return kNoAddress;
    text = typed;
  }
  return ParseAddress(text, address) ? nullptr : kNotAnAddress;
}

// Why the game cannot be pointed at address, or nullptr when it can.
const char* ListError(std::FILE* image, uint64_t imageSize, uint32_t address) {
  if (!IsCartridgePointer(address) || FileOffset(address) + uint64_t{4} > imageSize) {
    return kOutside;
  }
  if (address % 4 != 0) return kMisaligned;
  if (!SeekStream(image, FileOffset(address))) return kReadError;
  const uint32_t header = ReadU32(image);
  if (std::ferror(image)) return kReadError;
  if (!IsCartridgePointer(header) || FileOffset(header) >= imageSize) return kNotASong;
  return nullptr;
}

void ShowReferences(const ReferenceList& references, uint32_t current) {
  std::printf("References to the song list: %u\n", references.count);
  for (uint32_t k = 0; k < references.count; ++k) {
    const Reference& reference = references.items[k];
    std::printf("  at 0x%08X: 0x%08X -> 0x%08X%s\n", kCartridgeBase + reference.offset,
                reference.oldValue, reference.newValue,
                reference.oldValue == current ? "" : " (inside the list)");
  }
  std::puts("");
}

}  // namespace

int RunSonvaultPoint(int argc, char** argv) {
  if (PrintProgramInfo(kSonvaultPointInfo, argc, argv)) return kSuccess;
  std::puts("Sonvault Point, Release " SONVAULT_VERSION_MAJOR);
  std::puts("");
  if (argc <= 1) return Finish(kUsage, kFailure);
  std::FILE* image = OpenRegularFile(argv[1], "r+b");
  if (image == nullptr) return Finish(kOpenError, kFailure);
  const int64_t size = StreamSize(image);
  if (size < 0) return CloseAndFinish(image, kReadError, kFailure);
  const uint64_t imageSize = static_cast<uint64_t>(size);

  bool readFailed = false;
  const uint32_t current = LocateAudioData(image, nullptr, &readFailed);
  // Only an address in the image names a list whose references can be moved.
  if (!IsCartridgePointer(current) || FileOffset(current) >= imageSize) {
    return CloseAndFinish(image, readFailed ? kReadError : kNotFound, kFailure);
  }
  uint32_t currentSongs = 0;
  if (!CountSongs(image, current, currentSongs)) return CloseAndFinish(image, kReadError, kFailure);
  std::printf("Image File: %s\n", argv[1]);
  std::printf("Song list now at: 0x%08X (%u %s)\n", current, currentSongs, Songs(currentSongs));

  uint32_t target = 0;
  if (const char* error = AddressError(argc, argv, target)) {
    return CloseAndFinish(image, error, kFailure);
  }
  if (target == current) return CloseAndFinish(image, kUnchanged, kSuccess);
  if (const char* error = ListError(image, imageSize, target)) {
    return CloseAndFinish(image, error, kFailure);
  }
  uint32_t targetSongs = 0;
  if (!CountSongs(image, target, targetSongs)) return CloseAndFinish(image, kReadError, kFailure);
  std::printf("New song list at: 0x%08X (%u %s)\n\n", target, targetSongs, Songs(targetSongs));

  static ReferenceList references;  // 12 KiB: kept off the stack
  if (!FindReferences(image, current, currentSongs, target, references)) {
    const bool full = references.count == kMaxReferences;
    return CloseAndFinish(image, full ? kTooMany : kReadError, kFailure);
  }
  if (references.count == 0) return CloseAndFinish(image, kNoReference, kFailure);
  ShowReferences(references, current);
  if (targetSongs < currentSongs) {
    std::printf(
        "Warning: the new list has %u %s, the current one %u: the game may start songs "
        "past its end\n\n",
        targetSongs, Songs(targetSongs), currentSongs);
  }

  if (!AskToProceed()) {
    std::fclose(image);
    return FinishAborted();
  }
  DrainAnswerLine();
  std::puts("Pointing the game at the new song list...");
  WriteOutcome outcome = WriteReferences(image, references);
  if (std::fclose(image) != 0 && outcome == WriteOutcome::kWritten) {
    // The new words are on the disk, yet the run fails: they go back through a new stream, whose
    // own close has nothing left to write.
    std::FILE* again = OpenFile(argv[1], "r+b");
    outcome =
        again == nullptr ? WriteOutcome::kFailedNotRestored : RestoreReferences(again, references);
    if (again != nullptr) std::fclose(again);
  }
  if (outcome == WriteOutcome::kWritten) return Finish("Finished", kSuccess);
  if (outcome == WriteOutcome::kFailedNotRestored) {
    std::puts(kWriteError);
    return Finish(kImageRestoreError, kFailure);
  }
  return Finish(kWriteError, kFailure);
}
