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

// True when a pointer's top byte says it points into the cartridge (0x08xxxxxx).
constexpr bool IsCartridgePointer(uint32_t word) { return (word >> 24) == 0x08; }
