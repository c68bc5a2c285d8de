#include "transfer/transfer.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/music.h"
#include "support/streams.h"

namespace {

// Every kind of block, laid out from base + 0x100: one song, a track pointing into itself, a
// list with a sample, a wave table and a nested entry whose list names the sample again.
Bytes EveryKindOfBlock(uint32_t base) {
  ImageBuilder image;
  image.PutSignature(0x10, base + 0x100).PutSongList(base + 0x100, {{base + 0x200, 0x11}});
  image.PutSongHeader(base + 0x200, 0x01, base + 0x300, {base + 0x280});
  Bytes track = {0xBC, 0xB2};
  for (uint8_t byte : LittleEndian({base + 0x281})) track.push_back(byte);
  track.push_back(0xB1);
  image.PutTrack(base + 0x280, track);
  image.PutInstrumentList(
      base + 0x300,
      {{0x3C00, base + 0x400, 0}, {0x3C03, base + 0x480, 0}, {0x3C40, base + 0x500, base + 0x600}});
  image.PutSample(base + 0x400, 3, {0x31, 0x32, 0x33, 0x34});
  image.PutWaveTable(base + 0x480, Pattern(16, 0x48));
  image.PutInstrumentList(base + 0x500, {{0x3C00, base + 0x400, 0}});
  image.PutKeyMap(base + 0x600, KeyMapOf(1));
  return image.bytes();
}

// A drum kit and a key-split list as games lay them out to save space.
constexpr uint32_t kKit = 0x08001000;
constexpr uint32_t kSplit = 0x08002000;
constexpr uint32_t kDrum = 0x08003000;
constexpr uint32_t kLow = 0x08003100;
constexpr uint32_t kHigh = 0x08003200;
constexpr uint32_t kUnnamed = 0x08003300;
constexpr uint32_t kWave = 0x08003400;
constexpr uint32_t kLong = 0x08003500;  // its data runs past the end of the image

Bytes KitAndSplit() {
  ImageBuilder image;
  image.PutSignature(0x10, 0x08000100).PutSongList(0x08000100, {{0x08000200, 0}});
  image.PutSongHeader(0x08000200, 0, 0x08000300, {});
  image.PutInstrumentList(0x08000300, {{0x80, kKit, 0}, {0x40, kSplit, 0x08001800}});
  // The kit starts 36 entries in front of its first drum: entry 1 ends it by the list rule, and
  // what follows is whatever lies there.
  image.PutInstrumentList(kKit, {{0x3C01, 0, 0}, {0, kDrum, 0}, {0x3C05, kDrum, 0}});
  image.PutInstrumentList(kKit + 12 * 10, {{0x3C00, 0x08FFFFF0, 0},  // outside the image
                                           {0x80, kSplit, 0},        // nested: stays as bytes
                                           {0x3C00, kLong, 0}});
  image.PutInstrumentList(
      kKit + 12 * 36,
      {{0x3C00, kDrum, 0}, {0x3C03, kWave, 0}, {0x3C01, 0, 0x12345678}, {0x3C00, kDrum, 0}});
  // Keys 0 to 59 play entry 0, keys 60 to 127 entry 200, far past the end of the list's run.
  Bytes keyMap(128, 0);
  std::fill(keyMap.begin() + 60, keyMap.end(), uint8_t{200});
  image.PutKeyMap(0x08001800, keyMap);
  image.PutInstrumentList(kSplit, {{0x3C00, kLow, 0}});
  image.PutInstrumentList(kSplit + 12 * 100, {{0x3C00, kUnnamed, 0}});
  image.PutInstrumentList(kSplit + 12 * 200, {{0x3C00, kHigh, 0}});
  for (uint32_t sample : {kDrum, kLow, kHigh, kUnnamed}) {
    image.PutSample(sample, 4, Pattern(5, static_cast<uint8_t>(sample >> 8)));
  }
  image.PutWaveTable(kWave, Pattern(16, 0x44));
  return image.PutSample(kLong, 0x1000, {}).Resize(0x3600).bytes();
}

}  // namespace

// A game whose music was moved past 16 MiB holds it at 0x09xxxxxx: every pointer the transfer
// follows there is followed as it would be at 0x08xxxxxx.
TEST(Transfer, AudioDataAbove16MiBIsCopiedInFull) {
  const Bytes high = EveryKindOfBlock(0x09000000);
  const TransferRun run = Extract(high, 0x09000100);
  EXPECT_EQ(run.result, TransferResult::kOk);
  ASSERT_EQ(run.output.size(), 0x108u);
  ExpectSameMusic(high, run.output);
  // The same data at 0x08xxxxxx gives the same bank.
  ExpectSameBytes(Extract(EveryKindOfBlock(0x08000000), 0x08000100).output, run.output);
}

// A drum kit is indexed by key and a key-split list through its key map, both past their first
// invalid entry: their copies used to end there, and the game played whatever followed.
TEST(Transfer, DrumKitsAndKeySplitListsAreCopiedAsFarAsTheEngineIndexesThem) {
  const Bytes source = KitAndSplit();
  const TransferRun bank = Extract(source, 0x08000100);
  ASSERT_EQ(bank.result, TransferResult::kOk);
  // The song's list at 0x28, the kit's 128 entries at 0x40, the split list's 201 at 0x640, its
  // key map at 0xFAC; then the drum (0x102C), the wave table (0x1044), the split list's low
  // sample (0x1054) and high one (0x106C).
  ASSERT_EQ(bank.output.size(), 0x1081u);
  EXPECT_EQ(WordAt(bank.output, 0x640 + 12 * 100 + 4), kUnnamed);  // no key names it
  ExpectSameMusic(source, bank.output);
  ExpectSameMusic(source, Extract(bank.output, 0x08000010).output);
  const Bytes target(0x3602, 0xFF);
  ExpectSameMusic(source, Extract(source, 0x08000100, &target).output, 0x08003604);
}

// A game's drum kit that no song plays is a table of pointers into its data, three to an entry.
// Its ninth entry reads as a fixed-pitch sample whose length word asks for 503 MB, far past the
// end of the image: the engine could never read it, yet it stopped every copy of the game's music
// at the 32 MiB window. Now it keeps its pointer and the rest is copied.
TEST(Transfer, ASampleRunningPastTheSourceKeepsItsPointer) {
  constexpr uint32_t kTable = 0x08001000;
  constexpr uint32_t kStrange = 0x08001800;  // where the ninth entry's data word points
  constexpr uint32_t kPlayed = 0x08001900;
  ImageBuilder image;
  image.PutSignature(0x10, 0x08000100).PutSongList(0x08000100, {{0x08000200, 0}});
  image.PutSongHeader(0x08000200, 0, 0x08000300, {});
  image.PutInstrumentList(0x08000300, {{0x80, kTable, 0}, {0x3C00, kPlayed, 0}});
  // Type bytes 0x01, 0x02 and 0x04 point to nothing; 0x08 is a fixed-pitch sample; 0x06 ends
  // the list by the list rule.
  for (uint32_t k = 0; k < 128; ++k) {
    const uint32_t type = k < 8 ? (1u << (k % 3)) : k == 8 ? 0x08 : 0x06;
    image.PutU32(kTable + 12 * k, 0x08004000 + 0x100 * k + type);
    image.PutU32(kTable + 12 * k + 4, k == 8 ? kStrange : 0x08004010 + 0x100 * k);
    image.PutU32(kTable + 12 * k + 8, 0x08004020 + 0x100 * k);
  }
  image.PutSample(kStrange, 503000000, {});
  const Bytes source = image.PutSample(kPlayed, 4, Pattern(5, 0x50)).Resize(0x2000).bytes();

  const TransferRun bank = Extract(source, 0x08000100);
  ASSERT_EQ(bank.result, TransferResult::kOk);
  // The song's list at 0x28, the kit's 128 entries at 0x40, the played sample at 0x640.
  ASSERT_EQ(bank.output.size(), 0x655u);
  EXPECT_EQ(WordAt(bank.output, 0x40 + 12 * 8 + 4), kStrange);
  EXPECT_EQ(WordAt(bank.output, 0x28 + 12 + 4), 0x08000640u);
  ExpectSameMusic(source, bank.output);
  const Bytes target(0x3602, 0xFF);
  const TransferRun inserted = Extract(source, 0x08000100, &target);
  ASSERT_EQ(inserted.result, TransferResult::kOk);
  ExpectSameMusic(source, inserted.output, 0x08003604);
  uint32_t bytes = 0;
  EXPECT_EQ(MeasureAudioData(source.data(), source.size(), 0x08000100, nullptr, bytes),
            TransferResult::kOk);
  EXPECT_EQ(bytes, 0x645u);
}
