// A song rendered as the game's sound engine plays it: start it, then pull blocks of 16-bit
// stereo samples at 48000 Hz until it ends, so that a file writer and the page both stream and
// nothing holds the whole song. The length rules live here, once:
// - one pass is from the start until every track has jumped back once (the song loops) or reached
//   its end;
// - a song that loops plays its loop a second time, then fades out over 5 seconds;
// - a song that ends stops when its voices are silent, after at most 3 seconds of tail;
// - nothing plays longer than 10 minutes, nor past a budget of track commands.
// The mix is integer arithmetic only, so every platform writes the same bytes; it never clips: a
// limiter lowers the gain where the sum would.
#pragma once

#include <cstdint>

#include "render/sequencer.h"

inline constexpr uint32_t kMaxSeconds = 600;
inline constexpr uint32_t kBlockSamples = 1024;
inline constexpr uint32_t kReverbSamples = 8192;

struct Renderer {
  Sequencer sequencer;
  uint64_t frames = 0;     // video frames played
  uint32_t frameLeft = 0;  // samples left in the current frame
  uint64_t samples = 0;    // samples written
  uint64_t fadeFrom = 0;   // the fade's first sample, when fading
  uint64_t endAt = 0;      // the last sample + 1, once known
  bool fading = false;
  bool tail = false;  // every track has ended: the voices release
  bool ended = false;
  bool loops = false;  // the song jumped back
  uint32_t muted = 0;  // a bit per voice: the sample voices, then the PSG voices
  int64_t gain = 0;    // the limiter's gain, 16 bits of fraction
  uint32_t reverbAt = 0;
  int32_t mix[2 * kBlockSamples];
  int32_t silent[2 * kBlockSamples];
  int32_t reverb[2 * kReverbSamples];
};

// Starts the song whose header is at header; the renderer is untouched unless kOk or kEmpty (a
// song without tracks, which ends at once without a sample).
SongStart StartSong(Renderer& renderer, ImageSpan image, uint32_t header);

// Writes up to count stereo samples (left, right) to out; fewer only when the song ends.
uint32_t PlaySong(Renderer& renderer, int16_t* out, uint32_t count);

inline bool SongEnded(const Renderer& renderer) { return renderer.ended; }

// Silences voice (0 to 11 the sample voices, 12 to 15 the PSG voices); it keeps playing unheard.
void MuteVoice(Renderer& renderer, uint32_t voice, bool muted);

enum class PassKind { kEnds, kLoops, kLong, kUnmeasured };
struct SongPass {
  PassKind kind;
  bool loops;       // some track jumped back (a long pass too)
  uint32_t frames;  // video frames of one pass
};

// One pass through the song by the sequencer alone, without voices. Each command run is taken off
// budget; a song that needs more than is left comes back kUnmeasured, as does one that cannot
// start.
SongPass MeasureSong(ImageSpan image, uint32_t header, uint64_t& budget);

// Seconds of frames video frames, rounded to the nearest.
uint32_t SecondsOf(uint64_t frames);
