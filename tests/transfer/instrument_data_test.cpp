#include "transfer/instrument_data.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "image/address.h"
#include "support/streams.h"

namespace {

// Blocks the rows' entries name, by source address.
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
  image.PutInstrumentList(0x08000300, entries);
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

// The golden extract of entries.gba holds an entry of every kind; these rows hold the edges of
// sizes and of the source's end.
TEST(InstrumentData, SamplesAreCopiedToTheEdgesOfTheWindowAndOfTheSource) {
  const Row rows[] = {
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
