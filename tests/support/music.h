// What a game's sound engine reads of an image, compared between two images.
#pragma once

#include "image_builder.h"

// Walks the music of both images side by side from the song list each one's locator finds (or,
// for image, the one at imageSongList when it is given), as
// the sound engine reads it, and fails on the first difference: the songs and their second words,
// song headers, tracks (their addresses compared as distances inside the track), instrument lists
// as long as the original's, and the samples, wave tables, key maps and nested lists they name.
void ExpectSameMusic(const Bytes& original, const Bytes& image, uint32_t imageSongList = 0);
