// A rendered song written as a RIFF/WAVE file: the 44-byte header (format chunk of 16-bit PCM,
// 2 channels, 48000 Hz, then the data chunk), then the samples, little-endian, left first. The
// samples are streamed block by block; the sizes in the header are written again at the end.
#pragma once

#include <cstdint>
#include <cstdio>

#include "render/renderer.h"

// Plays the started song to its end into stream from its start; samples is how many stereo
// samples were written. False when a write or the seek back to the header failed.
bool WriteSongWav(std::FILE* stream, Renderer& renderer, uint64_t& samples);
