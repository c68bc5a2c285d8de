#include "image_builder.h"

#include <algorithm>
#include <cstdio>

#include "image/address.h"
#include "image/audio_locator.h"
#include "image/stream_io.h"

uint8_t* ImageBuilder::At(uint32_t address, uint32_t count) {
  const uint32_t offset = FileOffset(address);
  if (bytes_.size() < static_cast<size_t>(offset) + count) bytes_.resize(offset + count, 0);
  return bytes_.data() + offset;
}

ImageBuilder& ImageBuilder::PutU8(uint32_t address, uint8_t value) {
  *At(address, 1) = value;
  return *this;
}

ImageBuilder& ImageBuilder::PutU32(uint32_t address, uint32_t value) {
  StoreU32(At(address, 4), value);
  return *this;
}

ImageBuilder& ImageBuilder::PutBytes(uint32_t address, const Bytes& bytes) {
  if (bytes.empty()) return *this;
  std::copy(bytes.begin(), bytes.end(), At(address, static_cast<uint32_t>(bytes.size())));
  return *this;
}

ImageBuilder& ImageBuilder::PutSignature(uint32_t offset, uint32_t songListAddress) {
  PutU32(offset, songListAddress);
  for (uint32_t i = 0; i < 3; ++i) PutU32(offset + 4 + 4 * i, kSignature[i]);
  return *this;
}

ImageBuilder& ImageBuilder::PutSongList(uint32_t address, const std::vector<SongEntry>& entries) {
  uint32_t at = address;
  for (const SongEntry& entry : entries) {
    PutU32(at, entry.header).PutU32(at + 4, entry.second);
    at += 8;
  }
  return PutU32(at, 0);
}

ImageBuilder& ImageBuilder::PutSongHeader(uint32_t address, uint32_t firstWord,
                                          uint32_t instrumentList,
                                          const std::vector<uint32_t>& tracks) {
  PutU32(address, firstWord).PutU32(address + 4, instrumentList);
  for (size_t t = 0; t < tracks.size(); ++t) {
    PutU32(address + 8 + 4 * static_cast<uint32_t>(t), tracks[t]);
  }
  return *this;
}

ImageBuilder& ImageBuilder::PutInstrumentList(uint32_t address,
                                              const std::vector<InstrumentEntry>& entries) {
  uint32_t at = address;
  for (const InstrumentEntry& entry : entries) {
    PutU32(at, entry.word0).PutU32(at + 4, entry.data).PutU32(at + 8, entry.third);
    at += 12;
  }
  return *this;
}

ImageBuilder& ImageBuilder::PutSample(uint32_t address, uint32_t lengthWord, const Bytes& data,
                                      uint32_t word0, uint32_t word1, uint32_t word2) {
  PutU32(address, word0).PutU32(address + 4, word1).PutU32(address + 8, word2);
  PutU32(address + 12, lengthWord);
  return PutBytes(address + 16, data);
}

ImageBuilder& ImageBuilder::PutWaveTable(uint32_t address, const Bytes& sixteenBytes) {
  return PutBytes(address, sixteenBytes);
}

ImageBuilder& ImageBuilder::PutKeyMap(uint32_t address, const Bytes& bytes128) {
  return PutBytes(address, bytes128);
}

ImageBuilder& ImageBuilder::Resize(uint32_t size) {
  bytes_.resize(size, 0);
  return *this;
}

Bytes LittleEndian(std::initializer_list<uint32_t> words) {
  Bytes out(4 * words.size());
  uint8_t* at = out.data();
  for (uint32_t word : words) {
    StoreU32(at, word);
    at += 4;
  }
  return out;
}

bool WriteImageFile(const std::string& path, const Bytes& bytes) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && ok;
}

Bytes Pattern(uint32_t n, uint8_t seed) {
  Bytes out(n);
  for (uint32_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + 7 * i);
  return out;
}

Bytes KeyMapOf(uint32_t entries) {
  Bytes keyMap(128);
  for (uint32_t key = 0; key < 128; ++key) keyMap[key] = static_cast<uint8_t>(key % entries);
  return keyMap;
}
