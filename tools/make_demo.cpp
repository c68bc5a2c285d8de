// Writes the demo image: a small cartridge image whose audio data exercises every kind of block
// the tool copies (the music players, shared song headers, tracks with address commands, instrument
// lists with samples, reverse and compressed voices, wave tables, a nested list with a key map, and
// a nested list that is also a song's), and the words by which a game's code reaches its song list.
// Usage: make_demo <output path>
#include <cmath>
#include <cstdio>

#include "image_builder.h"

namespace {

constexpr uint32_t A(uint32_t offset) { return 0x08000000 + offset; }

Bytes Synth(uint32_t n, int shape) {
  Bytes out(n);
  for (uint32_t i = 0; i < n; ++i) {
    const double phase = static_cast<double>(i % 64) / 64.0;
    double v = 0;
    if (shape == 0) v = std::sin(phase * 2 * 3.14159265358979);
    if (shape == 1) v = phase < 0.5 ? 0.8 : -0.8;
    if (shape == 2) v = 2 * phase - 1;
    out[i] = static_cast<uint8_t>(static_cast<int8_t>(v * 100));
  }
  return out;
}

// A track that jumps over its own pattern (0xB2), calls it (0xB3) and loops (0xB2): every
// address command points inside the track, so every relocated address stays valid.
Bytes Track(uint32_t address, uint8_t note) {
  const uint32_t pattern = address + 7;
  const uint32_t body = pattern + 7;
  Bytes t = {0xBC, 0x00, 0xB2};
  const auto append = [&t](const Bytes& more) { t.insert(t.end(), more.begin(), more.end()); };
  append(LittleEndian({body}));
  append({0xCF, 0x3C, 0x60, 0xCF, 0x40, 0x60, 0xB4});  // the pattern, ending in its return
  append({0xBD, 0x01, 0xCF, note, 0x7F, 0xB3});
  append(LittleEndian({pattern}));
  append({0xB2});
  append(LittleEndian({body}));
  append({0xB1});
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo <output path>\n");
    return 2;
  }
  ImageBuilder image(0x4000);
  image.PutBytes(0xA0, {'S', 'O', 'N', 'V', 'A', 'U', 'L', 'T', 'D', 'E', 'M', 'O'});
  image.PutSignature(0x200, A(0x400));
  // The music players, just before the song list, as games place them: the word in front of the
  // song list pointer names the table; each player has two RAM pointers and its track count.
  image.PutU32(0x1FC, A(0x3C0));
  const uint32_t playerTracks[] = {8, 4, 2, 3, 1};
  for (uint32_t p = 0; p < 5; ++p) {
    image.PutU32(0x3C0 + 12 * p, 0x03000100 + 0x40 * p)
        .PutU32(0x3C4 + 12 * p, 0x03001000 + 0x400 * p);
    image.PutU8(0x3C8 + 12 * p, static_cast<uint8_t>(playerTracks[p]));
  }
  // The game's code holds the song list's address, and the address of one song's player field,
  // which a Thumb ldr r3, [pc, #16] at 0xF0 loads (code that stops that song's player); the word
  // after them points just past the list's last entry, at something else.
  image.PutU8(0xF0, 0x04).PutU8(0xF1, 0x4B);
  image.PutU32(0x100, A(0x400)).PutU32(0x104, A(0x40C)).PutU32(0x108, A(0x420));

  // Four songs; the third shares the first one's header.
  image.PutSongList(0x400, {{A(0x500), 0x00010001},
                            {A(0x600), 0x00020002},
                            {A(0x500), 0x00010003},
                            {A(0x700), 0x00030004}});
  image.PutSongHeader(0x500, 0x00A00003, A(0x1000), {A(0x800), A(0x840), A(0x880)});
  image.PutSongHeader(0x600, 0x00900002, A(0x1000), {A(0x8C0), A(0x8C0)});
  // This header's track follows it after one byte of padding, as a linker may place it.
  image.PutSongHeader(0x700, 0x00B00001, A(0x1200), {A(0x70D)});
  uint8_t note = 0x30;
  for (uint32_t track : {0x800u, 0x840u, 0x880u, 0x8C0u, 0x70Du}) {
    image.PutTrack(track, Track(A(track), note));
    note = static_cast<uint8_t>(note + 4);
  }

  // Song list A: sample, wave table, square (no data), nested list with key map, sample.
  image.PutInstrumentList(0x1000, {{0x00003C00, A(0x2000), 0x00FF00FF},
                                   {0x00003C03, A(0x1800), 0x00000000},
                                   {0x00003C01, 0x00000002, 0x00F000F0},
                                   {0x00000040, A(0x1400), A(0x1700)},
                                   {0x00003C08, A(0x2400), 0x00FF00FF}});
  // Song list B: a shared sample, the same sample reversed, its own wave table, a nested list
  // that is list A, noise.
  image.PutInstrumentList(0x1200, {{0x00003C00, A(0x2000), 0x00FF00FF},
                                   {0x00003C10, A(0x2000), 0x00FF00FF},
                                   {0x00003C0B, A(0x1810), 0x00000000},
                                   {0x00000080, A(0x1000), 0x12345678},
                                   {0x00003C02, 0x00000000, 0x000F000F}});
  // The nested list: a compressed voice, a shared sample, a shared wave table, a short sample.
  image.PutInstrumentList(0x1400, {{0x00003C20, A(0x2800), 0x00FF00FF},
                                   {0x00003C00, A(0x2000), 0x00FF00FF},
                                   {0x00003C03, A(0x1800), 0x00000000},
                                   {0x00003C00, A(0x2C00), 0x00FF00FF}});
  Bytes keyMap(128);
  for (uint32_t i = 0; i < 128; ++i) keyMap[i] = static_cast<uint8_t>(i < 60 ? 0 : 1);
  image.PutKeyMap(0x1700, keyMap);
  image.PutWaveTable(0x1800, Pattern(16, 0x01)).PutWaveTable(0x1810, Pattern(16, 0x80));

  // Plain-length samples carry one byte more than their length: the mixer reads it.
  image.PutSample(0x2000, 256, Synth(257, 2), 0x00000000, 0x00003C00, 0x00000000);
  image.PutSample(0x2400, 203, Synth(204, 1), 0x40000000, 0x00003C00, 0x00000010);
  image.PutSample(0x2800, 0xFFFFFE00, Synth(256, 2), 0x00000000, 0x00002000, 0x00000000);
  image.PutSample(0x2C00, 0, LittleEndian({0x11111111, 0x22222222}), 0, 0x00001000, 0);

  if (!WriteImageFile(argv[1], image.bytes())) {
    std::fprintf(stderr, "make_demo: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
