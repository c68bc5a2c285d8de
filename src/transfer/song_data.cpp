#include "transfer/song_data.h"

#include "image/address.h"

namespace {

constexpr uint32_t kTrackEnd = 0xB1;
constexpr uint32_t kGoto = 0xB2;
constexpr uint32_t kPatternCall = 0xB3;

// Plain bytes gathered before one append.
constexpr uint32_t kRunLength = 256;

// Copies one track from the source's position to the OutputCursor; trackStart is its source
// address, outputStart that of the copy. Runs of plain bytes go out in one append each: the copy
// fails the same way, as the window is checked before the source's end is reported.
bool CopyTrack(TransferState& state, uint32_t trackStart, uint32_t outputStart) {
  uint8_t run[kRunLength];
  for (;;) {
    uint32_t length = 0;
    uint32_t command = 0;
    bool found = false;
    while (length < kRunLength && SourceHolds(state, 1)) {
      command = ReadSourceU8(state);
      found = command == kTrackEnd || command == kGoto || command == kPatternCall;
      if (found) break;
      run[length++] = static_cast<uint8_t>(command);
    }
    if (!AppendBytes(state, run, length)) return false;
    if (!found && length == kRunLength) continue;
    if (!found) {
      state.failure = TransferResult::kTrackPastEnd;
      return false;
    }
    if (!AppendU8(state, static_cast<uint8_t>(command))) return false;
    if (command == kGoto || command == kPatternCall) {
      if (!SourceHolds(state, 4)) {
        state.failure = TransferResult::kTrackPastEnd;
        return false;
      }
      const uint32_t target = ReadSourceU32(state);
      if (!AppendU32(state, target - trackStart + outputStart)) return false;
    }
    if (command == kTrackEnd) return true;
  }
}

// Copies a header placed now, then its tracks.
bool CopySongHeader(TransferState& state, uint32_t header) {
  SeekSource(state, header);
  const uint32_t output = state.OutputCursor;
  const uint32_t first = ReadSourceU32(state);
  if (!AppendU32(state, first)) return false;
  const uint32_t trackCount = first & 0xFF;
  // The instrument list placeholder and one per track.
  for (uint32_t i = 0; i <= trackCount; ++i) {
    if (!AppendU32(state, 0)) return false;
  }
  // The track pointers are read at once, so the tracks' copies follow one another in the source
  // without a seek back to the header between them.
  uint32_t tracks[kMaxTracks];
  SeekSource(state, header + 8);
  for (uint32_t t = 0; t < trackCount; ++t) tracks[t] = ReadSourceU32(state);
  // The track slots are filled in memory as each track's copy begins, and written at the end.
  OpenSlotBuffer(state, output + 8, nullptr, 4 * trackCount);
  for (uint32_t t = 0; t < trackCount; ++t) {
    const uint32_t track = tracks[t];
    const uint32_t trackOutput = state.OutputCursor;
    WriteSlot(state, FileOffset(output + 8 + 4 * t), trackOutput);
    SeekSource(state, track);
    if (!CopyTrack(state, track, trackOutput)) return false;
  }
  FlushSlotBuffer(state);
  return true;
}

}  // namespace

bool TransferSongData(TransferState& state, uint32_t baseAddress) {
  state.SongHeaderCount = 0;
  for (uint32_t i = 0; i < state.SongCount; ++i) {
    SeekSource(state, SongEntryAddress(state, i));
    const uint32_t header = ReadSourceU32(state);
    const Placement placement =
        PlaceBlock(state, state.BlockTable, header, FileOffset(baseAddress + 8 * i));
    if (placement == Placement::kFailed) return false;
    if (placement == Placement::kAlreadyPlaced) continue;
    ++state.SongHeaderCount;
    if (!CopySongHeader(state, header)) return false;
  }
  return true;
}
