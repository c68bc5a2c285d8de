// The moves of one sonvault-songs run, as typed: "K=N" (song K of the source replaces song N of
// the target), "K=new" (song K is added after the target's last song), either with ":P" to name
// the player that plays it. Numbers are decimal, as games count songs from 0, or 0x hexadecimal.
#pragma once

#include <cstdint>

inline constexpr uint32_t kMaxMoves = 256;
inline constexpr uint32_t kNoPlayer = UINT32_MAX;

struct Move {
  uint32_t source;  // the source's song number
  bool added;       // true: a new song of the target, else place is a song of the target
  uint32_t place;   // replaced song, or for an added song the number it gets
  uint32_t player;  // kNoPlayer: the place's (replace) or the source song's (add)
};

// Reads one move; false when text is not one.
bool ParseMove(const char* text, Move& move);

// Reads a song or player number; false when text is not one.
bool ParseNumber(const char* text, uint32_t& number);
