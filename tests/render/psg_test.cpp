#include "render/psg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kFrameSamples = 804;  // one video frame at 48000 Hz, near enough

struct Note {
  uint8_t voice;  // 1-4
  uint8_t key;
  uint8_t duty = 2;
  uint8_t attack = 0;
  uint8_t decay = 0;
  uint8_t sustain = 15;
  uint8_t release = 0;
};

PsgUnit FreshUnit() {
  PsgUnit unit;
  ResetPsg(unit);
  return unit;
}

// What the sequencer writes at a note start; both sides at 120 make the envelope's goal 15.
PsgChannel& StartNote(PsgUnit& unit, const Note& note) {
  PsgChannel& c = unit.channels[note.voice - 1];
  c.type = note.voice;
  c.key = note.key;
  c.duty = note.duty;
  c.rightVolume = 120;
  c.leftVolume = 120;
  c.attack = note.attack;
  c.decay = note.decay;
  c.sustain = note.sustain;
  c.release = note.release;
  c.frequency = PsgKeyToFrequency(note.voice, note.key, 0);
  c.statusFlags = kPsgStart;
  return c;
}

// frames video frames, each a StepPsgFrame and then its samples; stereo, left first.
std::vector<int32_t> Play(PsgUnit& unit, uint32_t frames) {
  std::vector<int32_t> out(2 * frames * kFrameSamples);
  for (uint32_t k = 0; k < frames; ++k) {
    StepPsgFrame(unit);
    RenderPsg(unit, out.data() + 2 * k * kFrameSamples, kFrameSamples);
  }
  return out;
}

std::vector<int32_t> Left(const std::vector<int32_t>& stereo, size_t from, size_t count) {
  std::vector<int32_t> left;
  for (size_t k = from; k < from + count; ++k) left.push_back(stereo[2 * k]);
  return left;
}

int RisingCrossings(const std::vector<int32_t>& samples) {
  int count = 0;
  for (size_t k = 1; k < samples.size(); ++k) count += samples[k - 1] <= 0 && samples[k] > 0;
  return count;
}

}  // namespace

TEST(PsgKeyToFrequency, GivesTheEngineFrequencyWords) {
  struct Row {
    uint8_t type, key, fine;
    uint32_t want;
  };
  const Row rows[] = {
      {2, 69, 0, 1750},                      // A4: 131072 / 298 = 439.8 Hz
      {1, 60, 0, 1547},                      // C4: 131072 / 501 = 261.6 Hz
      {3, 36, 0, 44},                        // the lowest key with a pitch of its own
      {1, 20, 200, 44},                      // lower keys play it, fine tuning dropped
      {1, 37, 128, 210},                     // halfway from C#2 (157) to D2 (263), rounded down
      {2, 200, 0, 2046},                     // above the table: its last entry, fully tuned up
      {4, 0, 0, 0xD7},                       // noise: keys up to 21 play the slowest clock
      {4, 60, 0, 0x44},  {4, 127, 0, 0x00},  // and keys from 80 the fastest
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("type " + std::to_string(row.type) + " key " + std::to_string(row.key));
    EXPECT_EQ(PsgKeyToFrequency(row.type, row.key, row.fine), row.want);
  }
}

TEST(RenderPsg, SquareAtKey69PlaysA440) {
  PsgUnit unit = FreshUnit();
  StartNote(unit, {.voice = 2, .key = 69});
  const std::vector<int32_t> out = Play(unit, 62);
  EXPECT_NEAR(RisingCrossings(Left(out, 0, kPsgSampleRate)), 440, 1);
}

TEST(RenderPsg, SquaresAreHighForTheirDutyAndSwingFullVolume) {
  const int wantPercent[4] = {125, 250, 500, 750};  // tenths of a per cent
  for (uint8_t duty = 0; duty < 4; ++duty) {
    SCOPED_TRACE("duty " + std::to_string(duty));
    PsgUnit unit = FreshUnit();
    StartNote(unit, {.voice = 1, .key = 60, .duty = duty});
    const std::vector<int32_t> left = Left(Play(unit, 62), 0, kPsgSampleRate);
    int high = 0;
    for (int32_t value : left) high += value > 0;
    EXPECT_NEAR(1000 * high / static_cast<int>(left.size()), wantPercent[duty], 10);
    EXPECT_EQ(*std::max_element(left.begin(), left.end()), 1920);
    EXPECT_EQ(*std::min_element(left.begin(), left.end()), -1920);
  }
}

TEST(RenderPsg, WaveVoicePlaysItsTableInOrder) {
  // 0, 2, ... 14, 15, 13, ... 1, twice: every neighbour differs, the wrap too.
  const uint8_t table[16] = {0x02, 0x46, 0x8A, 0xCE, 0xFD, 0xB9, 0x75, 0x31,
                             0x02, 0x46, 0x8A, 0xCE, 0xFD, 0xB9, 0x75, 0x31};
  PsgUnit unit = FreshUnit();
  PsgChannel& c = StartNote(unit, {.voice = 3, .key = 36});  // about 46 samples a step
  std::copy(std::begin(table), std::end(table), c.waveTable);
  const std::vector<int32_t> left = Left(Play(unit, 3), 0, 2000);
  std::vector<int32_t> levels;  // held for 20 samples or more: a step, not an edge
  for (size_t k = 0, run = 1; k + 1 < left.size(); ++k) {
    run = left[k + 1] == left[k] ? run + 1 : 1;
    if (run == 20) levels.push_back((left[k] + 1920) / 256);
  }
  std::vector<int32_t> want;
  for (uint8_t byte : table) want.insert(want.end(), {byte >> 4, byte & 0x0F});
  levels.resize(32);
  EXPECT_EQ(levels, want);
}

TEST(RenderPsg, NoiseRepeatsAfter127StatesOnlyInItsShortWidth) {
  for (uint8_t width = 0; width < 2; ++width) {
    SCOPED_TRACE(width ? "7-bit" : "15-bit");
    PsgUnit unit = FreshUnit();
    PsgChannel& c = StartNote(unit, {.voice = 4, .key = 60, .duty = width});
    c.frequency = 0xC0;  // 8 << 12 clocks: exactly 375 samples a state
    StepPsgFrame(unit);
    std::vector<int32_t> out(2 * 254 * 375);
    RenderPsg(unit, out.data(), 254 * 375);
    std::vector<bool> high;
    for (size_t k = 0; k < 254; ++k) high.push_back(out[2 * (k * 375 + 187)] > 0);
    int repeats = 0;
    int highs = 0;
    for (size_t k = 0; k < 127; ++k) {
      repeats += high[k] == high[k + 127];
      highs += high[k];
    }
    if (width) {
      EXPECT_EQ(repeats, 127);
      EXPECT_EQ(highs, 63);  // the LFSR's 64 ones, inverted
    } else {
      EXPECT_LT(repeats, 127);
    }
  }
}

TEST(StepPsgFrame, AttackAndReleaseLandOnTheEngineFrames) {
  PsgUnit unit = FreshUnit();
  PsgChannel& c = StartNote(unit, {.voice = 2, .key = 60, .attack = 2, .release = 3});
  struct Row {
    int frame;
    int volume;     // the engine's envelope volume after that frame
    uint8_t flags;  // its status flags
  };
  // A step every 2 frames from frame 3; frame 15 and every 15th after steps twice. The gate
  // ends after frame 40; the release steps every 3 frames from frame 44.
  const Row rows[] = {
      {1, 0, 3},   {3, 1, 3},      {15, 7, 3},     {16, 8, 3},    {29, 14, 3},   {30, 15, 1},
      {40, 15, 1}, {41, 15, 0x40}, {44, 14, 0x40}, {60, 8, 0x40}, {82, 1, 0x40}, {83, 0, 0},
  };
  std::vector<int32_t> out(2 * kFrameSamples);
  int frame = 0;
  for (const Row& row : rows) {
    for (; frame < row.frame; ++frame) {
      if (frame == 40) c.statusFlags |= kPsgStop;
      StepPsgFrame(unit);
      RenderPsg(unit, out.data(), kFrameSamples);
    }
    SCOPED_TRACE("frame " + std::to_string(row.frame));
    EXPECT_EQ(c.envelopeVolume, row.volume);
    EXPECT_EQ(c.statusFlags, row.flags);
  }
  std::fill(out.begin(), out.end(), 0);
  RenderPsg(unit, out.data(), kFrameSamples);
  EXPECT_EQ(std::count(out.begin(), out.end(), 0), static_cast<long>(out.size()));
}

TEST(RenderPsg, PanDecidesTheSidesAVoiceReaches) {
  struct Row {
    std::string name;
    uint8_t right, left;
    bool wantLeft, wantRight;
  };
  const Row rows[] = {
      {"centre", 120, 120, true, true},
      {"right at twice the left or more", 200, 100, false, true},
      {"left at twice the right or more", 40, 81, true, false},
      {"leaning right, under twice", 100, 60, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PsgUnit unit = FreshUnit();
    PsgChannel& c = StartNote(unit, {.voice = 2, .key = 60});
    c.rightVolume = row.right;
    c.leftVolume = row.left;
    const std::vector<int32_t> out = Play(unit, 2);
    bool left = false;
    bool right = false;
    for (size_t k = 0; k < out.size(); k += 2) {
      left |= out[k] != 0;
      right |= out[k + 1] != 0;
    }
    EXPECT_EQ(left, row.wantLeft);
    EXPECT_EQ(right, row.wantRight);
  }
}

TEST(RenderPsg, MutingOneVoiceLeavesTheOthersAsTheyWere) {
  PsgUnit alone = FreshUnit();
  StartNote(alone, {.voice = 2, .key = 64});
  PsgUnit both = FreshUnit();
  StartNote(both, {.voice = 1, .key = 60});
  StartNote(both, {.voice = 2, .key = 64});
  both.muted[0] = true;
  EXPECT_EQ(Play(both, 10), Play(alone, 10));
}

TEST(StepPsgFrame, EchoHoldsAQuietTailForItsLength) {
  PsgUnit unit = FreshUnit();
  PsgChannel& c = StartNote(unit, {.voice = 4, .key = 60});
  c.pseudoEchoVolume = 128;
  c.pseudoEchoLength = 5;
  Play(unit, 3);
  c.statusFlags |= kPsgStop;
  // No release: the echo starts at once at half the goal, rounded up, for 5 frames.
  for (int frame = 0; frame < 6; ++frame) {
    SCOPED_TRACE("frame " + std::to_string(frame));
    Play(unit, 1);
    EXPECT_EQ(c.statusFlags, frame < 5 ? kPsgStop | kPsgEcho : 0);
    EXPECT_EQ(unit.generators[3].volume, frame < 5 ? 8 : 0);
  }
}

TEST(RenderPsg, LengthUnitEndsTheSoundOnItsOwn) {
  PsgUnit unit = FreshUnit();
  StartNote(unit, {.voice = 2, .key = 60}).length = 32;  // 64 - 32 steps at 256 Hz: 1/8 s
  const std::vector<int32_t> left = Left(Play(unit, 12), 0, 12 * kFrameSamples);
  size_t last = 0;
  for (size_t k = 0; k < left.size(); ++k) last = left[k] != 0 ? k : last;
  // Length steps come 93.75 samples after the reset, then every 187.5: the 32nd at 5906.25.
  EXPECT_EQ(last, 5905u);
  EXPECT_NE(unit.channels[1].statusFlags, 0);  // the engine still holds the note
}

TEST(RenderPsg, SweepRaisesSquare1UntilItOverflows) {
  PsgUnit unit = FreshUnit();
  PsgChannel& c = StartNote(unit, {.voice = 1, .key = 60});
  c.frequency = 1000;
  c.sweep = 0x13;  // every 1/128 s, up by an eighth
  StepPsgFrame(unit);
  std::vector<uint16_t> words;
  int32_t out[2];
  for (int k = 0; k < 4800 && unit.generators[0].playing; ++k) {
    if (words.empty() || words.back() != unit.generators[0].frequency) {
      words.push_back(unit.generators[0].frequency);
    }
    RenderPsg(unit, out, 1);
  }
  // The step to 2025 finds the next one, 2278, past the 11 bits: the voice stops there.
  EXPECT_EQ(words, (std::vector<uint16_t>{1000, 1125, 1265, 1423, 1600, 1800}));
  EXPECT_EQ(unit.generators[0].frequency, 2025);
  EXPECT_FALSE(unit.generators[0].playing);
}
