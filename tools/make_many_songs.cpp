// Writes a game with as many songs as the largest real ones hold, for trying the page and the
// song tools at full size: mostly short sound effects of one to three tracks, some songs of
// about twenty seconds that end, and every hundredth one a song of two minutes with ten tracks
// that loops. Its players hold the track counts given, so a game made with fewer players than
// another lacks the players some of the other's songs name. The game's code names its song list
// once, so songs can be added to it. The image depends only on the arguments.
// Usage: make_many_songs <output path> <songs> <tracks of player 0> [<tracks of player 1>...]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "image/address.h"
#include "image_builder.h"
#include "track_commands.h"

namespace {

constexpr uint32_t kReference = 0x100;  // where the game's code names its song list
constexpr uint32_t kPlayers = 0x300;
constexpr uint32_t kSongList = 0x400;
constexpr uint32_t kMaxSongCount = 4000;
constexpr uint32_t kMaxPlayerCount = 16;

constexpr uint8_t kNote24 = 0xE7;  // a note of 24 ticks, then its key and velocity
constexpr uint8_t kNote48 = 0xEF;
constexpr uint8_t kWait24 = 0x98;
constexpr uint8_t kWait48 = 0xA0;
constexpr uint8_t kHalfTempo = 60;  // 120 beats a minute: a 48-tick note lasts one second

constexpr uint32_t A(uint32_t offset) { return kCartridgeBase + offset; }

// A 64-step wave repeated four times: one tone, looped whole.
Bytes Wave() {
  Bytes out(257);
  for (uint32_t i = 0; i < out.size(); ++i) {
    const double phase = static_cast<double>(i % 64) / 64.0;
    const double v = std::sin(phase * 2 * 3.14159265358979) + 0.3 * std::sin(phase * 6.2831853 * 3);
    out[i] = static_cast<uint8_t>(static_cast<int8_t>(v * 90));
  }
  return out;
}

// Byte by byte: GCC 12 warns wrongly about inserting a list into an empty vector.
void Append(Bytes& to, std::initializer_list<uint8_t> bytes) {
  for (const uint8_t b : bytes) to.push_back(b);
}

enum class Kind { kEffect, kEnding, kLooping };

Kind KindOf(uint32_t song) {
  if (song % 100 == 7) return Kind::kLooping;
  if (song % 10 == 3) return Kind::kEnding;
  return Kind::kEffect;
}

// One track: the first sets the tempo; each plays its own voice and pan, notes rising and
// falling around its key. A looping track jumps back to its first note.
Bytes Track(uint32_t address, uint32_t song, uint32_t track, Kind kind) {
  Bytes t;
  if (track == 0) Append(t, {kTempo, kHalfTempo});
  Append(t, {kVoice, static_cast<uint8_t>(track % 2), kVolume, 100, kPan,
             static_cast<uint8_t>(0x40 + (track % 3) * 16 - 16)});
  const uint32_t loopStart = address + static_cast<uint32_t>(t.size());
  const uint8_t key = static_cast<uint8_t>(48 + (song * 7 + track * 4) % 24);
  const uint32_t notes = kind == Kind::kLooping ? 120 : kind == Kind::kEnding ? 20 : 1 + song % 3;
  for (uint32_t n = 0; n < notes; ++n) {
    const uint8_t step = static_cast<uint8_t>((n * 5 + song) % 12);
    if (kind == Kind::kEffect) {
      Append(t, {kNote24, static_cast<uint8_t>(key + 12 + step), 110, kWait24});
    } else {
      Append(t, {kNote48, static_cast<uint8_t>(key + step), 90, kWait48});
    }
  }
  if (kind == Kind::kLooping) {
    t.push_back(kGoto);
    for (const uint8_t b : LittleEndian({loopStart})) t.push_back(b);
  }
  t.push_back(kFine);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const int playerCount = argc - 3;
  const long songs = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;
  if (playerCount < 1 || playerCount > static_cast<int>(kMaxPlayerCount) || songs < 1 ||
      songs > static_cast<long>(kMaxSongCount)) {
    std::fprintf(stderr,
                 "usage: make_many_songs <output path> <songs, 1 to %u> <tracks of player 0> "
                 "[<tracks of player 1>...] (at most %u players)\n",
                 kMaxSongCount, kMaxPlayerCount);
    return 2;
  }
  std::vector<uint32_t> playerTracks;
  for (int p = 0; p < playerCount; ++p) {
    const long tracks = std::strtol(argv[3 + p], nullptr, 10);
    if (tracks < 1 || tracks > 16) {
      std::fprintf(stderr, "make_many_songs: a player holds 1 to 16 tracks\n");
      return 2;
    }
    playerTracks.push_back(static_cast<uint32_t>(tracks));
  }
  const uint32_t count = static_cast<uint32_t>(songs);

  ImageBuilder image(0x400);
  image.PutBytes(0xA0, {'S', 'O', 'N', 'V', 'A', 'U', 'L', 'T', 'M', 'A', 'N', 'Y'});
  image.PutU32(kReference, A(kSongList));
  image.PutU32(0x1FC, A(kPlayers));
  image.PutSignature(0x200, A(kSongList));
  for (uint32_t p = 0; p < playerTracks.size(); ++p) {
    image.PutU32(kPlayers + 12 * p, 0x03000100 + 0x40 * p)
        .PutU32(kPlayers + 12 * p + 4, 0x03001000 + 0x400 * p);
    image.PutU8(kPlayers + 12 * p + 8, static_cast<uint8_t>(playerTracks[p]));
  }

  // The voices every song shares: a looped sample and a square wave.
  const uint32_t instruments = (kSongList + 8 * (count + 1) + 0xFF) / 0x100 * 0x100;
  const uint32_t sample = instruments + 0x40;
  image.PutInstrumentList(
      instruments, {{0x00003C00, A(sample), 0xA0FF00FF}, {0x00003C02, 0x00000002, 0x000F0000}});
  // 64 steps a period at middle C: 16744 samples a second, in 1/1024 Hz.
  image.PutSample(sample, 256, Wave(), 0x40000000, 16744 * 1024, 0);

  uint32_t next = (sample + 16 + 257 + 0xFF) / 0x100 * 0x100;
  std::vector<SongEntry> entries;
  for (uint32_t k = 0; k < count; ++k) {
    const Kind kind = KindOf(k);
    const uint32_t player =
        kind == Kind::kEffect ? k % static_cast<uint32_t>(playerTracks.size()) : 0;
    const uint32_t tracks = kind == Kind::kLooping  ? 10
                            : kind == Kind::kEnding ? 2 + k % 4
                                                    : 1 + k % 3;
    const uint32_t header = next;
    next += 8 + 4 * tracks;
    std::vector<uint32_t> trackAddresses;
    for (uint32_t t = 0; t < tracks; ++t) {
      const Bytes stream = Track(A(next), k, t, kind);
      image.PutTrack(next, stream);
      trackAddresses.push_back(A(next));
      next = (next + static_cast<uint32_t>(stream.size()) + 3) / 4 * 4;
    }
    image.PutSongHeader(header, 0x00800000 | tracks, A(instruments), trackAddresses);
    entries.push_back({A(header), 0x00010000 | player});
  }
  image.PutSongList(kSongList, entries);

  if (!WriteImageFile(argv[1], image.bytes())) {
    std::fprintf(stderr, "make_many_songs: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
