// The stream calls the engine needs beyond standard C: unlocked single bytes, 64-bit seeks and a
// file's size; and the one signal setting every program makes before it writes.
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

// Moves the stream to file offset offset (a long is 32 bits on Windows); false when it fails,
// and then nothing may be read or written before the next seek that succeeds.
bool SeekStream(std::FILE* stream, uint64_t offset);

// Size in bytes of an open stream's file, or -1; leaves the stream at its end.
int64_t StreamSize(std::FILE* stream);

// Makes a write that the system refuses by signal (past the file size limit, into a closed pipe)
// fail like any other, so the run reports it and undoes its output instead of being killed.
void IgnoreWriteSignals();
