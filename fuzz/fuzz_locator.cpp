// Fuzzes the signature scan: the file is up to 128 KiB of zeros chosen by the first three input
// bytes, then the rest of the input, so a short input can put a signature across the scan's
// 64 KiB read boundary at any alignment. The result must equal a plain word-by-word scan.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image/audio_locator.h"

namespace {

constexpr size_t kPrefixBytes = 3;
constexpr uint32_t kPrefixMask = 0x1FFFF;

uint32_t WordAt(const std::vector<uint8_t>& file, size_t offset) {
  return static_cast<uint32_t>(file[offset]) | static_cast<uint32_t>(file[offset + 1]) << 8 |
         static_cast<uint32_t>(file[offset + 2]) << 16 |
         static_cast<uint32_t>(file[offset + 3]) << 24;
}

// Every multiple of 4 from offset 4 on, in order; all three words must lie inside the file.
uint32_t ReferenceScan(const std::vector<uint8_t>& file) {
  for (size_t offset = 4; offset + 12 <= file.size(); offset += 4) {
    if (WordAt(file, offset) == kSignature[0] && WordAt(file, offset + 4) == kSignature[1] &&
        WordAt(file, offset + 8) == kSignature[2]) {
      return WordAt(file, offset - 4);
    }
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t zeros = 0;
  if (size >= kPrefixBytes) {
    zeros = (static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
             static_cast<uint32_t>(data[2]) << 16) &
            kPrefixMask;
    data += kPrefixBytes;
    size -= kPrefixBytes;
  }
  std::vector<uint8_t> file(zeros, 0);
  file.insert(file.end(), data, data + size);

  std::FILE* stream = std::tmpfile();
  if (stream == nullptr) std::abort();
  if (!file.empty() && std::fwrite(file.data(), 1, file.size(), stream) != file.size()) {
    std::abort();
  }
  std::fflush(stream);
  std::rewind(stream);
  const uint32_t found = LocateAudioData(stream);
  std::fclose(stream);

  const uint32_t expected = ReferenceScan(file);
  if (found != expected) {
    std::fprintf(stderr, "LocateAudioData returned 0x%08X, the word-by-word scan 0x%08X\n", found,
                 expected);
    std::abort();
  }
  return 0;
}
