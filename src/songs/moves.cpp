#include "songs/moves.h"

#include <cstring>

namespace {

int DigitValue(char c, uint32_t radix) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value >= 0 && static_cast<uint32_t>(value) < radix ? value : -1;
}

// A number from begin up to end: decimal, or hexadecimal after 0x; at most 0xFFFFFFFE.
bool ParseRange(const char* begin, const char* end, uint32_t& number) {
  uint32_t radix = 10;
  if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X')) {
    radix = 16;
    begin += 2;
  }
  if (begin == end) return false;
  uint64_t value = 0;
  for (const char* c = begin; c != end; ++c) {
    const int digit = DigitValue(*c, radix);
    if (digit < 0) return false;
    value = value * radix + static_cast<uint32_t>(digit);
    if (value >= UINT32_MAX) return false;
  }
  number = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

bool ParseNumber(const char* text, uint32_t& number) {
  return ParseRange(text, text + std::strlen(text), number);
}

bool ParseMove(const char* text, Move& move) {
  const char* equals = std::strchr(text, '=');
  if (equals == nullptr || !ParseRange(text, equals, move.source)) return false;
  const char* place = equals + 1;
  const char* colon = std::strchr(place, ':');
  const char* placeEnd = colon == nullptr ? place + std::strlen(place) : colon;
  move.player = kNoPlayer;
  if (colon != nullptr && (!ParseNumber(colon + 1, move.player) || move.player > 0xFFFF)) {
    return false;
  }
  move.added = placeEnd - place == 3 && std::strncmp(place, "new", 3) == 0;
  move.place = 0;
  return move.added || ParseRange(place, placeEnd, move.place);
}
