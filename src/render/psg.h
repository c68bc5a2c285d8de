// The console's four PSG voices as the game's sound engine drives them: the engine's per-voice
// record (PsgChannel), its once-per-frame step (envelope, echo, pan, register writes) and a model
// of the hardware those writes reach (square 1 with sweep, square 2, the 4-bit wave voice, noise;
// length units at 256 Hz, sweep at 128 Hz, envelopes at 64 Hz), rendered at 48000 Hz.
//
// For the sequencer, per voice n (1-4: the tone's type & 7; 5-7 name no voice, where the engine
// would write past its four records: skip those notes), as the engine's note start, volume and
// pitch settings and frame step do:
// - note start: priority = min(255, player priority + track priority). A busy voice (statusFlags &
//   kPsgOn, without kPsgStop) is kept if its priority is higher, or equal and held by a track of
//   lower index. Otherwise write every field marked "note start" below: key is the note's key (a
//   drum kit: its entry's key), rhythmPan a drum entry's pan ((pan - 0xC0) * 2 when bit 7 is set),
//   right/leftVolume = min(255, velocity * (128 + rhythmPan or 127 - rhythmPan) * the track's
//   right or left volume >> 14), frequency = PsgKeyToFrequency(n, max(0, key + the track's key
//   offset), the track's fine pitch); then statusFlags = kPsgStart. StepPsgFrame starts it.
// - track volume or pan change: rightVolume and leftVolume again; modify |= kPsgModifyVolume.
// - track pitch change: frequency again, as at note start; modify |= kPsgModifyPitch.
// - gate end (gateTime counted down to 0 by the ticks), EOT of its key, FINE of its track:
//   statusFlags |= kPsgStop. The release, echo and stop follow in StepPsgFrame.
// - track stop (a song starting over it, the end of a fade): StopPsgVoice.
// - every video frame: the frame's ticks, then StepPsgFrame once, then RenderPsg for the frame's
//   samples. A voice with (statusFlags & kPsgOn) == 0 is free again.
//
// Output units: 1/16 of a step of the console's 10-bit output, mixed as the engine sets the
// console up (master volume 7 on both sides, PSG at 100 %, DirectSound at 100 %). There a PSG
// voice at level L (0-15) moves the output 16 L steps between its low and its high; here it swings
// from -128 L to +128 L around zero, with no offset: a square at volume 15 adds +-1920. A
// DirectSound FIFO sample s (-128..127) at 100 % adds 4 s steps: s * 64 here.
#pragma once

#include <cstdint>

constexpr uint32_t kPsgSampleRate = 48000;
constexpr int32_t kPsgUnitsPerDirectSoundSample = 64;

// statusFlags, as the engine's channel records keep them.
constexpr uint8_t kPsgStart = 0x80;
constexpr uint8_t kPsgStop = 0x40;
constexpr uint8_t kPsgEcho = 0x04;      // the pseudo echo after the release
constexpr uint8_t kPsgEnvelope = 0x03;  // 3 attack, 2 decay, 1 sustain, 0 release
constexpr uint8_t kPsgOn = kPsgStart | kPsgStop | kPsgEcho | kPsgEnvelope;
// modify
constexpr uint8_t kPsgModifyVolume = 0x01;
constexpr uint8_t kPsgModifyPitch = 0x02;
// type: the low three bits name the voice; this bit is the fixed-frequency flag.
constexpr uint8_t kPsgFixed = 0x08;

struct PsgChannel {
  uint8_t statusFlags = 0;  // note start, gate end, EOT; stepped by StepPsgFrame
  uint8_t type = 0;         // note start: the tone's type (voice number | kPsgFixed)
  uint8_t rightVolume = 0;  // note start and volume change: the engine's ChnVolSet
  uint8_t leftVolume = 0;
  uint8_t attack = 0;  // note start: the tone's envelope, in frames per step
  uint8_t decay = 0;
  uint8_t sustain = 0;  // 0-15
  uint8_t release = 0;
  uint8_t key = 0;               // note start: the key that pitch changes recompute from
  uint8_t pseudoEchoVolume = 0;  // note start: the track's echo settings
  uint8_t pseudoEchoLength = 0;
  uint8_t length = 0;  // note start: the tone's hardware length (0: none)
  uint8_t sweep = 0;   // note start: the tone's sweep when bit 7 is clear and bits 4-6 are not
                       // all 0, else 0x08 (square 1 only)
  uint8_t duty = 0;    // note start: the tone's wave word; squares: duty 0-3 (12.5, 25, 50,
                       // 75 %); noise: 1 = 7-bit LFSR, 0 = 15-bit
  uint8_t waveTable[16] = {};  // note start, wave voice: the 16 bytes the tone points to
  uint32_t frequency = 0;      // note start and pitch change: PsgKeyToFrequency
  uint8_t modify = 0;          // volume and pitch changes; cleared by StepPsgFrame

  // The sequencer's own bookkeeping, as the engine keeps it here; not read by this unit.
  uint8_t gateTime = 0;
  uint8_t midiKey = 0;
  uint8_t velocity = 0;
  uint8_t priority = 0;
  int8_t rhythmPan = 0;
  int8_t track = -1;

  // Kept by StepPsgFrame.
  uint8_t envelopeVolume = 0;
  uint8_t envelopeGoal = 0;
  uint8_t envelopeCounter = 0;
  uint8_t sustainGoal = 0;
  uint8_t pan = 0;          // the voice's left/right enable bits, as the engine writes them
  uint8_t panMask = 0;      // set by ResetPsg
  uint8_t lengthFlags = 0;  // the engine's copy of the trigger and length-enable bits
};

// The hardware behind one voice: its registers and its generator state.
struct PsgGenerator {
  bool playing = false;
  bool dacOn = false;
  uint8_t envelopeRegister = 0;  // as last written, for the engine to read back
  uint8_t volume = 0;  // current envelope volume; the wave voice's volume register instead
  bool envelopeRises = false;
  uint8_t envelopePeriod = 0;
  uint8_t envelopeTimer = 0;
  uint16_t lengthCounter = 0;
  bool lengthEnabled = false;
  uint16_t frequency = 0;  // 11 bits; the noise voice keeps its clock byte here
  uint8_t duty = 0;
  uint8_t step = 0;    // the duty step (0-7) or wave sample (0-31) being played
  uint64_t phase = 0;  // time into that step or LFSR state, in 1/48000 of a hardware clock
  uint16_t lfsr = 0x7FFF;
  bool narrowNoise = false;
  uint8_t sweep = 0;  // the sweep register
  uint8_t sweepTimer = 0;
  bool sweepEnabled = false;
  uint16_t sweepShadow = 0;
  uint8_t waveRam[16] = {};
};

struct PsgUnit {
  PsgChannel channels[4];
  PsgGenerator generators[4];
  uint8_t panBits = 0;         // left enables in bits 4-7, right in bits 0-3, one per voice
  uint8_t frameCount15 = 0;    // the engine's 15-frame count for its doubled envelope steps
  uint32_t sequencerWait = 0;  // quarter output samples to the next 512 Hz step
  uint8_t sequencerStep = 0;
  bool muted[4] = {};
};

// Everything silent, the voices numbered and masked as the engine sets them up.
void ResetPsg(PsgUnit& unit);

// The hardware frequency word of a key, as the engine works it out: squares and wave voice
// 2048 - 131072 / Hz (the wave voice sounds an octave lower); noise (type 4) its clock byte.
// fineAdjust in 1/256 key.
uint32_t PsgKeyToFrequency(uint8_t type, uint8_t key, uint8_t fineAdjust);

// The envelope goal, sustain level and pan of the channel's current left and right volume.
void ModulatePsgVolume(PsgChannel& channel);

// The engine's once-per-frame work on all four voices: starts, envelope steps, echo, stops,
// and the register writes of changed pitch and volume.
void StepPsgFrame(PsgUnit& unit);

// The engine turning voice n (1-4) off at once, as when its track stops.
void StopPsgVoice(PsgUnit& unit, uint8_t voice);

// Adds `frames` stereo samples (left, right) at 48000 Hz to `stereo`; muted voices add nothing
// but keep running.
void RenderPsg(PsgUnit& unit, int32_t* stereo, uint32_t frames);
