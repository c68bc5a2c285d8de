#include "support/music.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "image/address.h"
#include "image/audio_locator.h"
#include "support/streams.h"

namespace {

class MusicComparison {
 public:
  MusicComparison(const Bytes& want, const Bytes& got) : want_(want), got_(got) {}

  // The transfer copies every song's own list before any nested one, and a list keeps the shape
  // it was first copied in: one that a song names is copied as a song's list however else it is
  // reached.
  void SongLists(uint32_t want, uint32_t got) {
    for (uint32_t k = 0; IsCartridgePointer(Word(want_, want + 8 * k)); ++k) {
      const uint32_t list = Word(want_, Word(want_, want + 8 * k) + 4);
      if (IsCartridgePointer(list)) songLists_.insert(list);
    }
    uint32_t k = 0;
    for (; IsCartridgePointer(Word(want_, want + 8 * k)); ++k) {
      SCOPED_TRACE("song " + std::to_string(k));
      Same(want + 8 * k + 4, got + 8 * k + 4, 4);
      SongHeaders(Word(want_, want + 8 * k), Word(got_, got + 8 * k));
    }
    EXPECT_FALSE(IsCartridgePointer(Word(got_, got + 8 * k))) << "more songs than the original";
  }

 private:
  static uint32_t Word(const Bytes& image, uint32_t address) {
    const size_t at = FileOffset(address);
    return at + 4 <= image.size() ? WordAt(image, at) : 0;
  }

  void Same(uint32_t want, uint32_t got, uint32_t count) {
    const size_t w = FileOffset(want);
    const size_t g = FileOffset(got);
    ASSERT_LE(w + count, want_.size());
    ASSERT_LE(g + count, got_.size());
    ExpectSameBytes(Bytes(want_.begin() + w, want_.begin() + w + count),
                    Bytes(got_.begin() + g, got_.begin() + g + count));
  }

  void SongHeaders(uint32_t want, uint32_t got) {
    Same(want, got, 4);
    const uint32_t tracks = Word(want_, want) & 0xFF;
    for (uint32_t t = 0; t < tracks; ++t) {
      Tracks(Word(want_, want + 8 + 4 * t), Word(got_, got + 8 + 4 * t));
    }
    if (IsCartridgePointer(Word(want_, want + 4))) {
      Lists(Word(want_, want + 4), Word(got_, got + 4));
    }
  }

  void Tracks(uint32_t want, uint32_t got) {
    for (uint32_t at = 0;; ++at) {
      const uint8_t command = want_.at(FileOffset(want + at));
      ASSERT_EQ(command, got_.at(FileOffset(got + at)));
      if (command == 0xB1) return;
      if (command == 0xB2 || command == 0xB3) {
        EXPECT_EQ(Word(want_, want + at + 1) - want, Word(got_, got + at + 1) - got);
        at += 4;
      }
    }
  }

  // A list as the engine indexes it: a song's list up to its first invalid entry (at most 128),
  // a drum kit by key (128 entries), a key-split list through its key map.
  enum class Shape { kPlain, kDrumKit, kKeySplit };

  void Lists(uint32_t want, uint32_t got, Shape shape = Shape::kPlain, uint32_t keyMap = 0) {
    if (!visited_.insert(want).second) return;
    if (songLists_.count(want) != 0) shape = Shape::kPlain;
    std::set<uint32_t> named;
    uint32_t reach = shape == Shape::kDrumKit ? 128 : 0;
    for (uint32_t key = 0; shape == Shape::kKeySplit && keyMap != 0 && key < 128; ++key) {
      const size_t at = FileOffset(keyMap + key);
      const uint32_t entry = at < want_.size() ? want_[at] : 0;
      named.insert(entry);
      reach = std::max(reach, entry + 1);
    }
    bool listed = true;  // before the first invalid entry
    for (uint32_t k = 0; k < std::max(reach, 128u); ++k) {
      const uint32_t w = want + 12 * k;
      const uint32_t g = got + 12 * k;
      const uint32_t word0 = Word(want_, w);
      const bool valid = word0 != 0 && (word0 & 7) <= 4;
      listed = listed && k < 128 && valid;
      if (!listed && k >= reach) return;
      if (!listed && shape == Shape::kKeySplit && named.count(k) == 0) continue;
      if (!listed && (!valid || ((word0 & 0xC0) != 0 && (word0 & 7) != 3))) {
        Same(w, g, 12);  // bytes the engine reads as they stand
        continue;
      }
      Entry(w, g, word0);
    }
  }

  void Entry(uint32_t w, uint32_t g, uint32_t word0) {
    Same(w, g, 4);
    const uint32_t type = word0 & 0xFF;
    const uint32_t data = Word(want_, w + 4);
    if (!IsCartridgePointer(data) || (type & 7) == 1 || (type & 7) == 2 || (type & 7) == 4) {
      if ((type & 0xC0) == 0) Same(w + 4, g + 4, 8);  // what the entry holds is its voice
    } else if (((type & 7) == 3 || (type & 0xC0) == 0) && !Inside(data, word0)) {
      Same(w + 4, g + 4, 4);  // a block the source does not hold keeps its pointer
    } else if ((type & 7) == 3) {
      Same(data, Word(got_, g + 4), 16);
    } else if ((type & 0xC0) != 0) {
      const uint32_t keyMap = (type & 0x40) != 0 ? Word(want_, w + 8) : 0;
      Lists(data, Word(got_, g + 4), (type & 0x40) != 0 ? Shape::kKeySplit : Shape::kDrumKit,
            keyMap);
      if ((type & 0x40) != 0) Same(keyMap, Word(got_, g + 8), 128);
    } else {
      Same(data, Word(got_, g + 4), 16 + SampleBytes(data));
    }
  }

  uint32_t SampleBytes(uint32_t sample) const {
    const uint32_t length = Word(want_, sample + 12);
    return length == 0           ? 8
           : length < 0x80000000 ? length + 1
                                 : (0x80000001 - (length & 0x7FFFFFFF)) >> 1;
  }

  // Whether a sample or wave table lies wholly inside the original (its data without the byte
  // after it).
  bool Inside(uint32_t data, uint32_t word0) const {
    const uint32_t length = Word(want_, data + 12);  // 0 past the end: 24 bytes, also outside
    const uint64_t bytes =
        (word0 & 7) == 3 ? 16 : 16 + SampleBytes(data) - (length - 1 < 0x7FFFFFFF);
    return IsCartridgePointer(data) && FileOffset(data) + bytes <= want_.size();
  }

  const Bytes& want_;
  const Bytes& got_;
  std::set<uint32_t> visited_;
  std::set<uint32_t> songLists_;
};

}  // namespace

void ExpectSameMusic(const Bytes& original, const Bytes& image, uint32_t imageSongList) {
  std::FILE* originalStream = StreamOf(original);
  std::FILE* imageStream = StreamOf(image);
  const uint32_t want = LocateAudioData(originalStream);
  const uint32_t got = imageSongList != 0 ? imageSongList : LocateAudioData(imageStream);
  std::fclose(originalStream);
  std::fclose(imageStream);
  ASSERT_NE(want, 0u);
  ASSERT_NE(got, 0u);
  MusicComparison(original, image).SongLists(want, got);
}
