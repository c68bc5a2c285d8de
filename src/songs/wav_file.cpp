#include "songs/wav_file.h"

#include "image/platform.h"
#include "image/stream_io.h"

namespace {

constexpr uint32_t kHeaderBytes = 44;
constexpr uint32_t kChannels = 2;
constexpr uint32_t kBytesPerSample = 2;

void Put16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

bool WriteHeader(std::FILE* stream, uint64_t samples) {
  const uint32_t data = static_cast<uint32_t>(samples * kChannels * kBytesPerSample);
  uint8_t header[kHeaderBytes] = {
      'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 0,   0,   0, 0, 0, 0,
      0,   0,   0,   0,   0, 0, 0, 0, 0,   0,   0,   0,   0,   0,   'd', 'a', 't', 'a', 0, 0, 0, 0};
  StoreU32(header + 4, kHeaderBytes - 8 + data);
  StoreU32(header + 16, 16);  // format chunk size
  Put16(header + 20, 1);      // PCM
  Put16(header + 22, kChannels);
  StoreU32(header + 24, kOutputRate);
  StoreU32(header + 28, kOutputRate * kChannels * kBytesPerSample);  // bytes a second
  Put16(header + 32, kChannels * kBytesPerSample);                   // bytes a sample frame
  Put16(header + 34, 16);                                            // bits
  StoreU32(header + 40, data);
  return std::fwrite(header, 1, kHeaderBytes, stream) == kHeaderBytes;
}

}  // namespace

bool WriteSongWav(std::FILE* stream, Renderer& renderer, uint64_t& samples) {
  static int16_t block[2 * kBlockSamples];
  static uint8_t bytes[2 * kBytesPerSample * kBlockSamples];
  samples = 0;
  bool ok = WriteHeader(stream, 0);
  while (ok && !SongEnded(renderer)) {
    const uint32_t count = PlaySong(renderer, block, kBlockSamples);
    for (uint32_t k = 0; k < 2 * count; ++k) Put16(bytes + 2 * k, static_cast<uint16_t>(block[k]));
    ok = std::fwrite(bytes, 1, size_t{4} * count, stream) == size_t{4} * count;
    samples += count;
  }
  return ok && SeekStream(stream, 0) && WriteHeader(stream, samples);
}
