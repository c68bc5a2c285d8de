// Lays out cartridge images in memory for tests and tools.
// Every Put takes a cartridge address (or plain file offset: only the low 25 bits count), writes
// the record little-endian there and grows the image with zeros as needed, so a fixture reads
// like the data it describes and can hold what the tool never writes (shared blocks, invalid
// entries, self-naming lists, tracks without an end byte).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct SongEntry {
  uint32_t header;  // song header pointer
  uint32_t second;  // the word copied as it stands
};

struct InstrumentEntry {
  uint32_t word0;  // low byte: type byte
  uint32_t data;
  uint32_t third;
};

class ImageBuilder {
 public:
  explicit ImageBuilder(uint32_t size = 0) : bytes_(size, 0) {}

  ImageBuilder& PutU8(uint32_t address, uint8_t value);
  ImageBuilder& PutU32(uint32_t address, uint32_t value);
  ImageBuilder& PutBytes(uint32_t address, const Bytes& bytes);

  // The song list pointer at offset, the three signature words right after it.
  ImageBuilder& PutSignature(uint32_t offset, uint32_t songListAddress);
  // The entries, then an entry whose pointer is 0.
  ImageBuilder& PutSongList(uint32_t address, const std::vector<SongEntry>& entries);
  // firstWord's low byte is the track count; tracks.size() pointers follow the list pointer.
  ImageBuilder& PutSongHeader(uint32_t address, uint32_t firstWord, uint32_t instrumentList,
                              const std::vector<uint32_t>& tracks);
  ImageBuilder& PutTrack(uint32_t address, const Bytes& stream) {
    return PutBytes(address, stream);
  }
  // The entries only; whatever follows (zeros by default) ends the list.
  ImageBuilder& PutInstrumentList(uint32_t address, const std::vector<InstrumentEntry>& entries);
  // Three header words, the length word, then the data bytes as given.
  ImageBuilder& PutSample(uint32_t address, uint32_t lengthWord, const Bytes& data,
                          uint32_t word0 = 0, uint32_t word1 = 0, uint32_t word2 = 0);
  ImageBuilder& PutWaveTable(uint32_t address, const Bytes& sixteenBytes);
  ImageBuilder& PutKeyMap(uint32_t address, const Bytes& bytes128);

  // Grows (zero fill) or cuts the image to size bytes.
  ImageBuilder& Resize(uint32_t size);

  const Bytes& bytes() const { return bytes_; }

 private:
  uint8_t* At(uint32_t address, uint32_t count);
  Bytes bytes_;
};

// Words in little-endian byte order, for literal expectations.
Bytes LittleEndian(std::initializer_list<uint32_t> words);

// Writes bytes as the whole file at path; false on any failure.
bool WriteImageFile(const std::string& path, const Bytes& bytes);

// A byte pattern of n bytes: (seed + 7 * i) & 0xFF.
Bytes Pattern(uint32_t n, uint8_t seed);

// A key map whose 128 keys name entries 0 to entries - 1 in turn.
Bytes KeyMapOf(uint32_t entries);
