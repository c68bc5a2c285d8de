#include "render/renderer.h"

namespace {

// The video frame rate is 59.7275 Hz: frame f starts at f * 48000 / 59.7275 samples.
constexpr uint64_t kFrameRateTimes10000 = 597275;
constexpr uint64_t kMaxFrames = kMaxSeconds * kFrameRateTimes10000 / 10000;
constexpr uint64_t kFadeSamples = 5 * kOutputRate;
constexpr uint64_t kTailSamples = 3 * kOutputRate;
constexpr uint64_t kMaxSamples = uint64_t{kMaxSeconds} * kOutputRate;
constexpr uint64_t kRenderCommands = 30'000'000;
constexpr uint64_t kMeasureCommands = 4'000'000;
// Full scale of the console's output (512 steps of 16 units) to full scale of 16 bits.
constexpr int64_t kUnityGain = int64_t{4} << 16;
// The engine's reverb reads its buffer as it was one and two DMA periods less one frame ago:
// 7 and 6 frames at the common mixing rate.
constexpr uint32_t kReverbFar = 5626;
constexpr uint32_t kReverbNear = 4822;

uint64_t FrameStart(uint64_t frame) { return frame * kOutputRate * 10000 / kFrameRateTimes10000; }

bool AnyVoiceOn(const Sequencer& s) {
  for (const SampleVoice& voice : s.samples) {
    if ((voice.statusFlags & kVoiceOn) != 0) return true;
  }
  for (const PsgChannel& channel : s.psg.channels) {
    if ((channel.statusFlags & kPsgOn) != 0) return true;
  }
  return false;
}

// One video frame of the engine, then where the song stands.
void StepFrame(Renderer& r) {
  Sequencer& s = r.sequencer;
  StepSequencerFrame(s);
  StepPsgFrame(s.psg);
  for (SampleVoice& voice : s.samples) StepSampleVoice(voice, s.image);
  ++r.frames;
  r.frameLeft = static_cast<uint32_t>(FrameStart(r.frames) - FrameStart(r.frames - 1));
  if (AnyTrackLooped(s)) r.loops = true;
  const bool stuck = s.commands > kRenderCommands;
  if (!r.fading && !r.tail) {
    if ((r.loops && AllTracksLooped(s, 2)) || stuck || r.samples + kFadeSamples >= kMaxSamples) {
      r.fading = true;
      r.fadeFrom = r.samples;
      r.endAt = r.samples + kFadeSamples;
    } else if (!s.playing) {
      r.tail = true;
      r.endAt = r.samples + kTailSamples;
    }
  }
  if (r.tail && !AnyVoiceOn(s)) r.endAt = r.samples;
  if (r.endAt > kMaxSamples) r.endAt = kMaxSamples;
}

// The engine's reverb on the sample voices' sum: a share of what they played 6 and 7 frames ago.
void AddReverb(Renderer& r, uint32_t count) {
  const int32_t amount = r.sequencer.reverb;
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t far = (r.reverbAt + kReverbSamples - kReverbFar) % kReverbSamples;
    const uint32_t near = (r.reverbAt + kReverbSamples - kReverbNear) % kReverbSamples;
    const int64_t sum = int64_t{r.reverb[2 * far]} + r.reverb[2 * far + 1] + r.reverb[2 * near] +
                        r.reverb[2 * near + 1];
    const int32_t echo = static_cast<int32_t>(sum * amount >> 9);
    r.mix[2 * k] += echo;
    r.mix[2 * k + 1] += echo;
    r.reverb[2 * r.reverbAt] = r.mix[2 * k];
    r.reverb[2 * r.reverbAt + 1] = r.mix[2 * k + 1];
    r.reverbAt = (r.reverbAt + 1) % kReverbSamples;
  }
}

int64_t Magnitude(int64_t v) { return v < 0 ? -v : v; }

void Convert(Renderer& r, int16_t* out, uint32_t count) {
  for (uint32_t k = 0; k < count; ++k) {
    int64_t left = r.mix[2 * k];
    int64_t right = r.mix[2 * k + 1];
    if (r.fading) {
      const uint64_t at = r.samples + k;
      const int64_t share =
          at >= r.endAt ? 0 : static_cast<int64_t>((r.endAt - at) * 65536 / kFadeSamples);
      left = left * share >> 16;
      right = right * share >> 16;
    }
    const int64_t peak = Magnitude(left) > Magnitude(right) ? Magnitude(left) : Magnitude(right);
    if (peak * r.gain > (int64_t{32767} << 16)) {
      r.gain = (int64_t{32767} << 16) / peak;
    } else if (r.gain < kUnityGain) {
      r.gain += ((kUnityGain - r.gain) >> 13) + 1;
      if (r.gain > kUnityGain) r.gain = kUnityGain;
      if (peak * r.gain > (int64_t{32767} << 16)) r.gain = (int64_t{32767} << 16) / peak;
    }
    out[2 * k] = static_cast<int16_t>(left * r.gain >> 16);
    out[2 * k + 1] = static_cast<int16_t>(right * r.gain >> 16);
  }
}

}  // namespace

SongStart StartSong(Renderer& r, ImageSpan image, uint32_t header) {
  const SongStart start = StartSequencer(r.sequencer, image, header, true);
  if (start != SongStart::kOk && start != SongStart::kEmpty) return start;
  r.frames = 0;
  r.frameLeft = 0;
  r.samples = 0;
  r.fadeFrom = 0;
  r.endAt = start == SongStart::kEmpty ? 0 : UINT64_MAX;
  r.fading = r.tail = r.loops = false;
  r.ended = start == SongStart::kEmpty;
  r.gain = kUnityGain;
  r.reverbAt = 0;
  for (int32_t& v : r.reverb) v = 0;
  for (uint32_t k = 0; k < 4; ++k) r.sequencer.psg.muted[k] = (r.muted >> (kSampleVoices + k)) & 1;
  return start;
}

uint32_t PlaySong(Renderer& r, int16_t* out, uint32_t count) {
  Sequencer& s = r.sequencer;
  uint32_t written = 0;
  while (written < count && !r.ended) {
    if (r.frameLeft == 0) StepFrame(r);
    if (r.samples >= r.endAt) {
      r.ended = true;
      break;
    }
    uint64_t n = count - written;
    if (n > r.frameLeft) n = r.frameLeft;
    if (n > kBlockSamples) n = kBlockSamples;
    if (n > r.endAt - r.samples) n = r.endAt - r.samples;
    const uint32_t block = static_cast<uint32_t>(n);
    for (uint32_t k = 0; k < 2 * block; ++k) r.mix[k] = 0;
    for (uint32_t v = 0; v < kSampleVoices; ++v) {
      MixSampleVoice(s.samples[v], s.image, (r.muted >> v) & 1 ? r.silent : r.mix, block);
    }
    if (s.reverb != 0) AddReverb(r, block);
    RenderPsg(s.psg, r.mix, block);
    Convert(r, out + 2 * written, block);
    written += block;
    r.samples += block;
    r.frameLeft -= block;
  }
  if (r.samples >= r.endAt) r.ended = true;
  return written;
}

void MuteVoice(Renderer& r, uint32_t voice, bool muted) {
  if (voice >= kVoices) return;
  r.muted = muted ? r.muted | (1u << voice) : r.muted & ~(1u << voice);
  if (voice >= kSampleVoices) r.sequencer.psg.muted[voice - kSampleVoices] = muted;
}

SongPass MeasureSong(ImageSpan image, uint32_t header, uint64_t& budget) {
  Sequencer s;
  SongPass pass{PassKind::kUnmeasured, false, 0};
  if (StartSequencer(s, image, header, false) != SongStart::kOk) return pass;
  const uint64_t limit = budget < kMeasureCommands ? budget : kMeasureCommands;
  for (uint64_t frame = 1; frame <= kMaxFrames; ++frame) {
    StepSequencerFrame(s);
    if (s.commands > limit) break;
    if (AllTracksLooped(s, 1)) {
      pass.loops = AnyTrackLooped(s);
      pass.kind = pass.loops ? PassKind::kLoops : PassKind::kEnds;
      pass.frames = static_cast<uint32_t>(frame);
      break;
    }
  }
  if (pass.kind == PassKind::kUnmeasured && s.commands <= limit) {
    pass.kind = PassKind::kLong;
    pass.loops = AnyTrackLooped(s);
    pass.frames = static_cast<uint32_t>(kMaxFrames);
  }
  budget -= s.commands < budget ? s.commands : budget;
  return pass;
}

uint32_t SecondsOf(uint64_t frames) {
  return static_cast<uint32_t>((frames * 10000 * 2 + kFrameRateTimes10000) /
                               (2 * kFrameRateTimes10000));
}
