// The engine's DirectSound voices: an 8-bit signed sample played at a pitch, under an envelope
// stepped once per video frame, mixed at 48000 Hz.
// A sample is a 16-byte header and its data: a halfword type (non-zero: compressed, when the
// tone asks for it), a halfword whose bits 0xC000 loop it, the frequency word (the rate of the
// sample's middle C, times 1024), the loop start and the size, both in samples. Plain data is one
// signed byte a sample; compressed data is 33 bytes per 64 samples: the first sample's value,
// then a step index in the low half of the next byte and two in each byte after it, high first.
// Envelope: attack adds to the volume (0-255) each frame up to 255, decay scales it by decay/256
// down to sustain, release scales it by release/256 down to the echo volume, which then holds
// for the echo length in frames.
#pragma once

#include <cstdint>

#include "render/image_span.h"

inline constexpr uint32_t kOutputRate = 48000;

// statusFlags, as the engine keeps them.
inline constexpr uint8_t kVoiceStart = 0x80;
inline constexpr uint8_t kVoiceStop = 0x40;
inline constexpr uint8_t kVoiceLoop = 0x10;
inline constexpr uint8_t kVoiceEcho = 0x04;
inline constexpr uint8_t kVoiceEnvelope = 0x03;  // 3 attack, 2 decay, 1 sustain, 0 release
inline constexpr uint8_t kVoiceOn = 0xC7;
// The tone's type bits the voice reads.
inline constexpr uint8_t kToneFixed = 0x08;
inline constexpr uint8_t kToneReverse = 0x10;
inline constexpr uint8_t kToneCompressed = 0x20;

struct SampleVoice {
  uint8_t statusFlags = 0;
  uint8_t type = 0;  // the tone's type
  uint8_t rightVolume = 0;
  uint8_t leftVolume = 0;
  uint8_t attack = 0;
  uint8_t decay = 0;
  uint8_t sustain = 0;
  uint8_t release = 0;
  uint8_t envelopeVolume = 0;
  uint8_t envelopeRight = 0;
  uint8_t envelopeLeft = 0;
  uint8_t echoVolume = 0;
  uint8_t echoLength = 0;
  uint32_t wave = 0;         // the sample header's address
  uint32_t frequency = 0;    // the playing rate in Hz (MidiKeyToFreq)
  uint32_t startOffset = 0;  // the first sample played

  // Set when the voice starts.
  uint32_t data = 0;  // file offset of the sample data
  uint32_t size = 0;
  uint32_t loopStart = 0;
  bool compressed = false;
  uint64_t position = 0;  // in samples, 32 bits of fraction
  int32_t decodedBlock = -1;
  int8_t block[64] = {};
};

// One frame of the engine's work on the voice before it is mixed: a starting voice reads its
// sample (one that does not lie wholly in the image stops it), then the envelope steps and the
// frame's left and right levels follow from it and the voice's volumes.
void StepSampleVoice(SampleVoice& voice, ImageSpan image);

// Adds count stereo samples (left, right) to mix, in the units of psg.h; a voice that reaches the
// end of a sample without a loop stops.
void MixSampleVoice(SampleVoice& voice, ImageSpan image, int32_t* mix, uint32_t count);
