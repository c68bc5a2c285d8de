// What a game's sound engine reads of an image, compared between two images.
#pragma once

#include <vector>

#include "image_builder.h"

// Walks the music of both images side by side from the song list each one's locator finds (or,
// for image, the one at imageSongList when it is given), as
// the sound engine reads it, and fails on the first difference: the songs and their second words,
// song headers, tracks (their addresses compared as distances inside the track), instrument lists
// as long as the original's, and the samples, wave tables, key maps and nested lists they name.
void ExpectSameMusic(const Bytes& original, const Bytes& image, uint32_t imageSongList = 0);

// The same for songs moved together in one run: entry songs[k] of original's song list against
// entry places[k] of image's, each list the one its locator finds; second words not compared.
void ExpectSameSongs(const Bytes& original, const std::vector<uint32_t>& songs, const Bytes& image,
                     const std::vector<uint32_t>& places);
