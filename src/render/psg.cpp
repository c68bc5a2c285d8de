#include "render/psg.h"

#include <cstring>

namespace {

// The PSG runs on a 4194304 Hz clock. Time inside a voice is counted in 1/48000 of that clock,
// so one output sample spans exactly 4194304 units and every hardware period is whole.
constexpr uint64_t kUnitsPerClock = kPsgSampleRate;
constexpr uint64_t kSampleSpan = 4194304;
// The 512 Hz frame sequencer: 8192 clocks, 93.75 output samples, counted in quarter samples.
constexpr uint32_t kQuartersPerSequencerStep = 375;

// Envelope states in the low bits of statusFlags.
constexpr uint8_t kRelease = 0;
constexpr uint8_t kSustain = 1;
constexpr uint8_t kDecay = 2;
constexpr uint8_t kAttack = 3;
constexpr uint8_t kEnvelopeRises = 0x08;  // NRx2's direction bit

// The engine's tone periods for the 12 notes of its lowest octave, negative: 2048 less the
// period is the frequency word, and each octave up halves the period.
constexpr int32_t kNotePeriods[12] = {-2004, -1891, -1785, -1685, -1591, -1501,
                                      -1417, -1337, -1262, -1192, -1125, -1062};

// The engine's noise clock byte for keys 21 to 80: shift in the high nibble, divider below.
constexpr uint8_t kNoiseClocks[60] = {
    0xD7, 0xD6, 0xD5, 0xD4, 0xC7, 0xC6, 0xC5, 0xC4, 0xB7, 0xB6, 0xB5, 0xB4, 0xA7, 0xA6, 0xA5,
    0xA4, 0x97, 0x96, 0x95, 0x94, 0x87, 0x86, 0x85, 0x84, 0x77, 0x76, 0x75, 0x74, 0x67, 0x66,
    0x65, 0x64, 0x57, 0x56, 0x55, 0x54, 0x47, 0x46, 0x45, 0x44, 0x37, 0x36, 0x35, 0x34, 0x27,
    0x26, 0x25, 0x24, 0x17, 0x16, 0x15, 0x14, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x00};

// The wave voice's volume register for each envelope volume: mute, 25 %, 50 %, 75 %, 100 %.
constexpr uint8_t kWaveVolumes[16] = {0x00, 0x00, 0x60, 0x60, 0x60, 0x60, 0x40, 0x40,
                                      0x40, 0x40, 0x80, 0x80, 0x80, 0x80, 0x20, 0x20};

// Which of a square's 8 steps are high (bit k: step k), for duties 12.5, 25, 50 and 75 %.
constexpr uint8_t kDutySteps[4] = {0x80, 0x81, 0xE1, 0x7E};

constexpr int kWaveVoice = 2;
constexpr int kNoiseVoice = 3;

// --- The hardware: register writes and the frame sequencer's clocks. ---

uint32_t NextSweepFrequency(const PsgGenerator& g) {
  const uint32_t delta = g.sweepShadow >> (g.sweep & 7);
  return (g.sweep & 0x08) ? g.sweepShadow - delta : g.sweepShadow + delta;
}

void Trigger(PsgGenerator& g, int voice) {
  g.playing = g.dacOn;
  if (g.lengthCounter == 0) g.lengthCounter = voice == kWaveVoice ? 256 : 64;
  g.phase = 0;
  if (voice != kWaveVoice) {
    g.volume = static_cast<uint8_t>(g.envelopeRegister >> 4);
    g.envelopeRises = (g.envelopeRegister & kEnvelopeRises) != 0;
    g.envelopePeriod = g.envelopeRegister & 7;
    g.envelopeTimer = g.envelopePeriod;
  }
  if (voice == kWaveVoice) g.step = 0;
  if (voice == kNoiseVoice) g.lfsr = 0x7FFF;
  if (voice == 0) {
    const uint8_t period = (g.sweep >> 4) & 7;
    g.sweepShadow = g.frequency;
    g.sweepTimer = period != 0 ? period : 8;
    g.sweepEnabled = period != 0 || (g.sweep & 7) != 0;
    if ((g.sweep & 7) != 0 && NextSweepFrequency(g) > 2047) g.playing = false;
  }
}

void WriteLength(PsgGenerator& g, int voice, uint8_t value) {
  if (voice == kWaveVoice) {
    g.lengthCounter = static_cast<uint16_t>(256 - value);
  } else {
    g.duty = static_cast<uint8_t>(value >> 6);
    g.lengthCounter = static_cast<uint16_t>(64 - (value & 63));
  }
}

// NRx2 of the squares and the noise: a volume and direction of 0 turns the voice's DAC off.
void WriteEnvelope(PsgGenerator& g, uint8_t value) {
  g.envelopeRegister = value;
  g.dacOn = (value & 0xF8) != 0;
  if (!g.dacOn) g.playing = false;
}

// NR30: bit 7 turns the wave voice's DAC on.
void WriteWaveEnable(PsgGenerator& g, uint8_t value) {
  g.dacOn = (value & 0x80) != 0;
  if (!g.dacOn) g.playing = false;
}

void WriteFrequencyLow(PsgGenerator& g, uint8_t value) {
  g.frequency = static_cast<uint16_t>((g.frequency & 0x700) | value);
}

void WriteNoiseClock(PsgGenerator& g, uint8_t value) {
  g.frequency = value;
  g.narrowNoise = (value & 0x08) != 0;
}

// NRx4: frequency bits 8-10 (not the noise), length enable, and the trigger.
void WriteControl(PsgGenerator& g, int voice, uint8_t value) {
  if (voice != kNoiseVoice) {
    g.frequency = static_cast<uint16_t>((g.frequency & 0xFF) | ((value & 7) << 8));
  }
  g.lengthEnabled = (value & 0x40) != 0;
  if (value & 0x80) Trigger(g, voice);
}

void ClockSequencer(PsgUnit& unit) {
  const uint8_t step = unit.sequencerStep;
  unit.sequencerStep = (step + 1) & 7;
  if ((step & 1) == 0) {
    for (PsgGenerator& g : unit.generators) {
      if (g.lengthEnabled && g.lengthCounter > 0 && --g.lengthCounter == 0) g.playing = false;
    }
  }
  PsgGenerator& sweeper = unit.generators[0];
  if ((step == 2 || step == 6) && sweeper.sweepTimer > 0 && --sweeper.sweepTimer == 0) {
    const uint8_t period = (sweeper.sweep >> 4) & 7;
    sweeper.sweepTimer = period != 0 ? period : 8;
    if (sweeper.sweepEnabled && period != 0) {
      const uint32_t next = NextSweepFrequency(sweeper);
      if (next > 2047) {
        sweeper.playing = false;
      } else if ((sweeper.sweep & 7) != 0) {
        sweeper.sweepShadow = static_cast<uint16_t>(next);
        sweeper.frequency = static_cast<uint16_t>(next);
        if (NextSweepFrequency(sweeper) > 2047) sweeper.playing = false;
      }
    }
  }
  if (step == 7) {
    for (int voice = 0; voice < 4; ++voice) {
      PsgGenerator& g = unit.generators[voice];
      if (voice == kWaveVoice || g.envelopePeriod == 0 || --g.envelopeTimer != 0) continue;
      g.envelopeTimer = g.envelopePeriod;
      if (g.envelopeRises && g.volume < 15) ++g.volume;
      if (!g.envelopeRises && g.volume > 0) --g.volume;
    }
  }
}

// --- The generators over one output sample: each is averaged over the sample's span. ---

// Level times time over one output sample, walking the voice's steps (duty steps, wave samples,
// LFSR states) of stepSpan units each; advance moves to the next step.
template <typename Level, typename Advance>
uint64_t SumOverSample(PsgGenerator& g, uint64_t stepSpan, Level level, Advance advance) {
  uint64_t sum = 0;
  uint64_t remaining = kSampleSpan;
  for (;;) {
    const uint64_t value = level();
    // A step shortened by a frequency change ends at once.
    const uint64_t left = g.phase < stepSpan ? stepSpan - g.phase : 0;
    if (remaining < left) {
      g.phase += remaining;
      return sum + value * remaining;
    }
    sum += value * left;
    remaining -= left;
    g.phase = 0;
    advance();
  }
}

// The average of levels up to fullScale, centred on zero (see the header's units).
int32_t Centred(uint64_t levelSum, uint32_t fullScale) {
  const int64_t span = static_cast<int64_t>(kSampleSpan);
  return static_cast<int32_t>((256 * static_cast<int64_t>(levelSum) - 128 * span * fullScale) /
                              span);
}

int32_t RenderSquare(PsgGenerator& g) {
  const uint64_t stepSpan = 4 * (2048 - uint64_t{g.frequency}) * kUnitsPerClock;
  const uint8_t steps = kDutySteps[g.duty & 3];
  const uint64_t high = SumOverSample(
      g, stepSpan, [&] { return (steps >> g.step) & 1u; }, [&] { g.step = (g.step + 1) & 7; });
  return Centred(high * g.volume, g.volume);
}

// The wave voice's 4-bit sample at its volume: 100, 50, 25 % by shifts, 75 % as 3/4.
uint32_t WaveLevel(uint8_t volumeRegister, uint32_t sample) {
  if (volumeRegister & 0x80) return (3 * sample) >> 2;
  switch ((volumeRegister >> 5) & 3) {
    case 1:
      return sample;
    case 2:
      return sample >> 1;
    case 3:
      return sample >> 2;
    default:
      return 0;
  }
}

int32_t RenderWave(PsgGenerator& g) {
  const uint64_t stepSpan = 2 * (2048 - uint64_t{g.frequency}) * kUnitsPerClock;
  const uint64_t sum = SumOverSample(
      g, stepSpan,
      [&] {
        const uint32_t byte = g.waveRam[g.step >> 1];
        return WaveLevel(g.volume, (g.step & 1) ? byte & 0x0F : byte >> 4);
      },
      [&] { g.step = (g.step + 1) & 31; });
  return Centred(sum, WaveLevel(g.volume, 15));
}

void ShiftNoise(PsgGenerator& g) {
  const uint32_t lfsr = g.lfsr;
  const uint32_t feedback = (lfsr ^ (lfsr >> 1)) & 1;
  uint32_t next = (lfsr >> 1) | (feedback << 14);
  if (g.narrowNoise) next = (next & ~0x40u) | (feedback << 6);
  g.lfsr = static_cast<uint16_t>(next);
}

int32_t RenderNoise(PsgGenerator& g) {
  const uint32_t shift = g.frequency >> 4;
  const uint32_t divider = g.frequency & 7;
  // Shifts 14 and 15 stop the LFSR.
  const uint64_t stateSpan =
      shift >= 14 ? UINT64_MAX
                  : (uint64_t{divider != 0 ? 16 * divider : 8} << shift) * kUnitsPerClock;
  const uint64_t high = SumOverSample(
      g, stateSpan, [&] { return (g.lfsr & 1u) ^ 1u; }, [&] { ShiftNoise(g); });
  return Centred(high * g.volume, g.volume);
}

// A voice at volume 0 that stays there: the engine leaves its idle voices so.
bool IsSilent(const PsgGenerator& g, int voice) {
  if (voice == kWaveVoice) return WaveLevel(g.volume, 15) == 0;
  return g.volume == 0 && !(g.envelopeRises && g.envelopePeriod != 0);
}

// --- The engine's per-frame step. ---

enum class Next { kStepComplete, kEnvelopeComplete, kOff };

// The pseudo echo after the release: a quiet tail of pseudoEchoLength frames.
Next StartEcho(PsgChannel& c, int voice, uint8_t& envelopeBits) {
  c.envelopeVolume = static_cast<uint8_t>((c.envelopeGoal * c.pseudoEchoVolume + 0xFF) >> 8);
  if (c.envelopeVolume == 0) return Next::kOff;
  c.statusFlags |= kPsgEcho;
  c.modify |= kPsgModifyVolume;
  if (voice != kWaveVoice) envelopeBits = kEnvelopeRises;
  return Next::kEnvelopeComplete;
}

Next StartSustain(PsgChannel& c, int voice, uint8_t& envelopeBits) {
  if (c.sustain == 0) {
    c.statusFlags &= static_cast<uint8_t>(~kPsgEnvelope);
    return StartEcho(c, voice, envelopeBits);
  }
  --c.statusFlags;
  c.modify |= kPsgModifyVolume;
  if (voice != kWaveVoice) envelopeBits = kEnvelopeRises;
  c.envelopeVolume = c.sustainGoal;
  c.envelopeCounter = 7;
  return Next::kStepComplete;
}

Next StartDecay(PsgChannel& c, int voice, uint8_t& envelopeBits) {
  --c.statusFlags;
  c.envelopeCounter = c.decay;
  if (c.envelopeCounter == 0) return StartSustain(c, voice, envelopeBits);
  c.modify |= kPsgModifyVolume;
  c.envelopeVolume = c.envelopeGoal;
  if (voice != kWaveVoice) envelopeBits = c.decay;  // falling
  return Next::kStepComplete;
}

// One step of the software envelope, taken when its frame counter has run out.
Next StepEnvelope(PsgChannel& c, int voice, uint8_t& envelopeBits) {
  if (c.envelopeCounter != 0) return Next::kStepComplete;
  if (voice == kWaveVoice) c.modify |= kPsgModifyVolume;
  ModulatePsgVolume(c);
  switch (c.statusFlags & kPsgEnvelope) {
    case kRelease:
      --c.envelopeVolume;
      if (static_cast<int8_t>(c.envelopeVolume) <= 0) return StartEcho(c, voice, envelopeBits);
      c.envelopeCounter = c.release;
      return Next::kStepComplete;
    case kSustain:
      c.envelopeVolume = c.sustainGoal;
      c.envelopeCounter = 7;
      return Next::kStepComplete;
    case kDecay:
      --c.envelopeVolume;
      if (static_cast<int8_t>(c.envelopeVolume) <= static_cast<int8_t>(c.sustainGoal)) {
        return StartSustain(c, voice, envelopeBits);
      }
      c.envelopeCounter = c.decay;
      return Next::kStepComplete;
    default:
      ++c.envelopeVolume;
      if (c.envelopeVolume >= c.envelopeGoal) return StartDecay(c, voice, envelopeBits);
      c.envelopeCounter = c.attack;
      return Next::kStepComplete;
  }
}

// A note's first frame: the voice's registers set up, the envelope started.
Next StartNote(PsgChannel& c, PsgGenerator& g, int voice, uint8_t& envelopeBits) {
  c.statusFlags = kAttack;
  c.modify = kPsgModifyPitch | kPsgModifyVolume;
  ModulatePsgVolume(c);
  if (voice == kWaveVoice) {
    if (std::memcmp(c.waveTable, g.waveRam, sizeof g.waveRam) != 0) {
      std::memcpy(g.waveRam, c.waveTable, sizeof g.waveRam);
    }
    WriteWaveEnable(g, 0);
    WriteLength(g, voice, c.length);
    c.lengthFlags = c.length != 0 ? 0xC0 : 0x80;
  } else {
    if (voice == 0) g.sweep = c.sweep;
    if (voice == kNoiseVoice) {
      WriteLength(g, voice, c.length);
      WriteNoiseClock(g, static_cast<uint8_t>(c.duty << 3));
    } else {
      WriteLength(g, voice, static_cast<uint8_t>((c.duty << 6) + c.length));
    }
    envelopeBits = static_cast<uint8_t>(c.attack + kEnvelopeRises);
    c.lengthFlags = c.length != 0 ? 0x40 : 0x00;
  }
  c.envelopeCounter = c.attack;
  if (c.attack == 0) return StartDecay(c, voice, envelopeBits);
  c.envelopeVolume = 0;
  return Next::kStepComplete;
}

void TurnOff(PsgGenerator& g, int voice) {
  if (voice == kWaveVoice) {
    WriteWaveEnable(g, 0);
  } else {
    WriteEnvelope(g, 0x08);
    WriteControl(g, voice, 0x80);
  }
}

void WritePitch(PsgChannel& c, PsgGenerator& g, int voice) {
  // The engine rounds fixed-frequency tones to the 65536 Hz PWM rate it runs at.
  if (voice != kNoiseVoice && (c.type & kPsgFixed)) c.frequency = (c.frequency + 1) & 0x7FE;
  const uint8_t low = static_cast<uint8_t>(c.frequency);
  if (voice == kNoiseVoice) {
    WriteNoiseClock(g, static_cast<uint8_t>((g.frequency & 0x08) | low));
  } else {
    WriteFrequencyLow(g, low);
  }
  c.lengthFlags = static_cast<uint8_t>((c.lengthFlags & 0xC0) + (c.frequency >> 8));
  WriteControl(g, voice, c.lengthFlags);
}

void WriteVolume(PsgUnit& unit, PsgChannel& c, PsgGenerator& g, int voice, uint8_t envelopeBits) {
  unit.panBits = static_cast<uint8_t>((unit.panBits & ~c.panMask) | c.pan);
  if (voice == kWaveVoice) {
    g.volume = kWaveVolumes[c.envelopeVolume < 16 ? c.envelopeVolume : 15];
    if (c.lengthFlags & 0x80) {
      WriteWaveEnable(g, 0x80);
      WriteControl(g, voice, c.lengthFlags);
      c.lengthFlags &= 0x7F;
    }
    return;
  }
  // Writing the envelope and restarting the voice sets the hardware envelope going from the
  // software's volume, in the software's direction and pace.
  WriteEnvelope(g, static_cast<uint8_t>((envelopeBits & 0x0F) + (c.envelopeVolume << 4)));
  WriteControl(g, voice, static_cast<uint8_t>(c.lengthFlags | 0x80));
}

}  // namespace

void ResetPsg(PsgUnit& unit) {
  unit = PsgUnit{};
  for (int voice = 0; voice < 4; ++voice) {
    unit.channels[voice].type = static_cast<uint8_t>(voice + 1);
    unit.channels[voice].panMask = static_cast<uint8_t>(0x11 << voice);
    TurnOff(unit.generators[voice], voice);
  }
  unit.sequencerWait = kQuartersPerSequencerStep;
}

uint32_t PsgKeyToFrequency(uint8_t type, uint8_t key, uint8_t fineAdjust) {
  if ((type & 7) == 4) {
    if (key <= 20) return kNoiseClocks[0];
    return kNoiseClocks[key - 21 > 59 ? 59 : key - 21];
  }
  uint32_t index = 0;
  uint32_t fine = fineAdjust;
  if (key <= 35) {
    fine = 0;
  } else {
    index = key - 36u;
    if (index > 130) {
      index = 130;
      fine = 255;
    }
  }
  const int32_t low = kNotePeriods[index % 12] >> (index / 12);
  const int32_t high = kNotePeriods[(index + 1) % 12] >> ((index + 1) / 12);
  return static_cast<uint32_t>(low + ((static_cast<int32_t>(fine) * (high - low)) >> 8) + 2048);
}

void ModulatePsgVolume(PsgChannel& channel) {
  const uint32_t right = channel.rightVolume;
  const uint32_t left = channel.leftVolume;
  uint32_t goal = (left + right) / 16;
  // A voice much louder on one side plays on that side only, at most at full volume.
  const bool rightOnly = right >= left && right / 2 >= left;
  const bool leftOnly = left > right && left / 2 >= right;
  if (rightOnly || leftOnly) {
    channel.pan = rightOnly ? 0x0F : 0xF0;
    if (goal > 15) goal = 15;
  } else {
    channel.pan = 0xFF;
  }
  channel.envelopeGoal = static_cast<uint8_t>(goal);
  channel.sustainGoal = static_cast<uint8_t>((goal * channel.sustain + 15) >> 4);
  channel.pan &= channel.panMask;
}

void StepPsgFrame(PsgUnit& unit) {
  // Every 15th frame the envelopes step twice, keeping pace with the hardware's 64 Hz.
  unit.frameCount15 = unit.frameCount15 != 0 ? static_cast<uint8_t>(unit.frameCount15 - 1) : 14;
  for (int voice = 0; voice < 4; ++voice) {
    PsgChannel& c = unit.channels[voice];
    PsgGenerator& g = unit.generators[voice];
    if ((c.statusFlags & kPsgOn) == 0) continue;
    int doubleStep = unit.frameCount15 == 0 ? 1 : 0;
    uint8_t envelopeBits = g.envelopeRegister;
    Next next;
    if (c.statusFlags & kPsgStart) {
      next = (c.statusFlags & kPsgStop) ? Next::kOff : StartNote(c, g, voice, envelopeBits);
    } else if (c.statusFlags & kPsgEcho) {
      --c.pseudoEchoLength;
      next = static_cast<int8_t>(c.pseudoEchoLength) <= 0 ? Next::kOff : Next::kEnvelopeComplete;
    } else if ((c.statusFlags & kPsgStop) && (c.statusFlags & kPsgEnvelope)) {
      c.statusFlags &= static_cast<uint8_t>(~kPsgEnvelope);
      c.envelopeCounter = c.release;
      if (c.release != 0) {
        c.modify |= kPsgModifyVolume;
        if (voice != kWaveVoice) envelopeBits = c.release;  // falling
        next = Next::kStepComplete;
      } else {
        next = StartEcho(c, voice, envelopeBits);
      }
    } else {
      next = StepEnvelope(c, voice, envelopeBits);
    }
    while (next == Next::kStepComplete) {
      --c.envelopeCounter;
      if (doubleStep-- <= 0) {
        next = Next::kEnvelopeComplete;
      } else {
        next = StepEnvelope(c, voice, envelopeBits);
      }
    }
    if (next == Next::kOff) {
      TurnOff(g, voice);
      c.statusFlags = 0;
    } else {
      if (c.modify & kPsgModifyPitch) WritePitch(c, g, voice);
      if (c.modify & kPsgModifyVolume) WriteVolume(unit, c, g, voice, envelopeBits);
    }
    c.modify = 0;
  }
}

void StopPsgVoice(PsgUnit& unit, uint8_t voice) {
  if (voice < 1 || voice > 4 || unit.channels[voice - 1].statusFlags == 0) return;
  TurnOff(unit.generators[voice - 1], voice - 1);
  unit.channels[voice - 1].statusFlags = 0;
}

void RenderPsg(PsgUnit& unit, int32_t* stereo, uint32_t frames) {
  for (uint32_t frame = 0; frame < frames; ++frame) {
    while (unit.sequencerWait < 4) {
      ClockSequencer(unit);
      unit.sequencerWait += kQuartersPerSequencerStep;
    }
    unit.sequencerWait -= 4;
    int32_t left = 0;
    int32_t right = 0;
    for (int voice = 0; voice < 4; ++voice) {
      PsgGenerator& g = unit.generators[voice];
      if (!g.playing || IsSilent(g, voice)) continue;
      const int32_t value = voice == kWaveVoice    ? RenderWave(g)
                            : voice == kNoiseVoice ? RenderNoise(g)
                                                   : RenderSquare(g);
      if (unit.muted[voice]) continue;
      if (unit.panBits & (0x10 << voice)) left += value;
      if (unit.panBits & (0x01 << voice)) right += value;
    }
    stereo[2 * frame] += left;
    stereo[2 * frame + 1] += right;
  }
}
