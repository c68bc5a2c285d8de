#include "transfer/frame.h"

#include <gtest/gtest.h>

#include "image/audio_locator.h"
#include "support/small_image.h"
#include "support/streams.h"

TEST(TransferFrame, EmptySongListGivesBankHeaderAndTerminator) {
  for (uint32_t first : {0x00000000u, 0x09000000u, 0x07FFFFFFu}) {
    SCOPED_TRACE(first);
    ImageBuilder image;
    image.PutU32(0x100, first).PutU32(0x104, 0xFFFFFFFF);  // a second word that is never read
    const TransferRun run = Extract(image.bytes(), 0x08000100);
    EXPECT_EQ(run.result, TransferResult::kOk);
    EXPECT_EQ(run.console, kPhases.substr(kPhases.find('\n') + 1));
    ExpectSameBytes(LittleEndian({
                        0x08000010, 0x8888684A, 0xD1042800, 0x1C191C08,  // bank header
                        0, 0,                                            // 0x10 terminator
                    }),
                    run.output);
  }
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
  image.PutU32(0x0800020C, 4).PutBytes(0x08000210, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE});
  image.PutInstrumentList(0x08000300, {{0x00003C00, 0x08000200, 0}});
  const TransferRun run = Extract(image.bytes(), 0x08000100);
  EXPECT_EQ(run.result, TransferResult::kOk);
  Bytes want = LittleEndian({
      0, 0x08000028,                    // 0x20 header: no tracks, list 0x08000028
      0x00003C00, 0x08000034, 0,        // 0x28 sample entry: data 0x08000034
      0, 0x08000300, 0, 4, 0xDDCCBBAA,  // 0x34 the header's bytes as a sample
  });
  want.push_back(0xEE);  // 0x48 the byte after its data
  ASSERT_EQ(run.output.size(), 0x49u);
  ExpectSameBytes(want, Bytes(run.output.begin() + 0x20, run.output.end()));
}

TEST(TransferFrame, BankIsASourceThatGivesTheSameBankAgain) {
  const TransferRun first = Extract(EveryKindOfBlock().bytes(), 0x08000100);
  ASSERT_EQ(first.result, TransferResult::kOk);
  EXPECT_EQ(first.output.size(), 0x16Eu);
  std::FILE* bank = StreamOf(first.output);
  EXPECT_EQ(LocateAudioData(bank), 0x08000010u);
  std::fclose(bank);

  const TransferRun second = Extract(first.output, 0x08000010);
  EXPECT_EQ(second.result, TransferResult::kOk);
  ExpectSameBytes(first.output, second.output);
}
