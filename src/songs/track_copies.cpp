#include "songs/track_copies.h"

#include <algorithm>

#include "image/address.h"

namespace {

constexpr uint32_t kTrackEnd = 0xB1;
constexpr uint32_t kGoto = 0xB2;
constexpr uint32_t kPatternCall = 0xB3;

constexpr uint32_t kCheckpointStep = 256;
constexpr uint32_t kCheckpoints = kWindowSize / kCheckpointStep;
constexpr uint32_t kPastEndBit = 0x80000000u;
constexpr uint32_t kOpenBit = 0x40000000u;
constexpr uint32_t kOffsetBits = 0x3FFFFFFFu;
constexpr uint32_t kNoted = 64;

// Per checkpoint, an answer for the copy of a track through it; 0 while none is known.
uint32_t gCheckpoints[kCheckpoints];

// An answer: the offset after the last byte copied, + 1, with kPastEndBit where the copy finds
// the source's end, or kOpenBit where the track has run on for a whole window's length.
uint32_t Answer(uint64_t end, uint32_t bit) { return static_cast<uint32_t>(end + 1) | bit; }

// Follows a track as the copy reads it. A checkpoint that knows the track runs on from it to an
// offset lets the scan go on from there. The checkpoints passed are noted in passed (up to
// kNoted of them, their count in noted).
uint32_t Follow(ImageView& image, uint64_t start, uint32_t (&passed)[kNoted], uint32_t& noted) {
  const uint64_t size = image.size;
  const uint8_t* run = nullptr;  // the bytes from runStart up to runEnd
  uint64_t runStart = 0;
  uint64_t runEnd = 0;
  noted = 0;
  for (uint64_t at = start;;) {
    if (at - start > kWindowSize) return Answer(at, kOpenBit);
    // Checkpoints past the image's end are not this image's.
    if (at >= size) return Answer(at, kPastEndBit);
    if (at % kCheckpointStep == 0 && at < kWindowSize) {
      const uint32_t checkpoint = static_cast<uint32_t>(at / kCheckpointStep);
      const uint32_t known = gCheckpoints[checkpoint];
      if (known != 0 && (known & kOpenBit) == 0) return known;
      if (noted < kNoted) passed[noted] = checkpoint;
      ++noted;
      if (known != 0) {
        at = (known & kOffsetBits) - 1;
        continue;
      }
    }
    if (at >= runEnd) {
      const uint32_t count = kViewChunkSize - static_cast<uint32_t>(at % kViewChunkSize);
      run = ViewBytes(image, at, count);
      runStart = at;
      runEnd = at + count;
    }
    // Plain commands up to the next checkpoint, the run's end or the source's, one byte each.
    const uint64_t limit = std::min(
        {runEnd, size, (at / kCheckpointStep + 1) * kCheckpointStep, start + kWindowSize + 1});
    uint32_t command = 0;
    while (at < limit && ((command = run[at - runStart]) < kTrackEnd || command > kPatternCall)) {
      ++at;
    }
    if (at == limit) continue;
    ++at;
    if (command == kGoto || command == kPatternCall) {
      if (at + 4 > size) return Answer(at, kPastEndBit);
      at += 4;
    }
    if (command == kTrackEnd) return Answer(at, 0);
  }
}

}  // namespace

void StartTrackCopies(const ImageView& image) {
  // A track is followed no further than the image's end.
  std::fill_n(gCheckpoints, std::min<uint64_t>(kCheckpoints, image.size / kCheckpointStep + 1), 0u);
}

TrackCopy FollowTrack(ImageView& image, uint64_t start) {
  uint32_t passed[kNoted];
  uint32_t noted = 0;
  uint32_t end = Follow(image, start, passed, noted);
  // A long track passes more checkpoints than were noted: those noted learn that it runs on to
  // the last of them, and the walk is made again from there.
  while (noted > kNoted) {
    const uint32_t runsOn = Answer(uint64_t{passed[kNoted - 1]} * kCheckpointStep, kOpenBit);
    for (uint32_t k = 0; k + 1 < kNoted; ++k) gCheckpoints[passed[k]] = runsOn;
    end = Follow(image, start, passed, noted);
  }
  for (uint32_t k = 0; k < noted; ++k) gCheckpoints[passed[k]] = end;
  return {((end & kOffsetBits) - 1) - start, (end & kPastEndBit) != 0, (end & kOpenBit) != 0};
}
