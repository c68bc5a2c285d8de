// Writes the seed corpora of the fuzz targets: small images laid out by the image builder, each
// holding one kind of structure the transfer follows or one way an image can be damaged, and
// inputs for the locator that put the signature at and around its read boundary.
// Usage: make_seeds <transfer seed directory> <locator seed directory>
#include <cstdio>
#include <string>
#include <vector>

#include "image/audio_locator.h"
#include "image_builder.h"

namespace {

constexpr uint32_t A(uint32_t offset) { return 0x08000000 + offset; }

// A track that jumps over a pattern, calls it and ends.
Bytes Track(uint32_t address) {
  Bytes t = {0xBC, 0x00, 0xB2};
  const Bytes body = LittleEndian({address + 9});
  t.insert(t.end(), body.begin(), body.end());
  t.insert(t.end(), {0xCF, 0x3C, 0xB4, 0xBD, 0x01, 0xB3});
  const Bytes call = LittleEndian({address + 7});
  t.insert(t.end(), call.begin(), call.end());
  t.push_back(0xB1);
  return t;
}

// One song, one instrument list with every kind of entry: sample, wave table, nested list with
// a key map, a list naming itself.
ImageBuilder Rich() {
  ImageBuilder image(0x800);
  image.PutSignature(0x40, A(0x100));
  image.PutSongList(0x100, {{A(0x140), 0x00010001}, {A(0x140), 0x00010002}});
  image.PutSongHeader(0x140, 0x00A00002, A(0x200), {A(0x180), A(0x1C0)});
  image.PutTrack(0x180, Track(A(0x180))).PutTrack(0x1C0, Track(A(0x1C0)));
  image.PutInstrumentList(0x200, {{0x00003C00, A(0x400), 0x00FF00FF},
                                  {0x00003C03, A(0x300), 0},
                                  {0x00000040, A(0x280), A(0x380)},
                                  {0x00000080, A(0x200), 0}});
  image.PutInstrumentList(0x280, {{0x00003C00, A(0x400), 0x00FF00FF}});
  image.PutWaveTable(0x300, Pattern(16, 0x11));
  image.PutKeyMap(0x380, Pattern(128, 0x22));
  image.PutSample(0x400, 32, Pattern(32, 0x33));
  image.PutSample(0x480, 0xFFFFFF00, Pattern(128, 0x44));
  return image;
}

// A locator input: three bytes giving the count of leading zeros, then the bytes.
Bytes LocatorInput(uint32_t zeros, const Bytes& bytes) {
  Bytes out = {static_cast<uint8_t>(zeros), static_cast<uint8_t>(zeros >> 8),
               static_cast<uint8_t>(zeros >> 16)};
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds <transfer seed directory> <locator seed directory>\n");
    return 2;
  }
  const std::string transfer = std::string(argv[1]) + "/";
  const std::string locator = std::string(argv[2]) + "/";
  bool ok = true;

  ok &= WriteImageFile(transfer + "rich", Rich().bytes());
  ok &= WriteImageFile(transfer + "empty_song_list",
                       ImageBuilder().PutSignature(0x10, A(0x20)).bytes());
  ok &= WriteImageFile(transfer + "track_without_end",
                       ImageBuilder()
                           .PutSignature(0, A(0x10))
                           .PutSongList(0x10, {{A(0x40), 0}})
                           .PutSongHeader(0x40, 1, 0, {A(0x50)})
                           .PutTrack(0x50, {0xBC, 0x01, 0xB2, 0x50, 0x00})
                           .bytes());
  ok &= WriteImageFile(transfer + "large_sample", Rich().PutU32(0x40C, 0x00100004).bytes());
  ok &= WriteImageFile(transfer + "cut_short", Rich().Resize(0x1D0).bytes());
  ok &= WriteImageFile(transfer + "song_list_past_end",
                       ImageBuilder().PutSignature(0, A(0x400)).bytes());

  // 1025 distinct song headers, all past the end of the image: one more than a table holds.
  std::vector<SongEntry> songs;
  for (uint32_t i = 0; i <= 1024; ++i) songs.push_back({A(0x10000 + 16 * i), i});
  ok &= WriteImageFile(transfer + "too_many_song_headers",
                       ImageBuilder().PutSignature(0, A(0x10)).PutSongList(0x10, songs).bytes());

  Bytes signature = LittleEndian({A(0x10), kSignature[0], kSignature[1], kSignature[2]});
  ok &= WriteImageFile(locator + "at_start", LocatorInput(0, signature));
  ok &= WriteImageFile(locator + "across_boundary", LocatorInput(0xFFF8, signature));
  ok &= WriteImageFile(locator + "after_boundary", LocatorInput(0x10000, signature));
  ok &= WriteImageFile(locator + "word1_twice",
                       LocatorInput(0xFFF4, LittleEndian({A(0x10), kSignature[0], kSignature[0],
                                                          kSignature[1], kSignature[2]})));
  ok &= WriteImageFile(locator + "partial_at_end",
                       LocatorInput(0, LittleEndian({1, kSignature[0], kSignature[1]})));
  ok &= WriteImageFile(locator + "unaligned", LocatorInput(2, signature));
  ok &= WriteImageFile(locator + "rich", LocatorInput(0, Rich().bytes()));
  if (!ok) std::fprintf(stderr, "make_seeds: cannot write the seeds\n");
  return ok ? 0 : 1;
}
