// The few file operations standard C does not offer, each in one place.
// Everything else in the project is standard C++ and C stdio; these wrap POSIX or Windows calls.
#pragma once

#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
inline int ReadByteUnlocked(std::FILE* stream) { return _getc_nolock(stream); }
inline void WriteByteUnlocked(std::FILE* stream, uint8_t byte) { _putc_nolock(byte, stream); }
#else
// Single-byte traffic is the hot path: skip the per-call stream lock (one thread owns every
// stream for the whole run).
inline int ReadByteUnlocked(std::FILE* stream) { return getc_unlocked(stream); }
inline void WriteByteUnlocked(std::FILE* stream, uint8_t byte) { putc_unlocked(byte, stream); }
#endif

// Size in bytes of an open stream's file, or -1; leaves the stream at its end.
int64_t StreamSize(std::FILE* stream);

// Cuts (or extends) the file at path to size bytes.
bool TruncateFile(const char* path, uint64_t size);

// Moves the file from onto to, replacing what is there.
bool MoveFileOnto(const char* from, const char* to);

// Opens the null device on any of descriptors 0 to 2 that the process was started without, so
// no file the program opens later takes one: the console would read from or write into it.
void ReserveStandardStreams();
