// The measure on the block graph against the engine's own measure of the same songs: the same
// result, and the same bytes, for every song alone, every song at once and chosen selections.
#include "songs/block_graph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "image_builder.h"
#include "songs/song_table.h"
#include "support/streams.h"

namespace {

constexpr uint32_t kList = 0x08000100;

// A measure's outcome: its result, and its bytes when it succeeds.
std::pair<TransferResult, uint32_t> Outcome(TransferResult result, uint32_t bytes) {
  return {result, result == TransferResult::kOk ? bytes : 0};
}

std::pair<TransferResult, uint32_t> Engine(const Bytes& image, const SongSelection* selection) {
  uint32_t bytes = 0;
  const TransferResult result =
      MeasureAudioData(image.data(), image.size(), kList, selection, bytes);
  return Outcome(result, bytes);
}

// Every song alone, all of them, and each selection: the graph's measure equals the engine's.
void ExpectEngineMeasures(const Bytes& image, const std::vector<std::vector<uint32_t>>& picks) {
  std::FILE* file = StreamOf(image);
  static ImageView view;
  ASSERT_TRUE(OpenImageView(view, file));
  static SongTable table;
  ASSERT_TRUE(ReadSongTable(view, kList, 0, true, table));
  static SongSelection selection;
  for (uint32_t k = 0; k < table.count; ++k) {
    SCOPED_TRACE(k);
    selection.count = 1;
    selection.songs[0] = k;
    EXPECT_EQ(Outcome(table.songs[k].copy, table.songs[k].bytes), Engine(image, &selection));
  }
  EXPECT_EQ(Outcome(table.allCopy, table.allBytes), Engine(image, nullptr));
  for (const std::vector<uint32_t>& pick : picks) {
    SCOPED_TRACE(::testing::PrintToString(pick));
    selection.count = static_cast<uint32_t>(pick.size());
    std::copy(pick.begin(), pick.end(), selection.songs);
    uint32_t got = 0;
    const TransferResult result = MeasureSongs(view, kList, &selection, got);
    EXPECT_EQ(Outcome(result, got), Engine(image, &selection));
  }
  EXPECT_FALSE(view.failed);
  std::fclose(file);
}

// Songs that share headers, lists and samples; a key-split list reached with two key maps, one
// list reached plain and as a drum kit, a kit whose entries past an invalid one name samples in
// and past the image, a key map that is also a sample, samples of odd sizes, and overlapping
// tracks.
Bytes SharedBlocks() {
  ImageBuilder image(0x4000);
  image.PutSongList(0x100, {{0x08000200, 0},
                            {0x08000240, 1},
                            {0x08000200, 2},
                            {0x08000280, 3},
                            {0x080002C0, 4},
                            {0x08000300, 5}});
  image.PutSongHeader(0x200, 0x00000002, 0x08001000, {0x08000400, 0x08000402});
  image.PutSongHeader(0x240, 0x00000001, 0x08001000, {0x08000410});
  image.PutSongHeader(0x280, 0x00000001, 0x08001100, {0x08000400});
  image.PutSongHeader(0x2C0, 0x00000003, 0x08001200, {0x08000420, 0x08000410, 0x08000421});
  image.PutSongHeader(0x300, 0x00000000, 0x02001000, {});
  image.PutTrack(0x400, {0xBC, 0x10, 0xBD, 0x01, 0xB1});
  image.PutTrack(0x410, {0xB3, 0x00, 0x04, 0x00, 0x08, 0xB1});
  image.PutTrack(0x420, {0x81, 0x82, 0xB2, 0x20, 0x04, 0x00, 0x08, 0xB1});
  // Plain lists: two samples shared with the other list, a wave table, a nested kit, splits.
  image.PutInstrumentList(0x1000, {{0x3C00, 0x08002000, 0},
                                   {0x3C40, 0x08001300, 0x08001800},
                                   {0x3C03, 0x08002100, 0},
                                   {0x3C80, 0x08001100, 0},
                                   {0x3C40, 0x08001300, 0x08001880}});
  image.PutInstrumentList(0x1100, {{0x3C08, 0x08002000, 0},
                                   {0x3C00, 0x08002040, 0},
                                   {0x3C40, 0x08001300, 0x08002000},
                                   {0x3C00, 0x08001800, 0}});
  // Reached plain by song 3, and as a kit from the first list.
  image.PutU32(0x1100 + 12 * 5, 0x00).PutU32(0x1100 + 12 * 6, 0x00);
  image.PutInstrumentList(0x1100 + 12 * 7, {{0x3C00, 0x08002080, 0}, {0x3C00, 0x08003FF8, 0}});
  image.PutInstrumentList(0x1200, {{0x3C80, 0x08001000, 0}, {0x3C00, 0x080020C0, 0}});
  image.PutInstrumentList(0x1300, {{0x3C00, 0x08002040, 0}, {0x3C03, 0x08002100, 0}});
  image.PutKeyMap(0x1800, KeyMapOf(2)).PutKeyMap(0x1880, KeyMapOf(1));
  image.PutSample(0x2000, 5, Pattern(6, 1));
  image.PutSample(0x2040, 0, {});
  image.PutSample(0x2080, 7, Pattern(8, 2));
  image.PutSample(0x20C0, 0x80000010u, Pattern(8, 3));
  image.PutWaveTable(0x2100, Pattern(16, 4));
  return image.bytes();
}

// Drum kits of 128 entries, each naming samples of its own: eight kits fill a relocation table
// with 1024 samples, and one sample more is one block too many, for two songs of that list.
Bytes ManySamples() {
  ImageBuilder image(0x100000);
  image.PutSongList(0x100, {{0x08000200, 0}, {0x08000240, 0}, {0x08000280, 0}, {0x080002C0, 0}});
  image.PutSongHeader(0x200, 0x00000000, 0x08001000, {});
  image.PutSongHeader(0x2C0, 0x00000001, 0x08001000, {0x08000300});
  image.PutTrack(0x300, {0xBC, 0x10, 0xB1});
  image.PutSongHeader(0x240, 0x00000000, 0x08001200, {});
  image.PutSongHeader(0x280, 0x00000000, 0x08001300, {});
  std::vector<InstrumentEntry> kits;
  for (uint32_t n = 0; n < 8; ++n) {
    kits.push_back({0x3C80, 0x08002000 + n * 0x800, 0});
    std::vector<InstrumentEntry> kit;
    for (uint32_t e = 0; e < 128; ++e) {
      kit.push_back({0x3C00, 0x08010000 + (n * 128 + e) * 0x20, 0});
    }
    image.PutInstrumentList(0x2000 + n * 0x800, kit);
  }
  image.PutInstrumentList(0x1200, kits);
  kits.push_back({0x3C00, 0x08010000 + 1024 * 0x20, 0});
  image.PutInstrumentList(0x1000, kits);
  image.PutInstrumentList(0x1300, {kits[0], kits[1]});
  for (uint32_t s = 0; s <= 1024; ++s) image.PutSample(0x10000 + s * 0x20, 3, Pattern(4, 5));
  return image.bytes();
}

// 130 songs, each with a list of 128 samples of its own: more distinct blocks than the graph
// holds, so the last songs are measured by the engine.
Bytes MoreBlocksThanTheGraphHolds() {
  constexpr uint32_t kSongs = 130;
  ImageBuilder image(0x10000 + kSongs * 128 * 0x18);
  std::vector<SongEntry> songs;
  for (uint32_t k = 0; k < kSongs; ++k) {
    const uint32_t header = 0x800 + 8 * k;
    const uint32_t list = 0x1000 + k * 128 * 12;
    songs.push_back({0x08000000 + header, 0});
    image.PutSongHeader(header, 0, 0x08000000 + list, {});
    std::vector<InstrumentEntry> entries;
    for (uint32_t e = 0; e < 128; ++e) {
      const uint32_t sample = 0x70000 + (k * 128 + e) * 0x18;
      entries.push_back({0x3C00, 0x08000000 + sample, 0});
      image.PutSample(sample, 3, Pattern(4, 6));
    }
    image.PutInstrumentList(list, entries);
  }
  image.PutSongList(0x100, songs);
  return image.bytes();
}

// A megabyte of waits with an end byte, tracks that start inside it, and one with no end.
Bytes LongTracks() {
  constexpr uint32_t kWaits = 0x100000;
  ImageBuilder image(0x10000 + kWaits + 0x40);
  image.PutBytes(0x10000, Bytes(kWaits, 0x81)).PutU8(0x10000 + kWaits, 0xB1);
  image.PutU8(0x10000 + kWaits + 0x10, 0x81).PutU8(0x10000 + kWaits + 0x3F, 0xB2);
  image.PutSongList(0x100, {{0x08000200, 0}, {0x08000600, 0}, {0x08000A00, 0}});
  std::vector<uint32_t> many;
  for (uint32_t t = 0; t < 40; ++t) many.push_back(0x08010000 + 0x1000 * t);
  many.push_back(0x08000000 + 0x10000 + kWaits + 0x10);
  image.PutSongHeader(0x200, static_cast<uint32_t>(many.size()), 0, many);
  image.PutSongHeader(0x600, 0x00000003, 0x08000000,
                      {0x08010000, 0x08010101, 0x08000000 + 0x10000 + kWaits + 0x10});
  image.PutSongHeader(0xA00, 0x00000002, 0, {0x08010003, 0x08030000});
  return image.bytes();
}

}  // namespace

TEST(BlockGraph, MeasuresAsTheEngineDoes) {
  const struct {
    const char* name;
    Bytes image;
    std::vector<std::vector<uint32_t>> picks;
  } rows[] = {
      {"shared blocks", SharedBlocks(), {{3, 0}, {4, 1, 4}, {2, 0}, {5, 3}, {6}, {1, 3, 4, 0}}},
      {"more blocks than a table holds", ManySamples(), {{1, 0}, {1}}},
      {"long tracks", LongTracks(), {{2, 1}, {1, 0}}},
      {"more blocks than the graph holds", MoreBlocksThanTheGraphHolds(), {{129, 0}, {3, 128}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ExpectEngineMeasures(row.image, row.picks);
  }
}

// 4096 songs of one header whose 255 tracks are each a megabyte of waits: each song and all of
// them at once exceed the window, found once for the header.
TEST(BlockGraph, SongsSharingAHeaderOfHugeTracksAreMeasuredOnce) {
  constexpr uint32_t kWaits = 0x100000;
  ImageBuilder image(0x20000 + kWaits + 1);
  std::vector<SongEntry> songs(kMaxSongs, {0x08000100 + 8 * kMaxSongs + 16, 0});
  std::vector<uint32_t> tracks;
  for (uint32_t t = 0; t < 255; ++t) tracks.push_back(0x08020000 + 3 * t);
  image.PutSongList(0x100, songs).PutSongHeader(0x100 + 8 * kMaxSongs + 16, 255, 0, tracks);
  image.PutBytes(0x20000, Bytes(kWaits, 0x81)).PutU8(0x20000 + kWaits, 0xB1);
  std::FILE* file = StreamOf(image.bytes());
  static ImageView view;
  ASSERT_TRUE(OpenImageView(view, file));
  static SongTable table;
  ASSERT_TRUE(ReadSongTable(view, kList, 0, true, table));
  std::fclose(file);
  ASSERT_EQ(table.count, kMaxSongs);
  for (uint32_t k = 0; k < table.count; ++k) {
    ASSERT_EQ(table.songs[k].copy, TransferResult::kOutputTooLarge) << k;
  }
  EXPECT_EQ(table.allCopy, TransferResult::kOutputTooLarge);
}

// A track that starts past the image's end was answered from the checkpoint an earlier, longer
// image had left there, and measured as whole.
TEST(BlockGraph, ATrackPastTheImageEndIsNotAnsweredFromAnEarlierImage) {
  ImageBuilder longer(0x2000);
  longer.PutSongList(0x100, {{0x08000200, 0}}).PutSongHeader(0x200, 1, 0, {0x08001000});
  longer.PutBytes(0x1000, Bytes(0x100, 0x81)).PutU8(0x1100, 0xB1);
  ImageBuilder shorter(0x400);
  shorter.PutSongList(0x100, {{0x08000200, 0}}).PutSongHeader(0x200, 1, 0, {0x08001000});
  const struct {
    const Bytes& image;
    TransferResult want;
  } rows[] = {{longer.bytes(), TransferResult::kOk},
              {shorter.bytes(), TransferResult::kTrackPastEnd}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.image.size());
    std::FILE* file = StreamOf(row.image);
    static ImageView view;
    ASSERT_TRUE(OpenImageView(view, file));
    static SongTable table;
    ASSERT_TRUE(ReadSongTable(view, kList, 0, true, table));
    EXPECT_EQ(table.songs[0].copy, row.want);
    std::fclose(file);
  }
}
