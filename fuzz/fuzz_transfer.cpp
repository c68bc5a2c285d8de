// Fuzzes the locator and the whole transfer on an arbitrary source image, as the tool runs them.
// The locator must agree with a plain word-by-word scan. The engine then runs four times:
// extracting into an empty file, extracting again from that bank, inserting onto a small target
// and inserting onto a target just below 32 MiB (the last two input bytes choose how far below).
// Whatever the image, each run must return, allocate nothing, keep the output inside the 32 MiB
// window and leave every byte below the insert base as it was. A bank that an extract completes is
// a source: the locator finds its song list at 0x08000010, each entry naming a header inside the
// bank up to the zero entry that ends it. Extract and insert walk the same blocks, so they end the
// same way unless one of them runs out of the window, an insert fits only where the bank fits, and
// from a base on a multiple of 4 the insert adds exactly the bank's bytes after its header.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "fuzz_support.h"
#include "image/address.h"
#include "image/audio_locator.h"
#include "image/platform.h"
#include "image/stream_io.h"
#include "transfer/transfer.h"

namespace {

constexpr uint32_t kSmallTarget = 0x2F0;   // plus the input size mod 4, so odd bases occur
constexpr uint32_t kCheckedSpan = 0x1000;  // Every multiple of 4 from offset 4 on, in order; all
                                           // three words must lie inside the file.
uint32_t ReferenceScan(const uint8_t* data, size_t size) {
  for (size_t at = 4; at + 12 <= size; at += 4) {
    if (LoadU32(data + at) == kSignature[0] && LoadU32(data + at + 4) == kSignature[1] &&
        LoadU32(data + at + 8) == kSignature[2]) {
      return LoadU32(data + at - 4);
    }
  }
  return 0;
}

std::FILE* NewFile() {
  std::FILE* file = std::tmpfile();
  Check(file != nullptr, "no temporary file");
  return file;
}

// Writes the target's pattern over [from, from + count), or checks that it is still there.
bool TargetPattern(std::FILE* file, uint64_t from, uint32_t count, bool check) {
  uint8_t bytes[kCheckedSpan];
  SeekStream(file, from);
  if (check && std::fread(bytes, 1, count, file) != count) return false;
  for (uint32_t k = 0; k < count; ++k) {
    const auto want = static_cast<uint8_t>((from + k) * 31 + 7);
    if (check && bytes[k] != want) return false;
    bytes[k] = want;
  }
  return check || std::fwrite(bytes, 1, count, file) == count;
}

TransferResult Run(std::FILE* source, uint32_t songListAddress, std::FILE* destination,
                   uint32_t baseAddress, bool extractMode) {
  const long before = gNewCalls;
  const TransferResult result =
      TransferAudioData(source, songListAddress, destination, baseAddress, extractMode);
  Check(gNewCalls == before, "the engine allocated");
  Check(std::fflush(destination) == 0, "the destination cannot be flushed");
  Check(StreamSize(destination) <= static_cast<int64_t>(kWindowSize),
        "the output runs past the 32 MiB window");
  return result;
}

// Inserts onto a target of targetSize bytes that holds the pattern in its first and last
// kCheckedSpan bytes (the whole of a small target) and zeros between, then checks those spans.
// Returns the result; growth is what the insert added to the target.
TransferResult Insert(std::FILE* source, uint32_t songListAddress, uint32_t targetSize,
                      int64_t& growth) {
  std::FILE* target = NewFile();
  Check(ftruncate(fileno(target), targetSize) == 0, "cannot size the target");
  const uint32_t head = std::min(targetSize, kCheckedSpan);
  const uint32_t tail = std::min(targetSize - head, kCheckedSpan);
  TransferResult result = TransferResult::kOk;
  for (const bool check : {false, true}) {
    if (check) result = Run(source, songListAddress, target, targetSize | kCartridgeBase, false);
    Check(TargetPattern(target, 0, head, check) &&
              TargetPattern(target, targetSize - tail, tail, check),
          "a byte below the insert base changed");
  }
  growth = StreamSize(target) - targetSize;
  std::fclose(target);
  return result;
}

// The song list of a bank an extract completed, and then the same engine run on the bank.
void CheckBank(std::FILE* bank) {
  constexpr uint32_t kBankSongList = kCartridgeBase + 0x10;
  Check(LocateAudioData(bank) == kBankSongList, "the bank's song list is not found");
  const int64_t size = StreamSize(bank);
  SeekStream(bank, 0x10);
  for (int64_t at = 0x10;; at += 8) {
    Check(at + 8 <= size, "the bank's song list has no end");
    const uint32_t header = ReadU32(bank);
    if (header == 0 && ReadU32(bank) == 0) break;
    Check(IsCartridgePointer(header) && FileOffset(header) + 8 <= size,
          "a song entry of the bank names no header in it");
    ReadU32(bank);
  }
  std::FILE* again = NewFile();
  Run(bank, kBankSongList, again, 0, true);
  std::fclose(again);
}

// Songs of the list chosen by the input's bytes, copied into a small target: the measure of the
// selection promises exactly the end and the bytes of that copy.
void CheckSelection(std::FILE* source, uint32_t songListAddress, const uint8_t* data, size_t size) {
  const int64_t sourceSize = StreamSize(source);
  uint32_t songs = 0;
  while (songs < 64 && FileOffset(songListAddress) + 8 * (songs + 1) <= sourceSize &&
         SeekStream(source, FileOffset(songListAddress) + 8 * songs) &&
         IsCartridgePointer(ReadU32(source))) {
    ++songs;
  }
  if (songs == 0) return;
  static SongSelection selection;
  selection.count = 1 + static_cast<uint32_t>(size % 4);
  for (uint32_t k = 0; k < selection.count; ++k) selection.songs[k] = data[(7 * k) % size] % songs;
  uint32_t bytes = 0;
  const long before = gNewCalls;
  const TransferResult measured = MeasureAudioData(data, size, songListAddress, &selection, bytes);
  Check(gNewCalls == before, "the measure allocated");
  std::FILE* target = NewFile();
  Check(ftruncate(fileno(target), kSmallTarget) == 0, "cannot size the target");
  const TransferResult copied = TransferAudioData(source, songListAddress, target,
                                                  kSmallTarget | kCartridgeBase, false, &selection);
  Check(copied == measured, "the measure and the copy of a selection end differently");
  Check(copied != TransferResult::kOk || StreamSize(target) == kSmallTarget + bytes,
        "the measure promises other bytes than the copy appends");
  std::fclose(target);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The engine announces its phases on standard output; the fuzzer reports on standard error.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* source = NewFile();
  if (size > 0) Check(std::fwrite(data, 1, size, source) == size, "cannot write the source");
  std::fflush(source);
  const long before = gNewCalls;
  const uint32_t songListAddress = LocateAudioData(source);
  Check(gNewCalls == before, "the locator allocated");
  Check(songListAddress == ReferenceScan(data, size), "the locator missed the first signature");
  if (songListAddress != 0) {
    std::FILE* bank = NewFile();
    const TransferResult extracted = Run(source, songListAddress, bank, 0, true);
    const int64_t bankSize = StreamSize(bank);
    if (extracted == TransferResult::kOk) CheckBank(bank);
    std::fclose(bank);

    const uint32_t small = kSmallTarget + static_cast<uint32_t>(size % 4);
    int64_t growth = 0;
    const TransferResult inserted = Insert(source, songListAddress, small, growth);
    if (extracted != TransferResult::kOutputTooLarge &&
        inserted != TransferResult::kOutputTooLarge) {
      Check(inserted == extracted, "extract and insert end differently");
    }
    Check(inserted != TransferResult::kOk || extracted == TransferResult::kOk,
          "an insert fits where the bank does not");
    if (inserted == TransferResult::kOk && small % 4 == 0) {
      Check(growth == bankSize - 16, "the insert adds other than the bank's bytes");
    }

    uint32_t below = 1;
    if (size >= 2) below += static_cast<uint32_t>(data[size - 2] | data[size - 1] << 8);
    Insert(source, songListAddress, kWindowSize - below, growth);
    CheckSelection(source, songListAddress, data, size);
  }
  std::fclose(source);
  return 0;
}
