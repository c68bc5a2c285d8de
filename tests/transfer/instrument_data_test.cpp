#include "transfer/instrument_data.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "image/address.h"
#include "support/streams.h"

namespace {

// Blocks the rows' entries name, by source address.
constexpr uint32_t kPlain = 0x08000A00;     // length 4: 11 12 13 14, then 15
constexpr uint32_t kNegative = 0x08000A20;  // length word 0xFFFFFFFD: 2 data bytes, 21 22
constexpr uint32_t kNoData = 0x08000A40;    // length 0: two more words
constexpr uint32_t kWave = 0x08000A80;
constexpr uint32_t kKeyMap = 0x08000B00;
constexpr uint32_t kNested = 0x08000C00;    // a sample entry (kPlain), then an entry naming itself
constexpr uint32_t kEmpty = 0x08000D00;     // a list whose first entry is invalid
constexpr uint32_t kHuge = 0x08000D40;      // length 0x80000000: 2^30 bytes
constexpr uint32_t kEdge = 0x08000D60;      // its copy at 0x34 ends on the 32 MiB boundary
constexpr uint32_t kPastEdge = 0x08000D80;  // one byte longer
constexpr uint32_t kMiB = 0x08010000;       // length 0x100000
constexpr uint32_t kOverMiB = 0x08120000;   // length 0x100001
constexpr uint32_t kLast = 0x08230000;      // length 2: 61 62, where the source ends
constexpr uint32_t kCut = 0x08230020;       // length word 0x0102, cut after its second byte

// One song whose header (no tracks) names the list at 0x08000300 with the row's entries. In the
// bank the header lies at 0x20 and the list copy starts at 0x28.
Bytes OneList(const std::vector<InstrumentEntry>& entries, uint32_t size) {
  ImageBuilder image;
  image.PutSongList(0x08000100, {{0x08000200, 0}});
  image.PutSongHeader(0x08000200, 0, 0x08000300, {});
  image.PutU32(4, kPlain);  // a list pointer, were a header read at 0
  image.PutInstrumentList(0x08000300, entries);
  image.PutSample(kPlain, 4, {0x11, 0x12, 0x13, 0x14, 0x15});
  image.PutSample(kNegative, 0xFFFFFFFD, {0x21, 0x22, 0x23});
  image.PutSample(kNoData, 0, LittleEndian({0x31313131, 0x32323232}));
  image.PutWaveTable(kWave, Pattern(16, 0x40));
  image.PutKeyMap(kKeyMap, KeyMapOf(2));
  image.PutInstrumentList(kNested, {{0x3C00, kPlain, 0}, {0x80, kNested, 0}});
  image.PutU32(kEmpty, 0x3C05);
  image.PutSample(kHuge, 0x80000000, {});
  image.PutSample(kEdge, 0x2000000 - 0x34 - 17, {}).PutSample(kPastEdge, 0x2000000 - 0x34 - 16, {});
  image.PutSample(kMiB, 0x100000, Pattern(0x100001, 0x70));
  image.PutSample(kOverMiB, 0x100001, Pattern(0x100002, 0x70));
  image.PutSample(kLast, 2, {0x61, 0x62}).PutSample(kCut, 0x0102, {});
  return image.Resize(size).bytes();
}

using Words = std::vector<std::pair<size_t, uint32_t>>;  // offset in the bank, word there

struct Row {
  const char* name;
  std::vector<InstrumentEntry> entries;
  size_t size;  // of the bank; 0 when the transfer fails
  Words words;
  std::string notice = "";
  uint32_t end = kCut + 16;  // where the source ends
};

}  // namespace

// The demo image's whole-run cases cover the common entries; these rows hold the edges.
TEST(InstrumentData, EntriesPlaceTheirBlocksOnceAndPointAtTheCopies) {
  std::vector<InstrumentEntry> full(127, {0x01, kPlain, 0});
  full.push_back({0x3C00, kPlain, 0});
  full.push_back({0x3C00, kNegative, 0});  // entry 128: never read
  const Words nested = {{0x2C, 0x08000034}, {0x30, 0x0800004C}, {0x4C, 0x01000100}};
  const Row rows[] = {
      // N lands at 0x34, the key map at 0x4C, N's sample at 0xCC.
      {"nested, both bits", {{0xC0, kNested, kKeyMap}}, 0xE1, nested},
      {"nested, key map of another top byte", {{0x41, kNested, 0x02000B00}}, 0xE1, nested},
      {"nested, key map 0", {{0x40, kNested, 0}}, 0x61, {{0x30, 0}, {0x38, 0x0800004C}}},
      // A drum kit: all 128 entries of N, then the sample its first entry names.
      {"nested, no key map bit", {{0x81, kNested, kKeyMap}}, 0x649, {{0x30, kKeyMap}}},
      {"nested, list outside", {{0x40, 0x0A000000, kKeyMap}}, 0x34, {{0x30, kKeyMap}}},
      {"nested list empty", {{0x40, kEmpty, 0}, {0x3C00, kPlain, 0}}, 0x55, {{0x38, 0x08000040}}},
      {"sample, wave table and key map at one address",
       {{0x3C00, kPlain, 0}, {0x43, kPlain, 0}, {0x40, 0x08000300, kPlain}},
       0x61,
       {{0x2C, 0x0800004C}, {0x38, 0x0800004C}, {0x44, 0x08000028}, {0x48, 0x0800004C}}},
      // Song headers and instrument data never share a copy: the header's bytes, copied again.
      {"sample at a song header", {{0x3C00, 0x08000200, 0}}, 0x4C, {{0x38, 0x08000300}}},
      {"data outside, and a sample after it",
       {{0x3C00, 0x0A000000, 0}, {0x3C03, 0x07FFFFFF, 0}, {0x3C00, kPlain, 0}},
       0x61,
       {{0x04, 0x8888684A}, {0x2C, 0x0A000000}, {0x38, 0x07FFFFFF}, {0x44, 0x0800004C}}},
      // Reverse (0x10) and compressed (0x20) voices are samples; noise (4) has no data.
      {"voices of every valid type",
       {{0x3C10, kPlain, 0},
        {0x3C28, kNegative, 0},
        {0x3C04, 0, 0},
        {0x3C13, kWave, 0},
        {0x3C30, kNoData, 0}},
       0xB8,
       {{0x2C, 0x08000064},
        {0x38, 0x0800007C},
        {0x44, 0},
        {0x50, 0x08000090},
        {0x5C, 0x080000A0},
        {0x8C, 0x2221}}},
      {"type 5 ends a list", {{0x3C00, kPlain, 0}, {0x3C35, kNegative, 0}}, 0x49, {}},
      {"128 entries", full, 0x63D, {{0x61C, 0x3C00}, {0x620, 0x08000628}}},
      {"0x100000 bytes", {{0x3C00, kMiB, 0}}, 0x100045, {{0x34 + 12, 0x100000}}},
      {"0x100001 bytes", {{0x3C00, kOverMiB, 0}}, 0x100046, {}, "8120000\n"},
      {"the byte after reads 0", {{0x3C00, kLast, 0}}, 0x47, {{0x43, 0x00626100}}, "", kLast + 18},
      {"a length word cut by the end", {{0x3C00, kCut, 0}}, 0x147, {{0x40, 0x102}}, "", kCut + 14},
      {"ends on the 32 MiB boundary", {{0x3C00, kEdge, 0}}, 0x2000000, {}, "8000D60\n"},
      {"one byte past it", {{0x3C00, kPastEdge, 0}}, 0, {}, "8000D80\n"},
      {"2^30 bytes", {{0x3C00, kHuge, 0}}, 0, {}, "8000D40\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const TransferRun run = Extract(OneList(row.entries, FileOffset(row.end)), 0x08000100);
    EXPECT_EQ(run.result, row.size == 0 ? TransferResult::kOutputTooLarge : TransferResult::kOk);
    EXPECT_EQ(run.console.substr(run.console.rfind("Data...\n") + 8), row.notice);
    if (row.size == 0) continue;
    ASSERT_EQ(run.output.size(), row.size);
    for (const auto& [offset, value] : row.words) {
      EXPECT_EQ(WordAt(run.output, offset), value) << std::hex << "the word at 0x" << offset;
    }
  }
}
