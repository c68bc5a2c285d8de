// The track command bytes the image generators and the tests write: one name each, as the sound
// engine reads them. Notes and waits take their length from the engine's table: 0x80 + n waits
// and 0xCF + n notes for the table's n-th length (N24 is 0xE7, W24 is 0x98).
#pragma once

#include <cstdint>

inline constexpr uint8_t kFine = 0xB1;         // the track ends
inline constexpr uint8_t kGoto = 0xB2;         // a pointer follows
inline constexpr uint8_t kPatternCall = 0xB3;  // a pointer follows
inline constexpr uint8_t kPatternEnd = 0xB4;
inline constexpr uint8_t kTempo = 0xBB;  // half the beats a minute follows
inline constexpr uint8_t kVoice = 0xBD;
inline constexpr uint8_t kVolume = 0xBE;
inline constexpr uint8_t kPan = 0xBF;
inline constexpr uint8_t kLfoSpeed = 0xC2;
inline constexpr uint8_t kModulation = 0xC4;
inline constexpr uint8_t kEot = 0xCE;  // the tied note ends
inline constexpr uint8_t kTie = 0xCF;
