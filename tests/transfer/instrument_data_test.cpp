#include "transfer/instrument_data.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "image/address.h"
#include "support/streams.h"

namespace {

// Blocks the rows' entries name, by source address.
constexpr uint32_t kHuge = 0x08000D40;      // length 0x80000000: 2^30 bytes, far past the end
constexpr uint32_t kMiB = 0x08010000;       // length 0x100000
constexpr uint32_t kOverMiB = 0x08120000;   // length 0x100001
constexpr uint32_t kEdge = 0x08240000;      // length 0x100003: 0x100014 bytes with the byte after
constexpr uint32_t kPastEdge = 0x08350000;  // length 0x100004: one byte more
constexpr uint32_t kLast = 0x08460000;      // length 2: 61 62, where the source ends
constexpr uint32_t kCut = 0x08460020;       // length word 0x0102, cut after its second byte

// One song whose header (no tracks) names the list at 0x08000300 with the row's entries. In the
// bank the header lies at 0x20 and the list copy starts at 0x28; inserted at B, at B + 0x10 and
// B + 0x18, and a new block at B + 0x24.
Bytes OneList(const std::vector<InstrumentEntry>& entries, uint32_t size) {
  ImageBuilder image;
  image.PutSongList(0x08000100, {{0x08000200, 0}});
  image.PutSongHeader(0x08000200, 0, 0x08000300, {});
  image.PutInstrumentList(0x08000300, entries);
  image.PutSample(kHuge, 0x80000000, {});
  image.PutSample(kMiB, 0x100000, Pattern(0x100001, 0x70));
  image.PutSample(kOverMiB, 0x100001, Pattern(0x100002, 0x70));
  image.PutSample(kEdge, 0x100003, {}).PutSample(kPastEdge, 0x100004, {});
  image.PutSample(kLast, 2, {0x61, 0x62}).PutSample(kCut, 0x0102, {});
  return image.Resize(size).bytes();
}

using Words = std::vector<std::pair<size_t, uint32_t>>;  // offset in the output, word there

struct Row {
  const char* name;
  std::vector<InstrumentEntry> entries;
  size_t size;  // of the output; 0 when the transfer fails
  Words words;
  std::string notice = "";
  uint32_t end = kCut + 16;  // where the source ends
  uint32_t target = 0;       // size of the target inserted into; 0: extract
};

// A target whose insert places a block at 0x01EFFFEC: a copy of 0x100014 bytes ends on the
// 32 MiB boundary.
constexpr uint32_t kNearEdge = 0x1EFFFC8;

}  // namespace

// The golden extract of entries.gba holds an entry of every kind; these rows hold the edges of
// sizes, of the window and of the source's end. A sample or wave table that does not lie wholly
// in the source keeps its pointer, however long it says it is.
TEST(InstrumentData, SamplesAreCopiedToTheEdgesOfTheWindowAndOfTheSource) {
  const Row rows[] = {
      {"0x100000 bytes", {{0x3C00, kMiB, 0}}, 0x100045, {{0x34 + 12, 0x100000}}},
      {"0x100001 bytes", {{0x3C00, kOverMiB, 0}}, 0x100046, {}, "8120000\n"},
      {"the byte after reads 0", {{0x3C00, kLast, 0}}, 0x47, {{0x43, 0x00626100}}, "", kLast + 18},
      {"the data one byte short of the end",
       {{0x3C00, kLast, 0}},
       0x34,
       {{0x2C, kLast}},
       "",
       kLast + 17},
      {"a length word cut by the end", {{0x3C00, kCut, 0}}, 0x34, {{0x2C, kCut}}, "", kCut + 14},
      {"a wave table cut by the end", {{0x03, kCut, 0}}, 0x34, {{0x2C, kCut}}, "", kCut + 15},
      {"2^30 bytes", {{0x3C00, kHuge, 0}}, 0x34, {{0x2C, kHuge}}},
      // The key map is placed (at 0x40) and the sample at its address, running past the end,
      // still keeps its pointer.
      {"a key map's address read as a sample past the end",
       {{0x40, 0x08000300, kCut}, {0x3C00, kCut, 0}},
       0xC0,
       {{0x30, 0x08000040}, {0x38, kCut}}},
      {"ends on the 32 MiB boundary",
       {{0x3C00, kEdge, 0}},
       0x2000000,
       {{kNearEdge + 0x1C, 0x09EFFFEC}},
       "8240000\n",
       kCut + 16,
       kNearEdge},
      {"one byte past it", {{0x3C00, kPastEdge, 0}}, 0, {}, "8350000\n", kCut + 16, kNearEdge},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes target(row.target, 0x5A);
    const TransferRun run = Extract(OneList(row.entries, FileOffset(row.end)), 0x08000100,
                                    row.target == 0 ? nullptr : &target);
    EXPECT_EQ(run.result, row.size == 0 ? TransferResult::kOutputTooLarge : TransferResult::kOk);
    EXPECT_EQ(run.console.substr(run.console.rfind("Data...\n") + 8), row.notice);
    if (row.size == 0) continue;
    ASSERT_EQ(run.output.size(), row.size);
    for (const auto& [offset, value] : row.words) {
      EXPECT_EQ(WordAt(run.output, offset), value) << std::hex << "the word at 0x" << offset;
    }
  }
}
