#include "point/references.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "image/stream_io.h"
#include "support/streams.h"

TEST(References, AddressesAreReadAsSonvaultPrintsThem) {
  const std::pair<const char*, uint32_t> valid[] = {{"0x09000000", 0x09000000},
                                                    {"0X0800abcD", 0x0800ABCD},
                                                    {"8004004", 0x08004004},
                                                    {"ffffffff", 0xFFFFFFFF}};
  for (const auto& [text, want] : valid) {
    uint32_t address = 0;
    EXPECT_TRUE(ParseAddress(text, address)) << text;
    EXPECT_EQ(address, want) << text;
  }
  for (const char* text :
       {"0x", "", "0x123456789", "0x0x10", "0x0900000g", " 0x09000000", "0x09000000 ", "-1"}) {
    uint32_t address = 0;
    EXPECT_FALSE(ParseAddress(text, address)) << text;
  }
}

#if defined(__GLIBC__)
// A stream of 32 MiB of zeros, then the list's address, then 1 GiB more: the console reaches no
// word past the cartridge window, so the search stops there without reading on (a file of a
// terabyte once took hours).
TEST(References, NothingPastTheCartridgeWindowIsRead) {
  static uint64_t position = 0;
  static uint64_t furthest = 0;
  cookie_io_functions_t io{};
  io.read = [](void*, char* buffer, size_t size) -> ssize_t {
    const uint64_t left = (uint64_t{1} << 30) - position;
    size = static_cast<size_t>(std::min<uint64_t>(size, left));
    std::memset(buffer, 0, size);
    constexpr uint64_t kWord = 0x2000000;  // the first word past the window
    if (kWord >= position && kWord + 4 <= position + size) {
      StoreU32(reinterpret_cast<uint8_t*>(buffer) + (kWord - position), 0x08000100);
    }
    position += size;
    furthest = std::max(furthest, position);
    return static_cast<ssize_t>(size);
  };
  io.seek = [](void*, off64_t* offset, int) {
    position = static_cast<uint64_t>(*offset);
    return 0;
  };
  std::FILE* stream = fopencookie(nullptr, "rb", io);
  static ReferenceList found;
  EXPECT_TRUE(FindReferences(stream, 0x08000100, 1, 0x08000200, found));
  EXPECT_EQ(found.count, 0u);
  EXPECT_LE(furthest, 0x2000000u);
  std::fclose(stream);
}
#endif

// The list at 0x1000 holds 3 songs. A word equal to it is a reference; one inside it only where
// it points at an entry's header word or player field and code loads it with a PC-relative ldr.
TEST(References, WordsInsideTheListMoveOnlyWhereCodeLoadsThem) {
  ImageBuilder image(0x1200);
  image.PutSongList(0x1000, {{0x08001100, 0}, {0x09001100, 0}, {0x08001100, 0}});
  image.PutU32(0x1020, 0x0A000000);  // the entry after the terminator: never counted
  image.PutU32(0x000, 0x08001000);   // the list: always
  // Thumb ldr r0, [pc, #8] at 0x010 loads 0x01C; ldr r7, [pc, #0] at 0x022 loads 0x024.
  image.PutU8(0x010, 0x02).PutU8(0x011, 0x48).PutU8(0x022, 0x00).PutU8(0x023, 0x4F);
  image.PutU32(0x01C, 0x0800100C);  // song 1's player field: moves
  image.PutU32(0x024, 0x08001010);  // song 2's header word: moves
  // ARM ldrne r1, [pc, #0x100] at 0x030 loads 0x138.
  image.PutU32(0x030, 0x159F1100).PutU32(0x138, 0x08001004);
  // Unloaded words inside the list, and loaded ones between fields or outside it, stay.
  image.PutU32(0x040, 0x08001008);
  image.PutU8(0x044, 0x01).PutU8(0x045, 0x48);                            // loads 0x04C
  image.PutU32(0x04C, 0x08001006).PutU32(0x050, 0x08001018);              // between fields; past it
  image.PutU8(0x060, 0x00).PutU8(0x061, 0x48).PutU32(0x064, 0x08001018);  // past the end
  image.PutU32(0x068, 0x08000FFC);
  std::FILE* stream = StreamOf(image.bytes());
  uint32_t songs = 1;
  EXPECT_TRUE(CountSongs(stream, 0x080011FC, songs));
  EXPECT_EQ(songs, 0u);  // its pointer reads 0 past the end
  static ReferenceList found;
  ASSERT_TRUE(FindReferences(stream, 0x08001000, 3, 0x09000000, found));
  std::vector<std::vector<uint32_t>> got;
  for (uint32_t k = 0; k < found.count; ++k) {
    got.push_back({found.items[k].offset, found.items[k].oldValue, found.items[k].newValue});
  }
  EXPECT_EQ(got, (std::vector<std::vector<uint32_t>>{{0x000, 0x08001000, 0x09000000},
                                                     {0x01C, 0x0800100C, 0x0900000C},
                                                     {0x024, 0x08001010, 0x09000010},
                                                     {0x138, 0x08001004, 0x09000004}}));
  std::fclose(stream);
}

// Whole writes and their undoing are the golden runs' (point-moves-every-reference and
// fault-point-write-fails-the-words-go-back); a seek that fails there writes nothing.
#if !defined(_WIN32)
TEST(References, NoWordIsWrittenAfterASeekThatFails) {
  Bytes memory = ImageBuilder(0x40).PutU32(0x10, 0x09000000).bytes();
  const Bytes before = memory;
  static ReferenceList references;
  references.count = 2;
  references.items[0] = {0x10, 0x09000000, 0x08000100};
  references.items[1] = {0x44, 0x09000008, 0x08000100};  // a memory stream cannot seek past its end
  std::FILE* shortStream = fmemopen(memory.data(), memory.size(), "r+b");
  ASSERT_NE(shortStream, nullptr);
  EXPECT_EQ(WriteReferences(shortStream, references), WriteOutcome::kFailedNotRestored);
  std::fclose(shortStream);
  ExpectSameBytes(before, memory);
}
#endif
