// Fuzzes the whole transfer on an arbitrary source image, as the tool runs it: the locator
// first, then the engine three times, extracting into an empty file, inserting onto a small
// target and inserting onto a target just below 32 MiB (the last two input bytes choose how far
// below). Whatever the image, each run must return, keep the output inside the 32 MiB window and
// leave every byte below the insert base as it was; an extract that succeeds starts with the
// bank header.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/address.h"
#include "image/audio_locator.h"
#include "image/platform.h"
#include "transfer/transfer.h"

namespace {

constexpr uint32_t kSmallTarget = 0x2F0;   // plus the input size mod 4, so odd bases occur
constexpr uint32_t kCheckedSpan = 0x1000;  // bytes checked at each end of a large target

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}

uint8_t TargetByte(uint64_t offset) { return static_cast<uint8_t>(offset * 31 + 7); }

std::FILE* NewFile() {
  std::FILE* file = std::tmpfile();
  Check(file != nullptr, "no temporary file");
  return file;
}

// Writes the target pattern over [from, from + count).
void FillTarget(std::FILE* file, uint64_t from, uint32_t count) {
  uint8_t bytes[kCheckedSpan];
  for (uint32_t k = 0; k < count; ++k) bytes[k] = TargetByte(from + k);
  std::fseek(file, static_cast<long>(from), SEEK_SET);
  Check(std::fwrite(bytes, 1, count, file) == count, "cannot write the target");
}

bool HoldsPattern(std::FILE* file, uint64_t from, uint32_t count) {
  uint8_t bytes[kCheckedSpan];
  std::fseek(file, static_cast<long>(from), SEEK_SET);
  if (std::fread(bytes, 1, count, file) != count) return false;
  for (uint32_t k = 0; k < count; ++k) {
    if (bytes[k] != TargetByte(from + k)) return false;
  }
  return true;
}

TransferResult Run(std::FILE* source, uint32_t songListAddress, std::FILE* destination,
                   uint32_t baseAddress, bool extractMode) {
  std::clearerr(source);
  const TransferResult result =
      TransferAudioData(source, songListAddress, destination, baseAddress, extractMode);
  Check(std::fflush(destination) == 0, "the destination cannot be flushed");
  Check(StreamSize(destination) <= static_cast<int64_t>(kWindowSize),
        "the output runs past the 32 MiB window");
  return result;
}

void Extract(std::FILE* source, uint32_t songListAddress) {
  std::FILE* bank = NewFile();
  if (Run(source, songListAddress, bank, 0, true) == TransferResult::kOk) {
    uint8_t header[16];
    std::rewind(bank);
    Check(std::fread(header, 1, sizeof header, bank) == sizeof header, "no bank header");
    const uint8_t expected[16] = {0x10, 0x00, 0x00, 0x08, 0x4A, 0x68, 0x88, 0x88,
                                  0x00, 0x28, 0x04, 0xD1, 0x08, 0x1C, 0x19, 0x1C};
    Check(std::memcmp(header, expected, sizeof header) == 0, "the bank header is wrong");
  }
  std::fclose(bank);
}

// Inserts onto a target of targetSize bytes that holds the pattern in its first and last
// kCheckedSpan bytes (the whole of a small target) and zeros between, then checks those spans.
void Insert(std::FILE* source, uint32_t songListAddress, uint32_t targetSize) {
  std::FILE* target = NewFile();
  Check(ftruncate(fileno(target), targetSize) == 0, "cannot size the target");
  const uint32_t head = std::min(targetSize, kCheckedSpan);
  const uint32_t tail = std::min(targetSize - head, kCheckedSpan);
  FillTarget(target, 0, head);
  FillTarget(target, targetSize - tail, tail);
  std::fflush(target);
  Run(source, songListAddress, target, targetSize | kCartridgeBase, false);
  Check(HoldsPattern(target, 0, head) && HoldsPattern(target, targetSize - tail, tail),
        "a byte below the insert base changed");
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
  const uint32_t songListAddress = LocateAudioData(source);
  if (songListAddress != 0) {
    Extract(source, songListAddress);
    Insert(source, songListAddress, kSmallTarget + static_cast<uint32_t>(size % 4));
    uint32_t below = 1;
    if (size >= 2) below += static_cast<uint32_t>(data[size - 2] | data[size - 1] << 8);
    Insert(source, songListAddress, kWindowSize - below);
  }
  std::fclose(source);
  return 0;
}
