#include "point/references.h"

#include <gtest/gtest.h>

#include <string>

#include "support/streams.h"
#include "support/whole_run.h"

TEST(References, AddressesAreReadAsSonvaultPrintsThem) {
  const struct {
    const char* text;
    bool valid;
    uint32_t address;
  } rows[] = {
      {"0x09000000", true, 0x09000000},
      {"0X0800abcD", true, 0x0800ABCD},
      {"8004004", true, 0x08004004},
      {"ffffffff", true, 0xFFFFFFFF},
      {"0x", false, 0},
      {"", false, 0},
      {"0x123456789", false, 0},
      {"0x0x10", false, 0},
      {"0x0900000g", false, 0},
      {" 0x09000000", false, 0},
      {"0x09000000 ", false, 0},
      {"-1", false, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    uint32_t address = 0;
    EXPECT_EQ(ParseAddress(row.text, address), row.valid);
    if (row.valid) {
      EXPECT_EQ(address, row.address);
    }
  }
}

// The list at 0x100 holds 3 songs; words equal to it or inside its 24 bytes are references.
TEST(References, TheListAndTheWordsInsideItMoveTogether) {
  ImageBuilder image(0x200);
  image.PutSongList(0x100, {{0x08000180, 0}, {0x09000180, 0}, {0x08000180, 0}});
  image.PutU32(0x120, 0x0A000000);  // the entry after the terminator: never counted
  image.PutU32(0x00, 0x08000100).PutU32(0x04, 0x080000FF).PutU32(0x08, 0x08000101);
  image.PutU32(0x0C, 0x08000117).PutU32(0x10, 0x08000118).PutU32(0x16, 0x08000100);
  std::FILE* stream = StreamOf(image.bytes());
  EXPECT_EQ(CountSongs(stream, 0x08000100), 3u);
  EXPECT_EQ(CountSongs(stream, 0x08000108), 2u);
  EXPECT_EQ(CountSongs(stream, 0x080001FC), 0u);  // its pointer reads 0 past the end
  static ReferenceList found;
  ASSERT_TRUE(FindReferences(stream, 0x08000100, 3, 0x09000000, found));
  ASSERT_EQ(found.count, 3u);  // not 0xFF below, 0x118 past the end, 0x16 off the 4-byte grid
  EXPECT_EQ(found.items[0].offset, 0x00u);
  EXPECT_EQ(found.items[0].newValue, 0x09000000u);
  EXPECT_EQ(found.items[1].offset, 0x08u);
  EXPECT_EQ(found.items[1].newValue, 0x09000001u);
  EXPECT_EQ(found.items[2].offset, 0x0Cu);
  EXPECT_EQ(found.items[2].newValue, 0x09000017u);
  std::fclose(stream);
}

TEST(References, WritesLandWholeOrAreTakenBack) {
  ImageBuilder image(0x40);
  image.PutU32(0x10, 0x08000100).PutU32(0x20, 0x08000100);
  static ReferenceList references;
  references.count = 2;
  references.items[0] = {0x10, 0x08000100, 0x09000000};
  references.items[1] = {0x20, 0x08000100, 0x09000008};

  std::FILE* writable = StreamOf(image.bytes());
  EXPECT_EQ(WriteReferences(writable, references), WriteOutcome::kWritten);
  std::rewind(writable);
  Bytes written(0x40);
  ASSERT_EQ(std::fread(written.data(), 1, written.size(), writable), written.size());
  ExpectSameBytes(image.PutU32(0x10, 0x09000000).PutU32(0x20, 0x09000008).bytes(), written);
  std::fclose(writable);

  // A stream that takes no writes: the outcome says so and every word reads as before.
  TempDir dir;
  WriteFile(dir / "image.gba", std::string(written.begin(), written.end()));
  references.items[0].oldValue = 0x09000000;
  references.items[1].oldValue = 0x09000008;
  std::FILE* readOnly = std::fopen((dir / "image.gba").string().c_str(), "rb");
  ASSERT_NE(readOnly, nullptr);
  EXPECT_EQ(WriteReferences(readOnly, references), WriteOutcome::kFailedRestored);
  std::fclose(readOnly);
  EXPECT_EQ(ReadFile(dir / "image.gba"), std::string(written.begin(), written.end()));

#if !defined(_WIN32)
  // A seek that fails writes nothing: a memory stream cannot seek past its end.
  Bytes memory = written;
  references.items[1].offset = 0x44;
  std::FILE* shortStream = fmemopen(memory.data(), memory.size(), "r+b");
  ASSERT_NE(shortStream, nullptr);
  EXPECT_EQ(WriteReferences(shortStream, references), WriteOutcome::kFailedNotRestored);
  std::fclose(shortStream);
  ExpectSameBytes(written, memory);
#endif
}
