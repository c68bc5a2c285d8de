// The engine's music player: a song's tracks read command by command on the engine's clock, the
// notes they start on the sample and PSG voices, and each track's volume, pan and pitch.
// A song header is its track count (byte 0), the player priority (byte 2), the reverb (byte 3:
// bit 0x80 sets it), the instrument list pointer, then one pointer per track. A track is a byte
// stream: 0x80-0xB0 wait (the length table), 0xB1 FINE, 0xB2 GOTO and 0xB3 PATT (a pointer
// follows), 0xB4 PEND, 0xB5 REPT (count, pointer), 0xB9 MEMACC (3 bytes, 4 more when it tests),
// 0xBA-0xC8 settings with one byte, 0xCD XCMD, 0xCE EOT, 0xCF TIE and 0xD0-0xFF notes (a length
// from the table), each with optional key, velocity and gate bytes under 0x80. A byte under 0x80
// where a command is due repeats the last command from 0xBD up. Unknown commands end the track,
// as the engine's table sends them to FINE.
// Once per video frame (59.7275 Hz) the player adds its tempo to a counter and plays one tick for
// every 150 in it; the tracks' volume and pitch then reach their voices.
#pragma once

#include <cstdint>

#include "render/image_span.h"
#include "render/psg.h"
#include "render/sample_voice.h"

inline constexpr uint32_t kMaxTracks = 16;
inline constexpr uint32_t kSampleVoices = 12;
inline constexpr uint32_t kVoices = kSampleVoices + 4;  // the PSG voices last
// Commands a track may run in one tick before it is taken as stuck and stopped.
inline constexpr uint32_t kCommandsPerTick = 1024;

struct Tone {
  uint8_t type = 0, key = 0, length = 0, panSweep = 0;
  uint32_t data = 0;   // sample, wave table, duty, or the nested list
  uint32_t third = 0;  // attack, decay, sustain, release; or a key map
};

struct Track {
  uint8_t flags = 0, wait = 0, patternLevel = 0, repeats = 0, gateTime = 0, key = 0;
  uint8_t velocity = 0, runningStatus = 0, pitM = 0, bendRange = 0, volMR = 0, volML = 0;
  uint8_t vol = 0, volX = 0, mod = 0, modT = 0, lfoSpeed = 0, lfoSpeedC = 0, lfoDelay = 0;
  uint8_t lfoDelayC = 0, priority = 0, echoVolume = 0, echoLength = 0;
  int8_t keyM = 0, keyShift = 0, tune = 0, bend = 0, pan = 0, modM = 0;
  uint32_t command = 0;  // the address of the next byte
  uint32_t patterns[3] = {};
  Tone tone;
  int8_t firstVoice = -1;    // the newest voice of the track, the head of its chain
  uint32_t loops = 0;        // jumps back made
  uint16_t timer = 0;        // the extended wait's count
  uint32_t sampleStart = 0;  // where the track's samples start playing, in samples
};

// The engine's per-voice bookkeeping, for sample and PSG voices alike.
struct VoiceLink {
  int8_t track = -1, next = -1, previous = -1;
  uint8_t gateTime = 0, midiKey = 0, key = 0, priority = 0, velocity = 0;
  int8_t rhythmPan = 0;
};

struct Sequencer {
  ImageSpan image;
  uint32_t instruments = 0;
  uint32_t trackCount = 0;
  uint8_t priority = 0;
  uint8_t reverb = 0;
  uint16_t tempoD = 150, tempoI = 150, tempoC = 0;
  bool playing = false;    // false once every track has ended
  bool withVoices = true;  // false: a measuring run, no voices
  uint64_t ticks = 0;
  uint64_t commands = 0;   // run so far, for the callers' budgets
  uint32_t idleTicks = 0;  // a measuring run: ticks in which no track reads a command
  uint32_t skippedTicks = 0;
  Track tracks[kMaxTracks];
  VoiceLink links[kVoices];
  SampleVoice samples[kSampleVoices];
  PsgUnit psg;
};

enum class SongStart { kOk, kEmpty, kHeaderOffImage, kTrackOffImage, kNoInstruments };

// Starts the song whose header is at header; nothing is started unless kOk or kEmpty (a song
// without tracks starts ended). Every track pointer and the instrument list must lie in the image;
// at most kMaxTracks tracks play.
SongStart StartSequencer(Sequencer& sequencer, ImageSpan image, uint32_t header, bool withVoices);

// One video frame of the player: the ticks the tempo gives, then the volume and pitch of every
// track that changed them reach its voices. Leaves the voices' own frame step to the caller.
void StepSequencerFrame(Sequencer& sequencer);

// True when every track has ended or jumped back at least times times (a song without tracks
// left playing counts as done).
bool AllTracksLooped(const Sequencer& sequencer, uint32_t times);

// True when some track has jumped back.
bool AnyTrackLooped(const Sequencer& sequencer);
