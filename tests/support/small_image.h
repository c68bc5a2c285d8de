// The small images the whole-run and allocation tests share, and what the tool makes of them.
#pragma once

#include "image_builder.h"

// Every kind of block, some shared and one list naming itself; the song list at 0x08000100.
// Every list in its bank is followed by a word that ends it: a sample header starting with 0, or
// a key map whose first byte has type number 5, so the bank is a source that gives itself again.
inline ImageBuilder EveryKindOfBlock() {
  ImageBuilder image;
  image.PutSignature(0x40, 0x08000100);
  image.PutSongList(0x08000100,
                    {{0x08000200, 0x0000AA01}, {0x08000240, 0x0000AA02}, {0x08000200, 0x0000AA03}});
  image.PutSongHeader(0x08000200, 2, 0x08000300, {0x08000600, 0x08000610});
  image.PutSongHeader(0x08000240, 1, 0x08000300, {0x08000600});
  image.PutTrack(0x08000600, {0x01, 0xB2, 0x05, 0x06, 0x00, 0x08,  //
                              0xB3, 0x10, 0x06, 0x00, 0x08, 0xB1});
  image.PutTrack(0x08000610, {0x20, 0xB1});
  image.PutInstrumentList(0x08000300, {{0x00003C00, 0x08000400, 0},       // sample
                                       {0x40, 0x08000380, 0x08000500},    // nested, key map
                                       {0x03, 0x08000480, 0},             // wave table
                                       {0x01, 0x08000400, 0x08000400},    // no data
                                       {0x80, 0x08000300, 0x08000500}});  // names its own list
  image.PutInstrumentList(0x08000380, {{0x00003C00, 0x08000420, 0},       // sample
                                       {0x43, 0x08000500, 0}});  // wave table on the key map
  image.PutSample(0x08000400, 5, Pattern(5, 0x10));
  image.PutSample(0x08000420, 0xFFFFFFFD, {0x77, 0x66});
  image.PutWaveTable(0x08000480, Pattern(16, 0x30));
  image.PutKeyMap(0x08000500, Pattern(128, 0x05));
  return image;
}
