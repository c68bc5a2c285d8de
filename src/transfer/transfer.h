// The transfer engine's front door: copies the audio data of a source image to a destination.
// Song list, song headers and tracks, instrument lists, then the samples, wave tables, key maps
// and nested lists those lists name: every block placed once, every pointer followed relocated.
// The engine allocates nothing and throws nothing; a failure comes back as the result.
#pragma once

#include <cstdint>
#include <cstdio>

enum class TransferResult {
  kOk,
  kOutputTooLarge,  // a byte would land at a file offset past the 32 MiB window
  kTooManyBlocks,   // a 1025th distinct block in one relocation table
  kTrackPastEnd,    // a track stream reaches the end of the source before its end byte
  kWriteFailed,     // the destination stream reported a write error, or a seek in it failed
  kReadFailed,      // the source stream reported a read error (not its end), or a seek in it failed
};

// Songs to copy, by their number in the source's song list, in the order of the copy's list.
inline constexpr uint32_t kMaxSelectedSongs = 1024;
struct SongSelection {
  uint32_t count;
  uint32_t songs[kMaxSelectedSongs];
};

// Runs the whole transfer: the base is rounded up to a multiple of 4 and, in extract mode, the
// 16-byte bank header goes first. The copy's song list holds the selected songs (every song of the
// source's list when selection is null). Bytes past the end of the source (its size when the call
// starts, and at most the 32 MiB window) read as 0; a source whose size cannot be read fails. On
// failure the destination holds a partial output that the caller must discard. Leaves both streams
// at unspecified positions.
TransferResult TransferAudioData(std::FILE* source, uint32_t songListAddress,
                                 std::FILE* destination, uint32_t baseAddress, bool extractMode,
                                 const SongSelection* selection = nullptr);

// The insert of the selection from a source held in memory (sourceSize bytes), run without
// writing or printing anything: byteCount is how many bytes it appends from a multiple of 4.
TransferResult MeasureAudioData(const uint8_t* source, uint64_t sourceSize,
                                uint32_t songListAddress, const SongSelection* selection,
                                uint32_t& byteCount);
