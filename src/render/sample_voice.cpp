#include "render/sample_voice.h"

namespace {

constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kBlockSamples = 64;
constexpr uint32_t kBlockBytes = 33;
constexpr uint8_t kWaveLoops = 0xC0;  // in the header's fourth byte: either bit loops
// A fixed-frequency sample plays at the mixing rate of the game's code; the data holds its own
// rate in the frequency word, and where that is implausible the engine's common rate stands in.
constexpr uint32_t kCommonMixingRate = 13379;
constexpr int8_t kSteps[16] = {0, 1, 4, 9, 16, 25, 36, 49, -64, -49, -36, -25, -16, -9, -4, -1};

void StopVoice(SampleVoice& voice) { voice.statusFlags = 0; }

// Reads the sample header; false when the header or the data runs past the image.
bool StartSample(SampleVoice& voice, ImageSpan image) {
  if (!Holds(image, voice.wave, kHeaderSize)) return false;
  voice.size = WordAt(image, voice.wave + 12);
  voice.loopStart = WordAt(image, voice.wave + 8);
  voice.compressed = (voice.type & kToneCompressed) != 0 && (WordAt(image, voice.wave) & 0xFFFF);
  const uint64_t bytes =
      voice.compressed ? (uint64_t{voice.size} + kBlockSamples - 1) / kBlockSamples * kBlockBytes
                       : uint64_t{voice.size};
  if (voice.size == 0 || bytes > image.size) return false;
  if (!Holds(image, voice.wave + kHeaderSize, static_cast<uint32_t>(bytes))) return false;
  voice.data = FileOffset(voice.wave + kHeaderSize);
  if (voice.startOffset >= voice.size) return false;
  voice.position = uint64_t{voice.startOffset} << 32;
  voice.decodedBlock = -1;
  return true;
}

int32_t SampleAt(SampleVoice& voice, ImageSpan image, uint32_t index) {
  if ((voice.type & kToneReverse) != 0) index = voice.size - 1 - index;
  if (!voice.compressed) return static_cast<int8_t>(image.bytes[voice.data + index]);
  const int32_t block = static_cast<int32_t>(index / kBlockSamples);
  if (block != voice.decodedBlock) {
    const uint8_t* in =
        image.bytes + voice.data + uint64_t{kBlockBytes} * static_cast<uint32_t>(block);
    uint8_t value = in[0];
    voice.block[0] = static_cast<int8_t>(value);
    for (uint32_t k = 1; k < kBlockSamples; ++k) {
      const uint8_t byte = in[k / 2 + 1];
      const uint32_t step = (k % 2 == 1) ? byte & 0xF : byte >> 4;
      value = static_cast<uint8_t>(value + static_cast<uint8_t>(kSteps[step]));
      voice.block[k] = static_cast<int8_t>(value);
    }
    voice.decodedBlock = block;
  }
  return voice.block[index % kBlockSamples];
}

bool Loops(const SampleVoice& voice) {
  return (voice.statusFlags & kVoiceLoop) != 0 && (voice.type & kToneReverse) == 0 &&
         voice.loopStart < voice.size;
}

uint64_t StepOf(const SampleVoice& voice, ImageSpan image) {
  uint64_t rate = voice.frequency;
  if ((voice.type & kToneFixed) != 0) {
    rate = WordAt(image, voice.wave + 4) >> 10;
    if (rate < 1000 || rate > 100000) rate = kCommonMixingRate;
  }
  return (rate << 32) / kOutputRate;
}

// Moves a position past the end back into the loop; false when the sample has ended.
bool Wrap(SampleVoice& voice) {
  const uint64_t end = uint64_t{voice.size} << 32;
  if (voice.position < end) return true;
  if (!Loops(voice)) return false;
  const uint64_t span = uint64_t{voice.size - voice.loopStart} << 32;
  voice.position = end - span + (voice.position - end) % span;
  return true;
}

}  // namespace

void StepSampleVoice(SampleVoice& voice, ImageSpan image) {
  uint8_t flags = voice.statusFlags;
  if ((flags & kVoiceOn) == 0) return;
  uint32_t envelope = voice.envelopeVolume;
  // Where the engine turns to the echo once a release or decay has run down.
  const auto echoOrStop = [&]() {
    envelope = voice.echoVolume;
    if (envelope == 0) return false;
    flags |= kVoiceEcho;
    return true;
  };
  if ((flags & kVoiceStart) != 0) {
    if ((flags & kVoiceStop) != 0 || !StartSample(voice, image)) return StopVoice(voice);
    flags = 3;
    if ((image.bytes[FileOffset(voice.wave) + 3] & kWaveLoops) != 0) flags |= kVoiceLoop;
    envelope = voice.attack;
    if (envelope >= 0xFF) {
      envelope = 0xFF;
      --flags;
    }
  } else if ((flags & kVoiceEcho) != 0) {
    if (voice.echoLength-- <= 1) return StopVoice(voice);
  } else if ((flags & kVoiceStop) != 0) {
    envelope = envelope * voice.release >> 8;
    if (envelope <= voice.echoVolume && !echoOrStop()) return StopVoice(voice);
  } else if ((flags & kVoiceEnvelope) == 2) {
    envelope = envelope * voice.decay >> 8;
    if (envelope <= voice.sustain) {
      envelope = voice.sustain;
      if (envelope == 0) {
        if (!echoOrStop()) return StopVoice(voice);
      } else {
        --flags;
      }
    }
  } else if ((flags & kVoiceEnvelope) == 3) {
    envelope += voice.attack;
    if (envelope >= 0xFF) {
      envelope = 0xFF;
      --flags;
    }
  }
  voice.statusFlags = flags;
  voice.envelopeVolume = static_cast<uint8_t>(envelope);
  // The engine's master volume at its highest, 15: (15 + 1) * envelope / 16.
  voice.envelopeRight = static_cast<uint8_t>(voice.rightVolume * envelope >> 8);
  voice.envelopeLeft = static_cast<uint8_t>(voice.leftVolume * envelope >> 8);
}

void MixSampleVoice(SampleVoice& voice, ImageSpan image, int32_t* mix, uint32_t count) {
  if ((voice.statusFlags & kVoiceOn) == 0 || (voice.statusFlags & kVoiceStart) != 0) return;
  const uint64_t step = StepOf(voice, image);
  const int32_t left = voice.envelopeLeft;
  const int32_t right = voice.envelopeRight;
  if (left == 0 && right == 0) {
    voice.position += step * count;
    if (!Wrap(voice)) StopVoice(voice);
    return;
  }
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t index = static_cast<uint32_t>(voice.position >> 32);
    uint32_t next = index + 1;
    if (next >= voice.size) next = Loops(voice) ? voice.loopStart : index;
    const int32_t a = SampleAt(voice, image, index);
    const int32_t b = SampleAt(voice, image, next);
    const int32_t fraction = static_cast<int32_t>((voice.position >> 24) & 0xFF);
    // A FIFO sample s adds s * 64 units; the engine scales it by the level / 256 first.
    const int32_t value = a * 256 + (b - a) * fraction;
    mix[2 * k] += value * left >> 10;
    mix[2 * k + 1] += value * right >> 10;
    voice.position += step;
    if (!Wrap(voice)) return StopVoice(voice);
  }
}
