#include "transfer/instrument_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "support/streams.h"

namespace {

// One song whose header (no tracks) names the list at 0x08000300. In the bank the header lies at
// 0x20 and the list copy starts at 0x28.
ImageBuilder OneList(const std::vector<InstrumentEntry>& entries) {
  ImageBuilder image;
  image.PutSongList(0x08000100, {{0x08000200, 0}});
  image.PutSongHeader(0x08000200, 0, 0x08000300, {});
  image.PutInstrumentList(0x08000300, entries);
  return image;
}

using Words = std::vector<std::pair<size_t, uint32_t>>;  // offset in the bank, word there

void ExpectWords(const Bytes& bank, const Words& words) {
  for (const auto& [offset, value] : words) {
    EXPECT_EQ(WordAt(bank, offset), value) << std::hex << "the word at 0x" << offset;
  }
}

}  // namespace

TEST(InstrumentData, NestedListsAreWalkedAfterEveryListKnownWhenMet) {
  // Songs A, B, C name lists L1, L2, L1. L1 nests N; L2 nests L1; N nests itself.
  ImageBuilder image;
  image.PutSongList(0x08000100, {{0x08000200, 0}, {0x08000240, 0}, {0x08000280, 0}});
  image.PutSongHeader(0x08000200, 0, 0x08000300, {});
  image.PutSongHeader(0x08000240, 0, 0x08000340, {});
  image.PutSongHeader(0x08000280, 0, 0x08000300, {});
  image.PutInstrumentList(0x08000300, {{0x80, 0x08000380, 0}, {0x3C00, 0x08000400, 0}});
  image.PutInstrumentList(0x08000340, {{0x3C00, 0x08000420, 0}, {0x80, 0x08000300, 0}});
  image.PutInstrumentList(0x08000380, {{0x3C00, 0x08000440, 0}, {0x80, 0x08000380, 0}});
  image.PutSample(0x08000400, 1, {0x11});
  image.PutSample(0x08000420, 2, {0x22, 0x22});
  image.PutSample(0x08000440, 3, {0x33, 0x33, 0x33});

  const TransferRun run = Extract(image.bytes(), 0x08000100);
  EXPECT_EQ(run.result, TransferResult::kOk);
  ASSERT_EQ(run.output.size(), 0xCBu);
  ExpectWords(run.output, {
                              {0x34, 0x08000048},  // A's list: L1, copied once
                              {0x3C, 0x08000060},  // B's list: L2
                              {0x44, 0x08000048},  // C's list: L1
                              {0x4C, 0x08000078},  // L1 -> N, copied at its entry's turn
                              {0x58, 0x08000090},  // L1 sample, 17 bytes
                              {0x64, 0x080000A4},  // L2 sample, after 3 fill bytes
                              {0x70, 0x08000048},  // L2 -> L1, not copied again
                              {0x7C, 0x080000B8},  // N sample, after L2's
                              {0x88, 0x08000078},  // N -> N
                          });
}

TEST(InstrumentData, SampleWaveTableAndKeyMapAtOneAddressShareOneCopy) {
  // Entries 0 to 2 of the list at 0x28; the block at 0x08000400 lands at 0x4C whichever kind
  // meets it first, and the output size tells which kind was copied.
  const InstrumentEntry sample{0x3C00, 0x08000400, 0};
  const InstrumentEntry wave{0x03, 0x08000400, 0};
  const InstrumentEntry keyMap{0x40, 0x08000300, 0x08000400};  // nests its own list
  const struct {
    std::vector<InstrumentEntry> entries;
    size_t size;
    Words words;
  } cases[] = {
      {{sample, wave, keyMap},
       0x60,  // a 20-byte sample
       {{0x2C, 0x0800004C}, {0x38, 0x0800004C}, {0x44, 0x08000028}, {0x48, 0x0800004C}}},
      {{keyMap, sample, wave},
       0xCC,  // a 128-byte key map
       {{0x2C, 0x08000028}, {0x30, 0x0800004C}, {0x38, 0x0800004C}, {0x44, 0x0800004C}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    ImageBuilder image = OneList(c.entries);
    image.PutSample(0x08000400, 4, {1, 2, 3, 4});
    const TransferRun run = Extract(image.bytes(), 0x08000100);
    EXPECT_EQ(run.result, TransferResult::kOk);
    ASSERT_EQ(run.output.size(), c.size);
    ExpectWords(run.output, c.words);
  }
}

TEST(InstrumentData, ListEndsAfter128EntriesWithoutReadingThe129th) {
  // Entry 127 names one sample and entry 128 another; only the first is copied.
  std::vector<InstrumentEntry> entries(127, {0x01, 0x08000400, 0});
  entries.push_back({0x3C00, 0x08001000, 0});
  entries.push_back({0x3C00, 0x08001100, 0});
  ImageBuilder image = OneList(entries);
  image.PutSample(0x08001000, 4, {1, 2, 3, 4});
  image.PutSample(0x08001100, 8, Pattern(8, 0));
  const TransferRun run = Extract(image.bytes(), 0x08000100);
  EXPECT_EQ(run.result, TransferResult::kOk);
  // 1536 bytes of list from 0x28, then the 20-byte sample.
  ASSERT_EQ(run.output.size(), 0x63Cu);
  ExpectWords(run.output, {{0x61C, 0x3C00}, {0x620, 0x08000628}, {0x634, 4}});
}

TEST(InstrumentData, SampleLengthWordSetsTheDataCopied) {
  const struct {
    uint32_t lengthWord;
    TransferResult result;
    size_t size;  // the sample copy starts at 0x34, its data at 0x44
    bool notice;
  } cases[] = {
      {0x00000000, TransferResult::kOk, 0x4C, false},  // two more words
      {0xFFFFFFFF, TransferResult::kOk, 0x45, false},
      {0xFFFFFFFE, TransferResult::kOk, 0x45, false},
      {0xFFFFFFFD, TransferResult::kOk, 0x46, false},
      {0x00100000, TransferResult::kOk, 0x100044, false},
      {0x00100001, TransferResult::kOk, 0x100045, true},
      {0x01FFFFBC, TransferResult::kOk, 0x2000000, true},  // ends on the 32 MiB boundary
      {0x01FFFFBD, TransferResult::kOutputTooLarge, 0, true},
      // 2^30 data bytes pass the 32 MiB window: the transfer stops instead of writing 1 GiB.
      {0x80000000, TransferResult::kOutputTooLarge, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lengthWord);
    ImageBuilder image = OneList({{0x3C00, 0x0812ABCD, 0}});
    image.PutSample(0x0812ABCD, c.lengthWord, Pattern(8, 0x40));
    const TransferRun run = Extract(image.bytes(), 0x08000100);
    EXPECT_EQ(run.result, c.result);
    if (c.result != TransferResult::kOk) {
      EXPECT_LE(run.output.size(), 0x2000000u);  // nothing past the window
      continue;
    }
    const std::string notice = c.notice ? "812ABCD\n" : "";
    EXPECT_TRUE(run.console.ends_with("Instrument Data...\n" + notice)) << run.console;
    ASSERT_EQ(run.output.size(), c.size);
    const auto shown = static_cast<uint32_t>(std::min<size_t>(c.size - 0x44, 8));
    ExpectSameBytes(Pattern(shown, 0x40),
                    Bytes(run.output.begin() + 0x44, run.output.begin() + 0x44 + shown));
  }
}
