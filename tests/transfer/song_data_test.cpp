#include "transfer/song_data.h"

#include <gtest/gtest.h>

#include "support/streams.h"

namespace {

// One song at 0x08000100 whose header at 0x08000200 has the given tracks; its instrument list
// pointer lies outside the cartridge, so it is not followed.
ImageBuilder OneSong(uint32_t firstWord, const std::vector<uint32_t>& tracks) {
  ImageBuilder image;
  image.PutSongList(0x08000100, {{0x08000200, 0}});
  image.PutSongHeader(0x08000200, firstWord, 0x0A000000, tracks);
  return image;
}

}  // namespace

TEST(SongData, SharedHeaderIsCopiedOnceAndTracksMoveWithTheirOperands) {
  ImageBuilder image;
  image.PutSongList(0x08000100,
                    {{0x08000200, 0xAAAA0001}, {0x08000300, 0xAAAA0002}, {0x08000200, 0xAAAA0003}});
  image.PutSongHeader(0x08000200, 0x30201002, 0, {0x08000400, 0x08000500});
  image.PutSongHeader(0x08000300, 0x60504001, 0, {0x08000400});
  image.PutTrack(0x08000400, {0xBC, 0x01, 0xB2, 0x02, 0x04, 0x00, 0x08,  //
                              0x05, 0xB3, 0x00, 0x05, 0x00, 0x08, 0xB1});
  image.PutTrack(0x08000500, {0x10, 0xB2, 0xF0, 0x04, 0x00, 0x08, 0x20, 0xB1});

  const Bytes want = {
      0x10, 0x00, 0x00, 0x08, 0x4A, 0x68, 0x88, 0x88,  // 0x00 bank header: song list 0x08000010,
      0x00, 0x28, 0x04, 0xD1, 0x08, 0x1C, 0x19, 0x1C,  // 0x08 then the signature
      0x30, 0x00, 0x00, 0x08, 0x01, 0x00, 0xAA, 0xAA,  // 0x10 entry 0: header 0x08000030, w1
      0x58, 0x00, 0x00, 0x08, 0x02, 0x00, 0xAA, 0xAA,  // 0x18 entry 1: header 0x08000058, w2
      0x30, 0x00, 0x00, 0x08, 0x03, 0x00, 0xAA, 0xAA,  // 0x20 entry 2: header 0x08000030, w3
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 0x28 terminator
      0x02, 0x10, 0x20, 0x30, 0x00, 0x00, 0x00, 0x00,  // 0x30 header: 2 tracks, no list
      0x40, 0x00, 0x00, 0x08, 0x4E, 0x00, 0x00, 0x08,  // 0x38 tracks at 0x08000040, 0x0800004E
      0xBC, 0x01, 0xB2, 0x42, 0x00, 0x00, 0x08,        // 0x40 track: BC 01 B2 (0x08000042)
      0x05, 0xB3, 0x40, 0x01, 0x00, 0x08, 0xB1,        // 0x47 05 B3 (0x08000140) B1
      0x10, 0xB2, 0x3E, 0x00, 0x00, 0x08, 0x20, 0xB1,  // 0x4E track: 10 B2 (0x0800003E) 20 B1
      0x00, 0x00,                                      // 0x56 fill
      0x01, 0x40, 0x50, 0x60, 0x00, 0x00, 0x00, 0x00,  // 0x58 header: 1 track, no list
      0x64, 0x00, 0x00, 0x08,                          // 0x60 track at 0x08000064
      0xBC, 0x01, 0xB2, 0x66, 0x00, 0x00, 0x08,        // 0x64 track: BC 01 B2 (0x08000066)
      0x05, 0xB3, 0x64, 0x01, 0x00, 0x08, 0xB1,        // 0x6B 05 B3 (0x08000164) B1
  };
  const TransferRun run = Extract(image.bytes(), 0x08000100);
  EXPECT_EQ(run.result, TransferResult::kOk);
  ASSERT_EQ(want.size(), 0x72u);
  ExpectSameBytes(want, run.output);
}

TEST(SongData, TwoHundredFiftyFiveSlotsGetACopyEach) {
  // 255 slots naming one 6-byte track (B2 to its own start, B1): 255 separate copies behind a
  // 1028-byte header at 0x20, each operand pointing at its own copy.
  ImageBuilder image = OneSong(0x000000FF, std::vector<uint32_t>(255, 0x08001000));
  image.PutTrack(0x08001000, {0xB2, 0x00, 0x10, 0x00, 0x08, 0xB1});
  const TransferRun run = Extract(image.bytes(), 0x08000100);
  EXPECT_EQ(run.result, TransferResult::kOk);
  ASSERT_EQ(run.output.size(), 0xA1Eu);
  EXPECT_EQ(WordAt(run.output, 0x420), 0x08000A18u);  // slot 254
  EXPECT_EQ(WordAt(run.output, 0xA19), 0x08000A18u);
}

TEST(SongData, OperandBytesAreNeverTakenForCommands) {
  ImageBuilder image = OneSong(1, {0x08000300});
  image.PutTrack(0x08000300, {0x01, 0xB2, 0xB3, 0xB2, 0xB1, 0x08,  // operand 0x08B1B2B3
                              0x05, 0xB3, 0xB1, 0x03, 0x00, 0x08,  // operand 0x080003B1
                              0x07, 0xB2, 0x00, 0x00, 0x00, 0x00,  // operand 0, below the track
                              0xB1});
  const Bytes want = {
      0x01, 0xB2, 0xDF, 0xAF, 0xB1, 0x08,  // 0x2C 0x08B1B2B3 moved down by 0x2D4
      0x05, 0xB3, 0xDD, 0x00, 0x00, 0x08,  // 0x32 0x080000DD
      0x07, 0xB2, 0x2C, 0xFD, 0xFF, 0xFF,  // 0x38 wraps to 0xFFFFFD2C
      0xB1,                                // 0x3E end
  };
  const TransferRun run = Extract(image.bytes(), 0x08000100);
  EXPECT_EQ(run.result, TransferResult::kOk);
  ASSERT_EQ(run.output.size(), 0x3Fu);
  ExpectSameBytes(want, Bytes(run.output.begin() + 0x2C, run.output.end()));
}

TEST(SongData, BlockTableHolds1024SongHeaders) {
  // Distinct headers past the end of the source: each reads as 0 tracks.
  std::vector<SongEntry> songs;
  for (uint32_t i = 0; i < 1025; ++i) songs.push_back({0x08100000 + 8 * i, 0});
  // The last entry names the 65th header again, found in its slot behind 959 others.
  std::vector<SongEntry> named(songs.begin(), songs.end() - 1);
  named.push_back(songs[64]);
  ImageBuilder image;
  image.PutSongList(0x08000100, named);
  const TransferRun full = Extract(image.bytes(), 0x08000100);
  EXPECT_EQ(full.result, TransferResult::kOk);
  // 16 + 1026 * 8 bytes of bank header and song list, then 1024 headers of 8 bytes.
  EXPECT_EQ(full.output.size(), 0x4020u);

  image.PutSongList(0x08000100, songs);
  EXPECT_EQ(Extract(image.bytes(), 0x08000100).result, TransferResult::kTooManyBlocks);
}

TEST(SongData, TrackEndingInsideAnOperandStopsTheTransfer) {
  const Bytes cut = {0x01, 0xB2, 0x00, 0x03};  // the source ends inside the operand
  const Bytes whole = {0x01, 0xB2, 0x00, 0x03, 0x00, 0x08, 0xB1};  // the end byte is the last
  for (const Bytes& stream : {cut, whole}) {
    ImageBuilder image = OneSong(1, {0x08000300});
    image.PutTrack(0x08000300, stream);
    EXPECT_EQ(Extract(image.bytes(), 0x08000100).result,
              stream == cut ? TransferResult::kTrackPastEnd : TransferResult::kOk);
  }
}
