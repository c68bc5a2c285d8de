#include "tune_image.h"

#include "track_commands.h"

namespace {

constexpr uint32_t A(uint32_t offset) { return 0x08000000 + offset; }

constexpr uint32_t kList = 0x200, kTheme = 0x300, kJingle = 0x340, kEffect = 0x360;
constexpr uint32_t kEmpty = 0x380, kTones = 0x400, kSplit = 0x500, kKeyMap = 0x520;
constexpr uint32_t kKit = 0x600, kWave = 0x800, kSquare = 0x900, kSaw = 0x980;
constexpr uint32_t kSnare = 0xA00, kKick = 0x1200, kTracks = 0x2000;
constexpr uint32_t kBars = 60;
// Rates whose middle C sounds 261.63 Hz for a period of 64 samples, and the common mixing rate.
constexpr uint32_t kPeriodRate = 17145896;
constexpr uint32_t kDrumRate = 13379 * 1024;

constexpr uint8_t Note(uint8_t ticks) {  // N6, N12, N24, N48 and N96
  return ticks == 6 ? 0xD5 : ticks == 12 ? 0xDB : ticks == 24 ? 0xE7 : ticks == 48 ? 0xEF : 0xFF;
}
constexpr uint8_t Wait(uint8_t ticks) {
  return ticks == 6 ? 0x86 : ticks == 12 ? 0x8C : ticks == 24 ? 0x98 : ticks == 48 ? 0xA0 : 0xB0;
}

Bytes Periodic(bool square) {
  Bytes out(65);
  for (uint32_t i = 0; i < 65; ++i) {
    const int32_t phase = static_cast<int32_t>(i % 64);
    const int32_t v = square ? (phase < 32 ? 90 : -90) : (phase * 180 / 63 - 90);
    out[i] = static_cast<uint8_t>(static_cast<int8_t>(v));
  }
  return out;
}

// A noise burst fading out, or a tone falling in pitch for the kick.
Bytes Drum(uint32_t n, bool kick) {
  Bytes out(n + 1);
  uint32_t state = 0x12345678;
  uint32_t phase = 0;
  for (uint32_t i = 0; i <= n; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const int32_t level = static_cast<int32_t>(120 * (n - (i < n ? i : n)) / n);
    phase += 3000 - 2500 * i / (n + 1);
    const int32_t shape =
        kick ? ((phase >> 15) % 2 == 0 ? 1 : -1) : static_cast<int32_t>(state % 3) - 1;
    out[i] = static_cast<uint8_t>(static_cast<int8_t>(shape * level));
  }
  return out;
}

struct Writer {
  uint32_t at;
  Bytes bytes;
  void Put(std::initializer_list<uint8_t> values) {
    for (const uint8_t value : values) bytes.push_back(value);
  }
  uint32_t Here() const { return A(at + static_cast<uint32_t>(bytes.size())); }
  void Jump(uint8_t command, uint32_t target) {
    Put({command, static_cast<uint8_t>(target), static_cast<uint8_t>(target >> 8),
         static_cast<uint8_t>(target >> 16), static_cast<uint8_t>(target >> 24)});
  }
};

constexpr uint8_t kRoots[4] = {48, 45, 41, 43};  // C, A minor, F, G

// One track of the theme: its settings, then 60 bars in a loop.
Bytes ThemeTrack(uint32_t t, uint32_t at) {
  Writer w{at, {}};
  if (t == 0) w.Put({kTempo, 60});
  const uint8_t voices[10] = {0, 2, 1, 1, 3, 4, 6, 5, 7, 0};
  const uint8_t volumes[10] = {100, 70, 60, 50, 45, 60, 110, 40, 60, 55};
  const uint8_t pans[10] = {64, 64, 40, 88, 30, 64, 64, 100, 76, 52};
  w.Put({kVoice, voices[t], kVolume, volumes[t], kPan, pans[t]});
  if (t == 9) w.Put({kModulation, 20, kLfoSpeed, 40});
  const uint32_t loop = w.Here();
  for (uint32_t bar = 0; bar < kBars; ++bar) {
    const uint8_t r = kRoots[bar % 4];
    const uint8_t chord[4] = {0, 4, 7, 12};
    switch (t) {
      case 0:
        for (uint32_t b = 0; b < 4; ++b) {
          w.Put({Note(24), static_cast<uint8_t>(r + 12 + chord[(bar + b) % 4]), 100, Wait(24)});
        }
        break;
      case 1:
        w.Put({Note(48), static_cast<uint8_t>(r - 12), 110, Wait(48), Note(48),
               static_cast<uint8_t>(r - 5), 100, Wait(48)});
        break;
      case 2:
      case 9:
        w.Put({kTie, static_cast<uint8_t>(r + (t == 2 ? 12 : 7)), 90, Wait(96), kEot});
        break;
      case 3:
        for (uint32_t b = 0; b < 8; ++b) {
          w.Put({Note(12), static_cast<uint8_t>(r + 24 + (b % 2) * 7), 80, Wait(12)});
        }
        break;
      case 4:
        for (uint32_t b = 0; b < 16; ++b) {
          w.Put({Note(6), static_cast<uint8_t>(r + 24 + chord[b % 4]), 90, Wait(6)});
        }
        break;
      case 5:
        for (uint32_t b = 0; b < 4; ++b) w.Put({Note(24), r, 100, Wait(24)});
        break;
      case 6:
        for (uint32_t b = 0; b < 4; ++b)
          w.Put({Note(24), static_cast<uint8_t>(b % 2 ? 38 : 36), 120, Wait(24)});
        break;
      case 7:
        for (uint32_t b = 0; b < 8; ++b) w.Put({Note(6), 60, 80, Wait(12)});
        break;
      default:
        w.Put({Note(48), static_cast<uint8_t>(r + 19), 90, Wait(48), Note(48),
               static_cast<uint8_t>(r + 16), 90, Wait(48)});
        break;
    }
  }
  w.Jump(kGoto, loop);
  w.Put({kFine});
  return w.bytes;
}

}  // namespace

Bytes TuneImage() {
  ImageBuilder image(0x100);
  image.PutSignature(0x100, A(kList));
  image.PutSongList(
      kList, {{A(kTheme), 0}, {A(kJingle), 0}, {A(kEffect), 1}, {A(kJingle), 0}, {A(kEmpty), 0}});
  // The jingle and the effect.
  const uint32_t jingle = kTracks, jingleBass = kTracks + 0x20, effect = kTracks + 0x40;
  image.PutTrack(jingle, {kVoice, 0, kVolume, 110, Note(24), 60, 110, Wait(24), Note(24), 64, 110,
                          Wait(24), Note(48), 67, 110, Wait(48), kFine});
  image.PutTrack(jingleBass, {kVoice, 2, kVolume, 90, Note(96), 36, 100, Wait(96), kFine});
  image.PutTrack(effect, {kVoice, 5, kVolume, 120, Note(12), 60, 127, Wait(12), kFine});
  image.PutSongHeader(kJingle, 0x00200002, A(kTones), {A(jingle), A(jingleBass)});
  image.PutSongHeader(kEffect, 0x00400001, A(kTones), {A(effect)});
  image.PutSongHeader(kEmpty, 0, A(kTones), {});
  std::vector<uint32_t> tracks;
  uint32_t at = kTracks + 0x80;
  for (uint32_t t = 0; t < 10; ++t) {
    const Bytes track = ThemeTrack(t, at);
    image.PutTrack(at, track);
    tracks.push_back(A(at));
    at = (at + static_cast<uint32_t>(track.size()) + 3) & ~3u;
  }
  // Ten tracks at priority 0x80, the reverb set to 32.
  image.PutSongHeader(kTheme, 0xA080000A, A(kTones), tracks);

  // Lead square, saw, PSG square 1 bass, square 2 arpeggio, the wave voice, noise, the kit, the
  // key split.
  image.PutInstrumentList(kTones, {{0x00003C00, A(kSquare), 0x80C0A0F0},
                                   {0x00003C00, A(kSaw), 0x70E0C010},
                                   {0x00003C01, 2, 0x020A0200},
                                   {0x00003C02, 1, 0x01080300},
                                   {0x00003C03, A(kWave), 0x000F0000},
                                   {0x00003C04, 0, 0x00000100},
                                   {0x00000080, A(kKit), 0},
                                   {0x00000040, A(kSplit), A(kKeyMap)}});
  image.PutInstrumentList(
      kSplit, {{0x00003C00, A(kSaw), 0x80C0A0F0}, {0x00003C00, A(kSquare), 0x80C0A0F0}});
  Bytes keyMap(128);
  for (uint32_t k = 0; k < 128; ++k) keyMap[k] = k < 64 ? 0 : 1;
  image.PutKeyMap(kKeyMap, keyMap);
  std::vector<InstrumentEntry> kit(39, InstrumentEntry{0x00003C01, 2, 0});
  kit[36] = {0x00003C08, A(kKick), 0x00FF00FF};
  kit[38] = {0xC8003C08, A(kSnare), 0x00FF00FF};
  image.PutInstrumentList(kKit, kit);
  image.PutWaveTable(kWave, {0x02, 0x46, 0x8A, 0xCE, 0xFF, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32,
                             0x10, 0x01, 0x23, 0x45});
  image.PutSample(kSquare, 64, Periodic(true), 0x40000000, kPeriodRate, 0);
  image.PutSample(kSaw, 64, Periodic(false), 0x40000000, kPeriodRate, 0);
  image.PutSample(kSnare, 2000, Drum(2000, false), 0, kDrumRate, 0);
  image.PutSample(kKick, 1600, Drum(1600, true), 0, kDrumRate, 0);
  return image.bytes();
}
