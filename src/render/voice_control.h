// The engine's work on voices for the sequencer: a note started on a sample or PSG voice (the
// engine's ply_note, with its choice of voice), an end of tie, and a track's volume and pitch
// reaching its voices (TrkVolPitSet, ChnVolSet). A track keeps its voices in a chain, newest
// first, as the engine does; a voice that has gone quiet leaves it when the track next looks.
#pragma once

#include <cstdint>

#include "render/sequencer.h"

// Track flags.
inline constexpr uint8_t kExists = 0x80;
inline constexpr uint8_t kStarting = 0x40;
inline constexpr uint8_t kVolumeChanged = 0x03;
inline constexpr uint8_t kVolumeSet = 0x01;
inline constexpr uint8_t kPitchChanged = 0x0C;
inline constexpr uint8_t kPitchSet = 0x04;
inline constexpr uint32_t kToneSize = 12;

// Ticks of wait or note length index (0-48).
uint8_t LengthOf(uint32_t index);

// The status flags of a voice: 0 to 11 sample voices, 12 to 15 the PSG voices.
uint8_t& StatusOf(Sequencer& sequencer, int voice);

// Takes the voice out of its track's chain (ClearChain).
void Unlink(Sequencer& sequencer, int voice);

// FINE: the track's sounding voices release and leave it; the track ends.
void StopTrack(Sequencer& sequencer, Track& track);

// The modulation back to rest, as LFO speed or depth 0 and a delayed note leave it.
void ClearModulation(Track& track);

// The 12-byte tone at address; false (tone untouched) when it is not in the image.
bool ReadTone(ImageSpan image, uint32_t address, Tone& tone);

// A note of the length index: reads the optional key, velocity and gate bytes from the track and,
// with voices, starts it on the voice the engine would choose.
void PlayNote(Sequencer& sequencer, int trackIndex, uint8_t length);

// EOT: reads the optional key; the newest sounding voice of the key releases.
void EndTie(Sequencer& sequencer, Track& track);

// The track's changed volume and pitch worked out and given to its voices; clears the changes.
void UpdateTrackVoices(Sequencer& sequencer, Track& track);
