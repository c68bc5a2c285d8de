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
  ASSERT_EQ(run.output.size(), 0xCCu);
  ExpectWords(run.output, {
                              {0x34, 0x08000048},  // A's list: L1, copied once
                              {0x3C, 0x08000060},  // B's list: L2
                              {0x44, 0x08000048},  // C's list: L1
                              {0x4C, 0x08000078},  // L1 -> N, copied at its entry's turn
                              {0x58, 0x08000090},  // L1 sample, 18 bytes
                              {0x64, 0x080000A4},  // L2 sample, after 2 fill bytes
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
       0x61,  // a 21-byte sample
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
  // 1536 bytes of list from 0x28, then the 21-byte sample.
  ASSERT_EQ(run.output.size(), 0x63Du);
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
      {0x00000001, TransferResult::kOk, 0x46, false},  // the data byte and the one after it
      {0xFFFFFFFF, TransferResult::kOk, 0x45, false},
      {0xFFFFFFFE, TransferResult::kOk, 0x45, false},
      {0xFFFFFFFD, TransferResult::kOk, 0x46, false},
      {0x00100000, TransferResult::kOk, 0x100045, false},
      {0x00100001, TransferResult::kOk, 0x100046, true},
      {0x01FFFFBB, TransferResult::kOk, 0x2000000, true},  // ends on the 32 MiB boundary
      {0x01FFFFBC, TransferResult::kOutputTooLarge, 0, true},
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

TEST(InstrumentData, SampleKeepsTheByteAfterItsData) {
  // The 3-byte sample's fourth byte is read by the sound engine: it lands at 0x53, where the next
  // sample's fill would otherwise go. The last sample ends the source, so its extra byte is 0.
  ImageBuilder image = OneList({{0x3C00, 0x08000400, 0}, {0x3C00, 0x08000420, 0}});
  image.PutSample(0x08000400, 3, {0xA1, 0xA2, 0xA3, 0xA4});
  image.PutSample(0x08000420, 1, {0xB1});
  const TransferRun run = Extract(image.bytes(), 0x08000100);
  EXPECT_EQ(run.result, TransferResult::kOk);
  ASSERT_EQ(run.output.size(), 0x66u);
  ExpectWords(run.output, {{0x2C, 0x08000040}, {0x38, 0x08000054}, {0x50, 0xA4A3A2A1}});
  EXPECT_EQ(run.output[0x64], 0xB1);
  EXPECT_EQ(run.output[0x65], 0x00);
}

TEST(InstrumentData, ReverseAndCompressedVoicesKeepTheListGoing) {
  // Entry 0 has the type byte of the row, entry 1 names a 2-byte sample at 0x08000440. The list
  // copy starts at 0x28; a list that keeps both entries ends at 0x40.
  const struct {
    uint32_t word0;
    size_t size;
    uint32_t entry0Data;  // the word at 0x2C
  } rows[] = {
      {0x3C10, 0x6B, 0x08000040},  // reverse sample: 21 bytes at 0x40, the other at 0x58
      {0x3C18, 0x6B, 0x08000040},  // reverse, type number 0 with bit 3
      {0x3C20, 0x6B, 0x08000040},  // compressed sample
      {0x3C30, 0x6B, 0x08000040},
      {0x3C13, 0x63, 0x08000040},  // wave table: 16 bytes at 0x40, the sample at 0x50
      {0x3C04, 0x53, 0x08000400},  // noise: no data, the sample at 0x40
      {0x3C35, 0x28, 0},           // type number 5: the list is empty
      {0x3C07, 0x28, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.word0);
    ImageBuilder image = OneList({{row.word0, 0x08000400, 0}, {0x3C00, 0x08000440, 0}});
    image.PutSample(0x08000400, 4, {1, 2, 3, 4, 5});
    image.PutSample(0x08000440, 2, {6, 7, 8});
    const TransferRun run = Extract(image.bytes(), 0x08000100);
    EXPECT_EQ(run.result, TransferResult::kOk);
    ASSERT_EQ(run.output.size(), row.size);
    if (row.entry0Data != 0) {
      EXPECT_EQ(WordAt(run.output, 0x2C), row.entry0Data);
    }
  }
}
