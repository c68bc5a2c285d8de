#include "transfer/frame.h"

#include <gtest/gtest.h>

#include "image/audio_locator.h"
#include "support/small_image.h"
#include "support/streams.h"

namespace {

constexpr char kAnnouncements[] =
    "Transferring Song List...\nTransferring Song Data...\n"
    "Transferring Instrument Lists...\nTransferring Instrument Data...\n";

}  // namespace

TEST(TransferFrame, EmptySongListGivesBankHeaderAndTerminator) {
  for (uint32_t first : {0x00000000u, 0x09000000u, 0x07FFFFFFu}) {
    SCOPED_TRACE(first);
    ImageBuilder image;
    image.PutU32(0x100, first).PutU32(0x104, 0xFFFFFFFF);  // a second word that is never read
    const TransferRun run = Extract(image.bytes(), 0x08000100);
    EXPECT_EQ(run.result, TransferResult::kOk);
    EXPECT_EQ(run.console, kAnnouncements);
    ExpectSameBytes(LittleEndian({
                        0x08000010, 0x8888684A, 0xD1042800, 0x1C191C08,  // bank header
                        0, 0,                                            // 0x10 terminator
                    }),
                    run.output);
  }
}

TEST(TransferFrame, OddInsertBaseSkipsOneByteAndFillsBeforeTheFirstHeader) {
  ImageBuilder image;
  image.PutSongList(0x08000100, {{0x08000200, 0x12345678}});
  image.PutSongHeader(0x08000200, 1, 0, {0x08000300});
  image.PutTrack(0x08000300, {0xB2, 0x00, 0x03, 0x00, 0x08, 0xB1});
  const Bytes target(0x102, 0xEE);

  // Base 0x08000101 becomes 0x08000102; the byte at 0x101 keeps the target's value.
  Bytes want = target;
  const Bytes output = {
      0x14, 0x01, 0x00, 0x08, 0x78, 0x56, 0x34, 0x12,  // 0x102 entry 0: header 0x08000114
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 0x10A terminator
      0x00, 0x00,                                      // 0x112 fill
      0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 0x114 header: 1 track, no list
      0x20, 0x01, 0x00, 0x08,                          // 0x11C track at 0x08000120
      0xB2, 0x20, 0x01, 0x00, 0x08, 0xB1,              // 0x120 track: B2 (0x08000120) B1
  };
  want.insert(want.end(), output.begin(), output.end());
  const TransferRun run = Insert(image.bytes(), 0x08000100, target, 0x08000101);
  EXPECT_EQ(run.result, TransferResult::kOk);
  EXPECT_EQ(run.console, kAnnouncements);
  ExpectSameBytes(want, run.output);
}

TEST(TransferFrame, BlockTableHolds1024SongHeaders) {
  // Distinct headers past the end of the source: each reads as 0 tracks.
  std::vector<SongEntry> songs;
  for (uint32_t i = 0; i < 1025; ++i) songs.push_back({0x08100000 + 8 * i, 0});
  ImageBuilder image;
  image.PutSongList(0x08000100, {songs.begin(), songs.end() - 1});
  const TransferRun full = Extract(image.bytes(), 0x08000100);
  EXPECT_EQ(full.result, TransferResult::kOk);
  // 16 + 1025 * 8 bytes of bank header and song list, then 1024 headers of 8 bytes.
  EXPECT_EQ(full.output.size(), 0x4018u);

  image.PutSongList(0x08000100, songs);
  EXPECT_EQ(Extract(image.bytes(), 0x08000100).result, TransferResult::kTooManyBlocks);
}

TEST(TransferFrame, SongHeadersAndInstrumentDataNeverShareACopy) {
  // The sample entry names the song header's own address; the relocation table is fresh for
  // instrument data, so the 16 bytes there are copied again as a sample of 4 data bytes.
  ImageBuilder image;
  image.PutSongList(0x08000100, {{0x08000200, 0}});
  image.PutSongHeader(0x08000200, 0, 0x08000300, {});
  image.PutU32(0x0800020C, 4).PutBytes(0x08000210, {0xAA, 0xBB, 0xCC, 0xDD});
  image.PutInstrumentList(0x08000300, {{0x00003C00, 0x08000200, 0}});
  const TransferRun run = Extract(image.bytes(), 0x08000100);
  EXPECT_EQ(run.result, TransferResult::kOk);
  ASSERT_EQ(run.output.size(), 0x49u);
  Bytes want = LittleEndian({
      0, 0x08000028,                    // 0x20 header: no tracks, list 0x08000028
      0x00003C00, 0x08000034, 0,        // 0x28 sample entry: data 0x08000034
      0, 0x08000300, 0, 4, 0xDDCCBBAA,  // 0x34 the header's bytes as a sample
  });
  want.push_back(0);  // 0x48 the byte after its data
  ExpectSameBytes(want, Bytes(run.output.begin() + 0x20, run.output.end()));
}

TEST(TransferFrame, BankIsASourceThatGivesTheSameBankAgain) {
  const TransferRun first = Extract(EveryKindOfBlock().bytes(), 0x08000100);
  ASSERT_EQ(first.result, TransferResult::kOk);
  EXPECT_EQ(first.output.size(), 0x176u);
  std::FILE* bank = StreamOf(first.output);
  EXPECT_EQ(LocateAudioData(bank), 0x08000010u);
  std::fclose(bank);

  const TransferRun second = Extract(first.output, 0x08000010);
  EXPECT_EQ(second.result, TransferResult::kOk);
  ExpectSameBytes(first.output, second.output);
}
