#include "image/audio_locator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/streams.h"

namespace {

constexpr uint32_t kWord1 = 0x8888684A;
constexpr uint32_t kWord2 = 0xD1042800;
constexpr uint32_t kWord3 = 0x1C191C08;
constexpr uint32_t kChunk = 0x10000;  // the locator's read block

struct LocatorCase {
  std::string name;
  Bytes image;
  uint32_t want;
};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// words little-endian from offset on, in an image of at least size bytes (zeros elsewhere).
Bytes Words(uint32_t size, uint32_t offset, std::initializer_list<uint32_t> words) {
  return ImageBuilder(size).PutBytes(offset, LittleEndian(words)).bytes();
}

}  // namespace

TEST(LocateAudioData, FindsTheFirstSignatureOnTheWordGrid) {
  const uint32_t ptr = 0x08000100;
  std::vector<LocatorCase> cases = {
      {"arrangement at 0x1F4C", ImageBuilder(0x3000).PutSignature(0x1F4C, 0x0812ABC0).bytes(),
       0x0812ABC0},
      {"bank header at offset 0", ImageBuilder(0x28).PutSignature(0, 0x08000010).bytes(),
       0x08000010},
      {"signature at 0x102", Words(0x200, 0x102, {ptr, kWord1, kWord2, kWord3}), 0},
      {"signature at 0x103", Words(0x200, 0x103, {ptr, kWord1, kWord2, kWord3}), 0},
      {"two occurrences: the lower wins",
       ImageBuilder(0x800).PutSignature(0x400, 0x08000400).PutSignature(0x200, 0x08000200).bytes(),
       0x08000200},
      {"word 1 twice, then words 2 and 3 at 0x100",
       Words(0x200, 0x100, {kWord1, kWord1, kWord2, kWord3}), 0x8888684A},
      {"words 1, 2, then 1, 2, 3 at 0x200",
       Words(0x300, 0x200, {kWord1, kWord2, kWord1, kWord2, kWord3}), 0xD1042800},
      {"empty file", {}, 0},
      {"1 byte", {0x4A}, 0},
      {"2 bytes", {0x4A, 0x68}, 0},
      {"3 bytes", {0x4A, 0x68, 0x88}, 0},
      {"ends with word 1", Words(0, 0xFC, {ptr, kWord1}), 0},
      {"ends with words 1 and 2", Words(0, 0xFC, {ptr, kWord1, kWord2}), 0},
      {"ends one byte short of word 3",
       ImageBuilder().PutSignature(0xFC, ptr).Resize(0x10B).bytes(), 0},
      {"word 3 is the last four bytes", ImageBuilder().PutSignature(0x1F0, ptr).bytes(), ptr},
      {"word 1 at offset 0 is no match; a later one is",
       ImageBuilder(0x80)
           .PutBytes(0, LittleEndian({kWord1, kWord2, kWord3}))
           .PutSignature(0x40, ptr)
           .bytes(),
       ptr},
      {"a signature right behind one at offset 0: its pointer is word 3",
       Words(0, 0, {kWord1, kWord2, kWord3, kWord1, kWord2, kWord3}), 0x1C191C08},
      {"pointer 0", ImageBuilder(0x200).PutSignature(0x100, 0).bytes(), 0},
      {"pointer 0 in the first match hides a later one",
       ImageBuilder(0x200).PutSignature(0x100, 0).PutSignature(0x180, ptr).bytes(), 0},
      {"exactly one block, word 3 last",
       ImageBuilder(kChunk).PutSignature(kChunk - 16, ptr).bytes(), ptr},
      {"exactly one block ending with words 1 and 2", Words(kChunk, kChunk - 8, {kWord1, kWord2}),
       0},
  };
  // Every way the 16 bytes can straddle a block boundary, at the first two boundaries.
  for (const uint32_t boundary : {kChunk, 2 * kChunk}) {
    for (const uint32_t back : {16u, 12u, 8u, 4u, 0u}) {
      const uint32_t at = boundary - back;
      cases.push_back({"arrangement at " + Hex(at),
                       ImageBuilder(boundary + 0x40).PutSignature(at, 0x08000000 | at).bytes(),
                       0x08000000 | at});
    }
    cases.push_back({"words 1, 2, then 1, 2, 3 from " + Hex(boundary - 8),
                     Words(boundary + 0x40, boundary - 8, {kWord1, kWord2, kWord1, kWord2, kWord3}),
                     0xD1042800});
    cases.push_back({"signature at " + Hex(boundary - 6),
                     Words(boundary + 0x40, boundary - 6, {ptr, kWord1, kWord2, kWord3}), 0});
  }
  for (const LocatorCase& row : cases) {
    SCOPED_TRACE(row.name + ", " + std::to_string(row.image.size()) + " bytes");
    std::FILE* stream = StreamOf(row.image);
    EXPECT_EQ(LocateAudioData(stream), row.want);
    std::fclose(stream);
  }
}

TEST(LocateAudioData, ReadErrorEndsTheScan) {
  // A directory opens for reading here but every read fails.
  std::FILE* directory = std::fopen(".", "rb");
  if (directory == nullptr) GTEST_SKIP() << "directories do not open as streams here";
  EXPECT_EQ(LocateAudioData(directory), 0u);
  std::fclose(directory);
}
