// Finds the audio data of an image by its engine signature.
// An image holds, on a file offset that is a multiple of 4, the song list pointer followed by the
// three signature words; a sound bank file holds the same 16 bytes at its start.
#pragma once

#include <cstdint>
#include <cstdio>

inline constexpr uint32_t kSignature[3] = {0x8888684A, 0xD1042800, 0x1C191C08};

// Scans the stream from its start, word by word, for the first signature whose word 1 lies at a
// file offset of 4 or more, and returns the word stored just before it: the song list address.
// Reads no further than the 32 MiB cartridge window, as if the file ended there.
// Returns 0 when there is none, when the file ends inside a partial match, or when a read or the
// seek to the start fails (failed, when given, then says so). Leaves the stream at an unspecified
// position. pointerOffset, when given, receives the file offset of the song list pointer found.
uint32_t LocateAudioData(std::FILE* stream, uint64_t* pointerOffset = nullptr,
                         bool* failed = nullptr);
