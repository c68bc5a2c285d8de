#include "transfer/frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/streams.h"

namespace {

constexpr uint32_t kSongList = 0x08000100;
constexpr uint32_t kHeaders = 0x08004000;  // 8 bytes each
constexpr uint32_t kLists = 0x08008000;
constexpr uint32_t kFar = 0x08100000;  // past the end of most images here: reads as zeros

// n songs whose headers follow one another from kHeaders, the list of header i at list(i).
ImageBuilder Songs(uint32_t n, uint32_t (*list)(uint32_t)) {
  ImageBuilder image;
  std::vector<SongEntry> songs;
  for (uint32_t i = 0; i < n; ++i) {
    songs.push_back({kHeaders + 8 * i, 0});
    image.PutSongHeader(kHeaders + 8 * i, 0, list(i), {});
  }
  return image.PutSongList(kSongList, songs);
}

// n entries, 128 a list (each list from its own song), entry i made by entry(i).
Bytes Entries(uint32_t n, InstrumentEntry (*entry)(uint32_t)) {
  ImageBuilder image = Songs((n + 127) / 128, [](uint32_t j) { return kLists + 0x600 * j; });
  std::vector<InstrumentEntry> entries;
  for (uint32_t i = 0; i < n; ++i) entries.push_back(entry(i));
  for (uint32_t j = 0; 128 * j < n; ++j) {
    const auto first = entries.begin() + 128 * j;
    image.PutInstrumentList(kLists + 0x600 * j, {first, first + std::min(128u, n - 128 * j)});
  }
  return image.bytes();
}

InstrumentEntry Sample(uint32_t i) { return {0x3C00, kFar + 32 * i, 0}; }          // 24-byte copy
InstrumentEntry Wave(uint32_t i) { return {0x03, kFar + 32 * i, 0}; }              // 16 bytes
InstrumentEntry KeyMap(uint32_t i) { return {0x40, 0x08200000, kFar + 128 * i}; }  // 128 bytes

// Lists hold one entry that names no block (12 bytes) or a nested list.
constexpr InstrumentEntry kPlainEntry = {0x01, 0, 0};

}  // namespace

TEST(Frame, EveryRelocationTableHolds1024BlocksAndRefusesThe1025th) {
  struct Row {
    const char* name;
    Bytes (*image)(uint32_t n);  // n distinct blocks of the row's kind
    size_t size;                 // of the bank for 1024
  };
  const Row rows[] = {
      // 16 + 1026 * 8 bytes of bank header and song list, then 1024 headers of 8 bytes. The last
      // entry names the 65th header again, found in its slot behind 959 others.
      {"song headers",
       [](uint32_t n) {
         std::vector<SongEntry> songs;
         for (uint32_t i = 0; i < n; ++i) songs.push_back({kFar + 8 * i, 0});
         songs.push_back(songs[64]);
         return ImageBuilder().PutSongList(kSongList, songs).bytes();
       },
       0x4020},
      // The 1025th list can only be nested: 1024 headers name at most 1024 lists.
      {"instrument lists",
       [](uint32_t n) {
         ImageBuilder image = Songs(1024, [](uint32_t i) { return kLists + 16 * i; });
         for (uint32_t i = 0; i < 1024; ++i) {
           image.PutInstrumentList(kLists + 16 * i, {kPlainEntry});
         }
         if (n > 1024) image.PutInstrumentList(kLists, {{0x80, kFar, 0}});
         return image.bytes();
       },
       0x7018},
      // One song's list names the next, and that one the next, n lists in all (key maps of 0:
      // none, so each list ends at its first invalid entry).
      {"nested lists",
       [](uint32_t n) {
         ImageBuilder image = Songs(1, [](uint32_t) { return kLists; });
         for (uint32_t i = 0; i + 1 < n; ++i) {
           image.PutInstrumentList(kLists + 16 * i, {{0x40, kLists + 16 * (i + 1), 0}});
         }
         return image.PutInstrumentList(kLists + 16 * (n - 1), {kPlainEntry}).bytes();
       },
       0x3028},
      // 8 songs and 8 lists of 128 entries end at 0x3098, the blocks follow. A key map of zeros
      // names entry 0 of its list at 0x08200000, which is copied although it reads as invalid.
      // Samples, wave tables and key maps share one table: 342, 341 and 341 of them. The image
      // holds the zeros of every sample and wave table, so each is followed.
      {"samples, wave tables and key maps together",
       [](uint32_t n) {
         Bytes bytes = Entries(n, [](uint32_t i) {
           return i % 3 == 0 ? Sample(i) : i % 3 == 1 ? Wave(i) : KeyMap(i);
         });
         bytes.resize(FileOffset(kFar) + 32 * 1025);
         return bytes;
       },
       0x11084},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const TransferRun full = Extract(row.image(1024), kSongList);
    EXPECT_EQ(full.result, TransferResult::kOk);
    EXPECT_EQ(full.output.size(), row.size);
    EXPECT_EQ(Extract(row.image(1025), kSongList).result, TransferResult::kTooManyBlocks);
  }
}
