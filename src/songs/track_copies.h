// How far the copy of a track stream runs, found without copying it. A track is copied up to and
// including its end byte 0xB1; after 0xB2 or 0xB3 come 4 address bytes, copied as one. The copy
// fails where the source ends first, and leaves the 32 MiB window when a track runs on longer.
// Every 256th file offset a scan passes learns where the copy from there ends, so tracks that run
// into one another (or headers that share them) are scanned once in all.
#pragma once

#include <cstdint>

#include "songs/image_view.h"

struct TrackCopy {
  uint64_t length;  // bytes copied, up to the end byte or to where the copy fails
  bool pastEnd;     // the copy finds the source's end before the end byte
  bool runsOn;      // the track runs on past a window's length: length is only a bound
};

// Forgets what tracks of an earlier image taught.
void StartTrackCopies(const ImageView& image);

// The copy of the track at file offset start of image, the one StartTrackCopies last had.
TrackCopy FollowTrack(ImageView& image, uint64_t start);
