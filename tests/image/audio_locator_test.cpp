#include "image/audio_locator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/streams.h"

namespace {

constexpr uint32_t kWord1 = kSignature[0], kWord2 = kSignature[1], kWord3 = kSignature[2];
constexpr uint32_t kChunk = 0x10000;  // the locator's read block
constexpr uint32_t kList = 0x08000100;

// words little-endian from offset on, in an image of at least size bytes (zeros elsewhere).
Bytes Words(uint32_t size, uint32_t offset, std::initializer_list<uint32_t> words) {
  return ImageBuilder(size).PutBytes(offset, LittleEndian(words)).bytes();
}

Bytes Signature(uint32_t size, uint32_t offset) {
  return ImageBuilder(size).PutSignature(offset, 0x08000000 | offset).bytes();
}

// The pointer and words 1 and 2 end the 32 MiB window, word 3 follows it (written by hand: the
// builder's addresses stay in the window).
Bytes PastTheWindow() {
  Bytes image(0x2000010, 0);
  const Bytes words = LittleEndian({kList, kWord1, kWord2, kWord3});
  std::copy(words.begin(), words.end(), image.begin() + 0x1FFFFF4);
  return image;
}

}  // namespace

TEST(LocateAudioData, FindsTheFirstSignatureOnTheWordGrid) {
  struct Row {
    std::string name;
    Bytes image;
    uint32_t want;
  };
  // The fuzz target compares the scan with a plain one on arbitrary inputs; these rows hold the
  // edges of the word grid, of the file and of the scan's read blocks.
  std::vector<Row> rows = {
      {"bank header at offset 0", Signature(0x28, 0), 0x08000000},
      {"signature at 0x101, off the grid", Words(0x200, 0x101, {kList, kWord1, kWord2, kWord3}), 0},
      {"words 1, 2, then 1, 2, 3", Words(0x300, 0x200, {kWord1, kWord2, kWord1, kWord2, kWord3}),
       kWord2},
      {"ends one byte short of word 3", ImageBuilder().PutSignature(0xFC, 1).Resize(0x10B).bytes(),
       0},
      {"word 3 is the last four bytes", Signature(0, 0x1F0), 0x080001F0},
      {"word 1 at offset 0 is no match; a later one is",
       Words(0x80, 0, {kWord1, kWord2, kWord3, 0, kList, kWord1, kWord2, kWord3}), kList},
      {"exactly one block, word 3 last", Signature(kChunk, kChunk - 16),
       0x08000000 | (kChunk - 16)},
      // No address reaches past the 32 MiB window, and the scan reads no further.
      {"word 3 the last word of the window", Signature(0x2000010, 0x1FFFFF0), 0x09FFFFF0},
      {"word 3 past the window", PastTheWindow(), 0},
  };
  // Every way the 16 bytes can straddle a block boundary, at the first two boundaries.
  for (const uint32_t boundary : {kChunk, 2 * kChunk}) {
    for (const uint32_t back : {16u, 12u, 8u, 4u, 0u}) {
      const uint32_t at = boundary - back;
      rows.push_back({"arrangement at " + std::to_string(at), Signature(boundary + 0x40, at),
                      0x08000000 | at});
    }
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::FILE* stream = StreamOf(row.image);
    EXPECT_EQ(LocateAudioData(stream), row.want);
    std::fclose(stream);
  }
}
