// A small game image whose songs sound like music, for the renderer's runs, its benchmark and the
// README: song 0 a looping two-minute theme of 10 tracks (sample voices, every PSG voice, a drum
// kit, a key split, modulation, reverb), song 1 a short jingle that ends, song 2 a sound effect,
// song 3 the jingle's header again and song 4 a song without tracks.
#pragma once

#include "image_builder.h"

Bytes TuneImage();
