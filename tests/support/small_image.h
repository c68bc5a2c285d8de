// The small images the whole-run and allocation tests share, and what the tool makes of them.
#pragma once

#include <string>

#include "image_builder.h"

inline std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// One song whose header has no tracks and no instrument list; the song list at 0x08000100.
inline const std::string kSource = Text(ImageBuilder(0x220)
                                            .PutSignature(0x40, 0x08000100)
                                            .PutSongList(0x100, {{0x08000200, 0x11223344}})
                                            .PutSongHeader(0x200, 0x60504000, 0, {})
                                            .bytes());
inline const std::string kBank = Text(LittleEndian({
    0x08000010, 0x8888684A, 0xD1042800, 0x1C191C08,  // 0x00 bank header
    0x08000020, 0x11223344, 0, 0,                    // 0x10 song list: header at 0x20
    0x60504000, 0,                                   // 0x20 song header, no instrument list
}));
// A target, and the source inserted onto it at 0x080002F0.
inline const std::string kTarget(0x2F0, '\xEE');
inline const std::string kInserted = kTarget + Text(LittleEndian({
                                                   0x08000300, 0x11223344, 0, 0,  // 0x2F0 song list
                                                   0x60504000, 0,  // 0x300 song header
                                               }));
// The same song with one track that has no end byte: its song data phase fails.
inline const std::string kNoEndByte = Text(ImageBuilder()
                                               .PutSignature(0x40, 0x08000100)
                                               .PutSongList(0x100, {{0x08000200, 0x11223344}})
                                               .PutSongHeader(0x200, 0x00000001, 0, {0x08000210})
                                               .PutTrack(0x210, {0x01, 0x02})
                                               .bytes());

inline const std::string kBanner = "Sonvault, Release 1\n\n";
inline const std::string kPhases =
    "Beginning ripping...\nTransferring Song List...\nTransferring Song Data...\n"
    "Transferring Instrument Lists...\nTransferring Instrument Data...\n";

// Console text as the tool's standard output holds it: on Windows a text-mode stream writes
// every "\n" as "\r\n".
inline std::string ConsoleText(std::string text) {
#if defined(_WIN32)
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
    text.insert(at, 1, '\r');
  }
#endif
  return text;
}

// Every kind of block, some shared and one list naming itself; the song list at 0x08000100.
// Every list in its bank is followed by a word that ends it: a sample header starting with 0, or
// a key map whose first byte has type number 5, so the bank is a source that gives itself again.
inline ImageBuilder EveryKindOfBlock() {
  ImageBuilder image;
  image.PutSignature(0x40, 0x08000100);
  image.PutSongList(0x08000100,
                    {{0x08000200, 0x0000AA01}, {0x08000240, 0x0000AA02}, {0x08000200, 0x0000AA03}});
  image.PutSongHeader(0x08000200, 2, 0x08000300, {0x08000600, 0x08000610});
  // Its track starts one byte past the header's end.
  image.PutSongHeader(0x08000240, 1, 0x08000300, {0x0800024D});
  image.PutTrack(0x08000600, {0x01, 0xB2, 0x05, 0x06, 0x00, 0x08,  //
                              0xB3, 0x10, 0x06, 0x00, 0x08, 0xB1});
  image.PutTrack(0x08000610, {0x20, 0xB1});
  image.PutTrack(0x0800024D, {0x30, 0xB1});
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
