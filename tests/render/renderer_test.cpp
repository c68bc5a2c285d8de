#include "render/renderer.h"

#include <gtest/gtest.h>

#include <vector>

#include "image_builder.h"
#include "track_commands.h"

namespace {

constexpr uint32_t kHeader = 0x08000100;
constexpr uint32_t kTones = 0x08000200;
constexpr uint32_t kKit = 0x08000280;
constexpr uint32_t kTrack = 0x08000300;
constexpr uint32_t kSample = 0x08000400;
// A square wave of 32 samples whose middle C plays at 261.63 Hz: key 69 sounds at 440 Hz.
constexpr uint32_t kSquareRate = 8572948;  // 8372.02 Hz * 1024
constexpr uint32_t kLoops = 0x40000000;    // the header's loop bit
constexpr uint32_t kFull = 0x00FF00FF;     // attack 255, decay 0, sustain 255, release 0

constexpr uint8_t kN96 = 0xFF, kN24 = 0xE7, kW96 = 0xB0, kW24 = 0x98, kW4 = 0x84;

// 48000 / 59.7275 samples a frame.
constexpr double kSamplesPerFrame = 803.65;

Bytes SquareWave() {
  Bytes data;
  for (int k = 0; k < 32; ++k) data.push_back(k < 16 ? 100 : static_cast<uint8_t>(-100));
  return data;
}

uint32_t ToneWord(uint8_t type, uint8_t key = 60, uint8_t panSweep = 0) {
  return type | uint32_t{key} << 8 | uint32_t{panSweep} << 24;
}

// An image of one song: one track, the tones given, the square sample.
ImageBuilder SongBuilder(const Bytes& track, const std::vector<InstrumentEntry>& tones) {
  ImageBuilder image(0x600);
  image.PutSongHeader(kHeader, 1, kTones, {kTrack});
  image.PutInstrumentList(kTones, tones);
  image.PutTrack(kTrack, track);
  image.PutSample(kSample, 32, SquareWave(), kLoops, kSquareRate, 0);
  return image;
}

Bytes SongImage(const Bytes& track, const std::vector<InstrumentEntry>& tones) {
  return SongBuilder(track, tones).bytes();
}

std::vector<int16_t> Render(const Bytes& image, uint32_t mutedVoices = 0) {
  static Renderer renderer;
  renderer.muted = 0;
  for (uint32_t v = 0; v < kVoices; ++v) MuteVoice(renderer, v, (mutedVoices >> v) & 1);
  const ImageSpan view{image.data(), static_cast<uint32_t>(image.size())};
  EXPECT_EQ(StartSong(renderer, view, kHeader), SongStart::kOk);
  std::vector<int16_t> out;
  int16_t block[2 * 1000];
  while (!SongEnded(renderer)) {
    const uint32_t count = PlaySong(renderer, block, 1000);
    out.insert(out.end(), block, block + 2 * count);
    if (out.size() > 2u * 700 * 48000) break;
  }
  return out;
}

struct Span {
  size_t first = 0, last = 0;  // stereo samples: first and one past the last that sound
};

Span Sounding(const std::vector<int16_t>& out) {
  Span span;
  size_t k = 0;
  while (k < out.size() && out[k] == 0) ++k;
  span.first = k / 2;
  size_t end = out.size();
  while (end > k && out[end - 1] == 0) --end;
  span.last = (end + 1) / 2;
  return span;
}

// Hz of the left channel's rises through zero between two samples.
double Frequency(const std::vector<int16_t>& out, size_t first, size_t last) {
  int rises = 0;
  size_t firstRise = 0, lastRise = 0;
  for (size_t k = first + 1; k < last; ++k) {
    if (out[2 * (k - 1)] < 0 && out[2 * k] >= 0) {
      if (rises++ == 0) firstRise = k;
      lastRise = k;
    }
  }
  return rises < 2 ? 0 : (rises - 1) * 48000.0 / static_cast<double>(lastRise - firstRise);
}

int PeakOf(const std::vector<int16_t>& out, size_t first, size_t last) {
  int peak = 0;
  for (size_t k = 2 * first; k < 2 * last && k < out.size(); ++k) {
    peak = std::max(peak, std::abs(static_cast<int>(out[k])));
  }
  return peak;
}

size_t FrameAt(double frame) { return static_cast<size_t>(frame * kSamplesPerFrame); }

TEST(Renderer, OneNoteOfAKnownSampleSoundsItsLengthAtItsPitch) {
  // At the start tempo a tick is a frame: the note sounds for frames 1 to 96 and is cut at 97.
  const std::vector<int16_t> out = Render(SongImage(
      {kVoice, 0, kVolume, 127, kN96, 69, 127, kW96, kFine}, {{ToneWord(0), kSample, kFull}}));
  const Span span = Sounding(out);
  EXPECT_EQ(span.first, 0u);
  EXPECT_NEAR(static_cast<double>(span.last), 96 * kSamplesPerFrame, kSamplesPerFrame);
  EXPECT_NEAR(Frequency(out, span.first, span.last), 440.0, 1.0);
  // The song ends with its voices: no tail of silence.
  EXPECT_LT(out.size() / 2, span.last + 2 * FrameAt(1));
}

TEST(Renderer, DrumKitEntryPlaysAtItsOwnKey) {
  // The note's key 36 picks entry 36 of the kit; that entry's key 69 sets the pitch.
  ImageBuilder image(SongBuilder({kVoice, 0, kVolume, 127, kN96, 36, 127, kW96, kFine},
                                 {{ToneWord(0x80), kKit - 36 * 12, 0}}));
  image.PutInstrumentList(kKit, {{ToneWord(0, 69), kSample, kFull}});
  const std::vector<int16_t> out = Render(image.bytes());
  const Span span = Sounding(out);
  EXPECT_NEAR(Frequency(out, span.first, span.last), 440.0, 1.0);
}

TEST(Renderer, PsgSquareAtKey69Sounds440Hz) {
  // Square 1 at 50 % duty, full sustain.
  const std::vector<int16_t> out = Render(SongImage(
      {kVoice, 0, kVolume, 127, kN96, 69, 127, kW96, kFine}, {{ToneWord(1), 2, 0x000F0000}}));
  const Span span = Sounding(out);
  EXPECT_NEAR(static_cast<double>(span.last), 96 * kSamplesPerFrame, 2 * kSamplesPerFrame);
  EXPECT_NEAR(Frequency(out, span.first, span.last), 440.0, 2.0);
}

TEST(Renderer, LoopedSongPlaysItsLoopTwiceThenFadesOverFiveSeconds) {
  // The loop is 24 frames: the second jump back comes at frame 49, the fade ends 5 s later.
  const Bytes image =
      SongImage({kVoice, 0, kVolume, 127, kN24, 69, 127, kW24, kGoto, 0x04, 0x03, 0x00, 0x08},
                {{ToneWord(0), kSample, kFull}});
  uint64_t budget = 1000;
  const SongPass pass =
      MeasureSong({image.data(), static_cast<uint32_t>(image.size())}, kHeader, budget);
  EXPECT_EQ(pass.kind, PassKind::kLoops);
  EXPECT_EQ(pass.frames, 25u);
  // The commands a pass ran come off the listing's budget; a budget they exceed measures nothing.
  EXPECT_LT(budget, 1000u);
  budget = 3;
  EXPECT_EQ(MeasureSong({image.data(), static_cast<uint32_t>(image.size())}, kHeader, budget).kind,
            PassKind::kUnmeasured);
  EXPECT_EQ(budget, 0u);
  const std::vector<int16_t> out = Render(image);
  EXPECT_NEAR(static_cast<double>(out.size() / 2), 48 * kSamplesPerFrame + 5 * 48000,
              kSamplesPerFrame);
  const size_t fade = FrameAt(48);
  const int full = PeakOf(out, fade - 4800, fade);
  EXPECT_GT(full, 10000);
  EXPECT_NEAR(PeakOf(out, fade + 120000 - 2400, fade + 120000 + 2400), full / 2, full / 20);
  EXPECT_LT(PeakOf(out, out.size() / 2 - 480, out.size() / 2), full / 50);
}

TEST(Renderer, SamplesPlayPlainCompressedAndReversed) {
  // A triangle of 64 samples (0 up to 64, down to -64, back), middle C at 261.63 Hz: plain, and
  // compressed as 33 bytes (the first value, then steps of +4 (index 2) and -4 (index 14)).
  Bytes plain, packed = {0x00, 0x02};
  int value = 0;
  for (int k = 0; k < 64; ++k) {
    value += k == 0 ? 0 : (k <= 16 || k >= 49) ? 4 : -4;
    plain.push_back(static_cast<uint8_t>(value));
  }
  for (int k = 2; k < 64; k += 2) {
    const uint8_t high = (k <= 16 || k >= 49) ? 2 : 14, low = (k + 1 <= 16 || k + 1 >= 49) ? 2 : 14;
    packed.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  // A ramp from 0 to 127 played once, back to front, at its own rate.
  Bytes ramp;
  for (int k = 0; k < 128; ++k) ramp.push_back(static_cast<uint8_t>(k));
  struct Row {
    const char* name;
    uint8_t type;
    uint32_t word0;
    Bytes data;
    double hz;
  };
  const Row rows[] = {{"plain", 0x00, kLoops, plain, 440},
                      {"compressed", 0x20, kLoops | 1, packed, 440},
                      {"reversed", 0x10, 0, ramp, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ImageBuilder image(SongBuilder({kVoice, 0, kVolume, 127, kN96, 69, 127, kW96, kFine},
                                   {{ToneWord(row.type), kSample, kFull}}));
    image.PutSample(kSample, static_cast<uint32_t>(row.type == 0x20 ? 64 : row.data.size()),
                    row.data, row.word0, 17145896, 0);
    const std::vector<int16_t> out = Render(image.bytes());
    const Span span = Sounding(out);
    if (row.hz > 0) {
      EXPECT_NEAR(Frequency(out, span.first, span.last), row.hz, 1.0);
      EXPECT_NEAR(PeakOf(out, span.first, span.last), 8000, 200);
    } else {
      EXPECT_GT(out[0], 12000);
      EXPECT_GT(out[0], out[2 * 40]);
      EXPECT_GT(out[2 * 40], 0);
    }
  }
}

TEST(Renderer, EitherLoopBitOfTheSampleHeaderLoopsIt) {
  // The 32-sample square at 440 Hz lasts 32 / 14080 s, 109 output samples, unless it loops; then
  // it sounds for the note's 96 frames.
  const uint32_t words[] = {0x40000000, 0x80000000, 0};
  for (const uint32_t word0 : words) {
    SCOPED_TRACE(word0);
    ImageBuilder image(SongBuilder({kVoice, 0, kVolume, 127, kN96, 69, 127, kW96, kFine},
                                   {{ToneWord(0), kSample, kFull}}));
    image.PutSample(kSample, 32, SquareWave(), word0, kSquareRate, 0);
    const double last = static_cast<double>(Sounding(Render(image.bytes())).last);
    EXPECT_NEAR(last, word0 != 0 ? 96 * kSamplesPerFrame : 109, word0 != 0 ? kSamplesPerFrame : 2);
  }
}

TEST(Renderer, ExtendedCommandSetsWhereTheTracksSamplesStart) {
  // The one-shot 32-sample square at 440 Hz lasts 109 output samples; started at its sample 16,
  // 16 samples: 16 / 14080 s, 55 output samples.
  struct Row {
    Bytes start;
    double last;
  };
  const Row rows[] = {{{}, 109}, {{0xCD, 0x0D, 16, 0, 0, 0}, 55}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.last);
    Bytes track = {kVoice, 0, kVolume, 127};
    track.insert(track.end(), row.start.begin(), row.start.end());
    track.insert(track.end(), {kN96, 69, 127, kW96, kFine});
    ImageBuilder image(SongBuilder(track, {{ToneWord(0), kSample, kFull}}));
    image.PutSample(kSample, 32, SquareWave(), 0, kSquareRate, 0);
    EXPECT_NEAR(static_cast<double>(Sounding(Render(image.bytes())).last), row.last, 2);
  }
}

TEST(Renderer, EnvelopeAttacksAndReleasesOnTheEngineFrames) {
  // Attack 64 a frame: 64, 128, 192, then 255 from frame 4. The gate ends at frame 25; release
  // 128 halves the level each frame from there until it falls to nothing.
  const std::vector<int16_t> out = Render(SongImage(
      {kVoice, 0, kVolume, 127, kN24, 69, 127, kW96, kFine}, {{ToneWord(0), kSample, 0x80FF0040}}));
  const int full = PeakOf(out, FrameAt(5), FrameAt(20));
  const int levels[] = {64, 128, 192, 255};
  for (int frame = 0; frame < 4; ++frame) {
    SCOPED_TRACE(frame);
    EXPECT_NEAR(PeakOf(out, FrameAt(frame) + 1, FrameAt(frame + 1) - 1), full * levels[frame] / 255,
                full / 40);
  }
  EXPECT_NEAR(PeakOf(out, FrameAt(24) + 1, FrameAt(25) - 1), full / 2, full / 40);
  EXPECT_NEAR(PeakOf(out, FrameAt(25) + 1, FrameAt(26) - 1), full / 4, full / 40);
  EXPECT_LT(Sounding(out).last, FrameAt(33));
}

TEST(Renderer, ThirteenthNoteTakesTheLastVoiceOfItsPriority) {
  // Twelve ties fill the twelve sample voices; the thirteenth, of the same priority and track,
  // takes the last voice it finds as good, voice 11, which sounded the twelfth (key 59).
  Bytes track = {kVoice, 0, kVolume, 127};
  for (uint8_t key = 48; key < 60; ++key) track.insert(track.end(), {kTie, key, 127});
  track.insert(track.end(), {kW24, kTie, 69, 127, kW24, kFine});
  const std::vector<int16_t> out =
      Render(SongImage(track, {{ToneWord(0), kSample, kFull}}), 0xFFFF & ~(1u << 11));
  EXPECT_NEAR(Frequency(out, FrameAt(1), FrameAt(23)), 246.94, 1.0);
  EXPECT_NEAR(Frequency(out, FrameAt(25), FrameAt(47)), 440.0, 1.0);
}

TEST(Renderer, EndOfTieReleasesTheTiedNote) {
  const std::vector<int16_t> out =
      Render(SongImage({kVoice, 0, kVolume, 127, kTie, 69, 127, kW24, kEot, 69, kW24, kFine},
                       {{ToneWord(0), kSample, kFull}}));
  EXPECT_NEAR(static_cast<double>(Sounding(out).last), 24 * kSamplesPerFrame, kSamplesPerFrame);
}

TEST(Renderer, BadTracksEndBounded) {
  struct Case {
    const char* name;
    Bytes track;
    SongStart start;
  };
  const Case cases[] = {
      {"a jump to itself without a wait", {kGoto, 0x00, 0x03, 0x00, 0x08}, SongStart::kOk},
      {"a wait forever in notes",
       {kVoice, 0, kTie, 60, 100, kW4, kGoto, 0x02, 0x03, 0x00, 0x08},
       SongStart::kOk},
      {"a track without an end", {kVoice, 0, kN24, 60, 100}, SongStart::kOk},
      {"a running status with nothing to repeat", {0x10, 0x20}, SongStart::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes image = SongImage(c.track, {{ToneWord(0), kSample, kFull}});
    EXPECT_LE(Render(image).size(), 2u * 601 * 48000);
  }
  ImageBuilder offImage(SongBuilder({kFine}, {}));
  offImage.PutSongHeader(kHeader, 2, kTones, {kTrack, 0x08100000});
  static Renderer renderer;
  EXPECT_EQ(StartSong(renderer, {offImage.bytes().data(), 0x600}, kHeader),
            SongStart::kTrackOffImage);
}

TEST(Renderer, ImageCutAtAnyLengthRendersBounded) {
  ImageBuilder image(SongBuilder(
      {kVoice, 0, kVolume, 127, kN24, 69, 127, kW24, kVoice, 1, kN24, 36, 100, kW24, kFine},
      {{ToneWord(0), kSample, kFull}, {ToneWord(0x80), kKit - 36 * 12, 0}}));
  image.PutInstrumentList(kKit, {{ToneWord(0x20, 60), kSample, kFull}});
  const Bytes whole = image.bytes();
  static Renderer renderer;
  int16_t block[2 * 1024];
  for (uint32_t size = 0; size <= whole.size(); size += 3) {
    SCOPED_TRACE(size);
    if (StartSong(renderer, {whole.data(), size}, kHeader) != SongStart::kOk) continue;
    uint64_t samples = 0;
    while (!SongEnded(renderer) && samples < 601u * 48000)
      samples += PlaySong(renderer, block, 1024);
    EXPECT_TRUE(SongEnded(renderer));
  }
}

}  // namespace
