// Writes the benchmark images: a full-size 32 MiB cartridge image whose audio data is as large as
// real games carry (some 300 songs of 4 to 16 tracks, a few hundred instrument lists with nested
// lists and key maps, several hundred samples totalling over 6 MiB, wave tables), with the
// signature in its last MiB so the locator scans almost the whole file; and a 16 MiB target image
// for insert mode. Everything around the audio data is pseudo-random filler. The images depend
// only on the fixed seeds below.
// Usage: make_bench_image <source image path> <target image path>
#include <cstdio>
#include <vector>

#include "image/address.h"
#include "image/audio_locator.h"
#include "image_builder.h"
#include "track_commands.h"

namespace {

constexpr uint32_t kSourceSize = 0x2000000;
constexpr uint32_t kTargetSize = 0x1000000;
constexpr uint32_t kSignatureOffset = 0x1F6A5C0;  // in the last MiB
constexpr uint32_t kAudioStart = 0x100000;        // audio data must stay below 16 MiB

constexpr uint32_t kSongEntries = 320;  // song list entries; the last 20 repeat earlier headers
constexpr uint32_t kSongHeaders = 300;
constexpr uint32_t kLists = 220;   // instrument lists named by song headers
constexpr uint32_t kNested = 160;  // nested instrument lists (drum kits, key splits)
constexpr uint32_t kSamples = 600;
constexpr uint32_t kLargeSampleSize = 0x120000;  // one sample over 1 MiB: the notice line
constexpr uint32_t kWaveTables = 48;
constexpr uint32_t kKeyMaps = 80;
constexpr uint32_t kMinSampleBytes = 6 << 20;

constexpr uint32_t A(uint32_t offset) { return kCartridgeBase + offset; }

// xorshift64*: the same sequence on every platform and standard library.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() >> 32) % n; }
  uint32_t Between(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }
  uint32_t Word() { return static_cast<uint32_t>(Next() >> 32); }

 private:
  uint64_t state_;
};

Bytes Filler(uint32_t size, Rng& rng) {
  Bytes out(size);
  for (uint32_t i = 0; i < size; i += 8) {
    uint64_t v = rng.Next();
    for (uint32_t k = 0; k < 8 && i + k < size; ++k, v >>= 8) out[i + k] = static_cast<uint8_t>(v);
  }
  return out;
}

// Hands out addresses in the audio region, front to back.
class Layout {
 public:
  uint32_t Take(uint32_t size, uint32_t align) {
    next_ = (next_ + align - 1) / align * align;
    const uint32_t at = next_;
    next_ += size;
    return A(at);
  }
  uint32_t end() const { return next_; }

 private:
  uint32_t next_ = kAudioStart;
};

// Picks every index once in order, then at random: each block is referenced at least once.
class Picker {
 public:
  explicit Picker(uint32_t count) : count_(count) {}
  uint32_t Pick(Rng& rng) { return next_ < count_ ? next_++ : rng.Below(count_); }

 private:
  uint32_t count_;
  uint32_t next_ = 0;
};

// An event byte that the copy passes through unchanged (never an end or address command).
uint8_t EventByte(Rng& rng) {
  uint32_t v = rng.Below(253);
  if (v >= kFine) v += 3;
  return static_cast<uint8_t>(v);
}

void AppendWord(Bytes& out, uint32_t word) {
  const Bytes bytes = LittleEndian({word});
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// A track as a sequencer writes it: tempo, a jump over a pattern, the pattern with its return,
// a body that calls the pattern, and a loop back to the body.
Bytes Track(uint32_t address, Rng& rng) {
  Bytes t = {0xBC, static_cast<uint8_t>(rng.Between(0x40, 0x90))};
  const uint32_t patternLength = rng.Between(8, 48);
  const uint32_t pattern = address + 7;
  const uint32_t body = pattern + patternLength + 1;
  t.push_back(kGoto);
  AppendWord(t, body);
  for (uint32_t i = 0; i < patternLength; ++i) t.push_back(EventByte(rng));
  t.push_back(kPatternEnd);
  const uint32_t calls = rng.Between(1, 4);
  for (uint32_t c = 0; c < calls; ++c) {
    const uint32_t events = rng.Between(20, 200);
    for (uint32_t i = 0; i < events; ++i) t.push_back(EventByte(rng));
    t.push_back(kPatternCall);
    AppendWord(t, pattern);
  }
  t.push_back(kGoto);
  AppendWord(t, body);
  t.push_back(kFine);
  return t;
}

// 8-bit signed PCM: a decaying tone with a little noise.
Bytes SampleData(uint32_t size, Rng& rng) {
  Bytes out(size);
  const uint32_t period = rng.Between(16, 96);
  for (uint32_t i = 0; i < size; ++i) {
    const int32_t ramp = static_cast<int32_t>(i % period) * 200 / static_cast<int32_t>(period);
    const int32_t level =
        (ramp - 100) * static_cast<int32_t>(size - i) / static_cast<int32_t>(size);
    const int32_t noise = static_cast<int32_t>(rng.Below(9)) - 4;
    out[i] = static_cast<uint8_t>(static_cast<int8_t>(level + noise));
  }
  return out;
}

struct Blocks {
  std::vector<uint32_t> samples;
  std::vector<uint32_t> waveTables;
  std::vector<uint32_t> keyMaps;
  std::vector<uint32_t> nested;
  std::vector<uint32_t> nestedSizes;
  Picker samplePick{kSamples + 1};
  Picker wavePick{kWaveTables};
  Picker keyMapPick{kKeyMaps};
  Picker nestedPick{kNested};
};

InstrumentEntry Entry(Blocks& blocks, Rng& rng, bool topLevel) {
  const uint32_t envelope = rng.Word();
  const uint32_t key = rng.Between(0x24, 0x54) << 8;
  const uint32_t roll = rng.Below(100);
  if (roll < 60) {
    // One voice in eight plays its sample in reverse.
    const uint32_t reverse = (envelope & 7) == 0 ? 0x10 : 0x00;
    const uint32_t type = rng.Below(4) == 0 ? 0x08 : 0x00;
    return {type | reverse | key, blocks.samples[blocks.samplePick.Pick(rng)], envelope};
  }
  if (roll < 70) {
    const uint32_t type = rng.Below(2) == 0 ? 0x0B : 0x03;
    return {type | key, blocks.waveTables[blocks.wavePick.Pick(rng)], envelope};
  }
  // Nested lists nest once more only rarely.
  const uint32_t nestedShare = topLevel ? 15 : 2;
  if (roll < 85 + nestedShare && roll >= 85) {
    const uint32_t list = blocks.nestedPick.Pick(rng);
    if (rng.Below(2) == 0) {
      return {0x40 | key, blocks.nested[list], blocks.keyMaps[blocks.keyMapPick.Pick(rng)]};
    }
    return {0x80, blocks.nested[list], envelope};
  }
  // Square and noise channels: no data block.
  static constexpr uint32_t kPlainTypes[] = {0x01, 0x02, 0x04, 0x09, 0x0A};
  return {kPlainTypes[rng.Below(5)] | key, rng.Below(4), envelope};
}

// Lists are laid out back to back, each closed by an all-zero entry.
void PutList(ImageBuilder& image, uint32_t address, uint32_t entries, Blocks& blocks, Rng& rng,
             bool topLevel) {
  std::vector<InstrumentEntry> list;
  for (uint32_t e = 0; e < entries; ++e) list.push_back(Entry(blocks, rng, topLevel));
  image.PutInstrumentList(address, list);
  image.PutBytes(address + 12 * entries, Bytes(12, 0));
}

// The signature must be the first one in the file; filler could in principle contain another.
bool FindsSongList(const char* path, uint32_t songList) {
  std::FILE* in = std::fopen(path, "rb");
  if (in == nullptr) return false;
  const uint32_t found = LocateAudioData(in);
  std::fclose(in);
  return found == songList;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_bench_image <source image> <target image>\n");
    return 2;
  }
  Rng rng(0x5EED0001);
  ImageBuilder image;
  image.PutBytes(0, Filler(kSourceSize, rng));
  Layout layout;
  Blocks blocks;

  // Samples first, as a linker would group the sound data: several hundred ordinary ones and
  // one long one.
  uint64_t sampleBytes = 0;
  for (uint32_t s = 0; s <= kSamples; ++s) {
    const uint32_t size = s == kSamples ? kLargeSampleSize : rng.Between(1024, 20 * 1024);
    // The byte after the data is part of the sound: the mixer interpolates towards it.
    const uint32_t address = layout.Take(16 + size + 1, 4);
    const uint32_t loopFlag = rng.Below(3) == 0 ? 0x40000000 : 0;
    image.PutSample(address, size, SampleData(size + 1, rng), loopFlag, rng.Between(0x2000, 0x8000),
                    rng.Below(size));
    blocks.samples.push_back(address);
    sampleBytes += size;
  }
  if (sampleBytes < kMinSampleBytes) {
    std::fprintf(stderr, "make_bench_image: only %llu sample bytes\n",
                 static_cast<unsigned long long>(sampleBytes));
    return 1;
  }
  for (uint32_t w = 0; w < kWaveTables; ++w) {
    const uint32_t address = layout.Take(16, 4);
    image.PutWaveTable(address, Pattern(16, static_cast<uint8_t>(rng.Word())));
    blocks.waveTables.push_back(address);
  }
  // Nested lists are laid out before their key maps pick entry numbers from them.
  for (uint32_t n = 0; n < kNested; ++n) {
    const uint32_t entries = rng.Between(8, 128);
    blocks.nested.push_back(layout.Take(12 * (entries + 1), 4));
    blocks.nestedSizes.push_back(entries);
  }
  for (uint32_t k = 0; k < kKeyMaps; ++k) {
    const uint32_t address = layout.Take(128, 4);
    const uint32_t splits = blocks.nestedSizes[k % kNested];
    Bytes map(128);
    for (uint32_t key = 0; key < 128; ++key) map[key] = static_cast<uint8_t>(key * splits / 128);
    image.PutKeyMap(address, map);
    blocks.keyMaps.push_back(address);
  }
  for (uint32_t n = 0; n < kNested; ++n) {
    PutList(image, blocks.nested[n], blocks.nestedSizes[n], blocks, rng, false);
  }
  std::vector<uint32_t> lists;
  for (uint32_t l = 0; l < kLists; ++l) {
    const uint32_t entries = rng.Between(24, 128);
    const uint32_t address = layout.Take(12 * (entries + 1), 4);
    PutList(image, address, entries, blocks, rng, true);
    lists.push_back(address);
  }

  // The song table, then each header followed by its tracks.
  const uint32_t songList = layout.Take(8 * (kSongEntries + 1), 4);
  std::vector<SongEntry> songs;
  for (uint32_t s = 0; s < kSongHeaders; ++s) {
    const uint32_t trackCount = rng.Between(4, 16);
    const uint32_t header = layout.Take(8 + 4 * trackCount, 4);
    std::vector<uint32_t> tracks;
    for (uint32_t t = 0; t < trackCount; ++t) {
      // Each track's length is known only once it is built at its address: build, then take.
      const uint32_t address = A(layout.end());
      const Bytes track = Track(address, rng);
      layout.Take(static_cast<uint32_t>(track.size()), 1);
      image.PutTrack(address, track);
      tracks.push_back(address);
    }
    const uint32_t list = s < kLists ? lists[s] : lists[rng.Below(kLists)];
    const uint32_t firstWord = trackCount | rng.Between(0, 0xFF) << 8 | 0x00C00000;
    image.PutSongHeader(header, firstWord, list, tracks);
    songs.push_back({header, rng.Word() & 0x00FF00FF});
  }
  for (uint32_t s = kSongHeaders; s < kSongEntries; ++s) {
    songs.push_back({songs[rng.Below(kSongHeaders)].header, rng.Word() & 0x00FF00FF});
  }
  image.PutSongList(songList, songs);
  image.PutSignature(kSignatureOffset, songList);
  if (image.bytes().size() != kSourceSize || layout.end() >= kWindowSize / 2) {
    std::fprintf(stderr, "make_bench_image: audio data does not fit\n");
    return 1;
  }

  Rng targetRng(0x5EED0002);
  if (!WriteImageFile(argv[1], image.bytes()) ||
      !WriteImageFile(argv[2], Filler(kTargetSize, targetRng))) {
    std::fprintf(stderr, "make_bench_image: cannot write the images\n");
    return 1;
  }
  if (!FindsSongList(argv[1], songList)) {
    std::fprintf(stderr, "make_bench_image: the locator does not find the song list\n");
    return 1;
  }
  std::printf("source: %u bytes, audio data 0x%X to 0x%X, %llu sample bytes, song list 0x%X\n",
              kSourceSize, kAudioStart, layout.end(), static_cast<unsigned long long>(sampleBytes),
              songList);
  return 0;
}
