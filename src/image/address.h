// Cartridge addresses and where they live in a file.
// An address names a byte of the 32 MiB cartridge window; its file offset, in an image and in a
// sound bank alike, is its low 25 bits. Output addresses carry the cartridge bit.
#pragma once

#include <cstdint>

inline constexpr uint32_t kAddressMask = 0x1FFFFFF;
inline constexpr uint32_t kCartridgeBase = 0x08000000;
inline constexpr uint32_t kWindowSize = 0x2000000;  // bytes a cartridge address can reach

// The file offset of a cartridge address.
constexpr uint32_t FileOffset(uint32_t address) { return address & kAddressMask; }

// True when a pointer's top byte says it points into the cartridge: 0x08xxxxxx or 0x09xxxxxx,
// the console's whole cartridge space (music moved past 16 MiB lives at 0x09xxxxxx).
constexpr bool IsCartridgePointer(uint32_t word) { return (word >> 25) == (kCartridgeBase >> 25); }

// Where an insert places its song list: the next multiple of 4 at or above address, because the
// sound engine reads the list with word loads, which the console rotates off a misaligned address.
constexpr uint32_t AlignedBase(uint32_t address) { return (address + 3) & ~uint32_t{3}; }
