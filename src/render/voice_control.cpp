#include "render/voice_control.h"

namespace {

// Tone types.
constexpr uint8_t kPsgVoiceBits = 0x07;
constexpr uint8_t kKeySplit = 0x40;
constexpr uint8_t kDrumKit = 0x80;

constexpr uint8_t kLengths[49] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                  13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 28,
                                  30, 32, 36, 40, 42, 44, 48, 52, 54, 56, 60, 64, 66,
                                  68, 72, 76, 78, 80, 84, 88, 90, 92, 96};
// The engine's pitch tables: octave (high half) and note (low half) of each key, and the rates
// of the twelve notes of the top octave.
constexpr uint32_t kNoteRates[12] = {2147483648u, 2275179671u, 2410468894u, 2553802834u,
                                     2705659852u, 2866546760u, 3037000500u, 3217589947u,
                                     3408917802u, 3611622603u, 3826380858u, 4053909305u};

uint32_t KeyRate(uint32_t key) {
  const uint32_t octave = 14 - key / 12;
  return kNoteRates[key % 12] >> octave;
}

uint32_t HighWord(uint32_t a, uint32_t b) { return static_cast<uint32_t>((uint64_t{a} * b) >> 32); }

// MidiKeyToFreq: the rate in Hz of a sample whose middle C plays at rate / 1024.
uint32_t KeyToFrequency(uint32_t rate, uint32_t key, uint32_t fine) {
  uint32_t fineShifted = fine << 24;
  if (key > 178) {
    key = 178;
    fineShifted = 255u << 24;
  }
  const uint32_t low = KeyRate(key);
  const uint32_t high = KeyRate(key + 1);
  return HighWord(rate, low + HighWord(high - low, fineShifted));
}

bool IsPsg(int voice) { return voice >= static_cast<int>(kSampleVoices); }

PsgChannel& PsgOf(Sequencer& s, int voice) {
  return s.psg.channels[static_cast<uint32_t>(voice) - kSampleVoices];
}

}  // namespace

uint8_t& StatusOf(Sequencer& s, int voice) {
  return IsPsg(voice) ? PsgOf(s, voice).statusFlags : s.samples[voice].statusFlags;
}

// ClearChain: takes the voice out of its track's chain.
void Unlink(Sequencer& s, int voice) {
  VoiceLink& link = s.links[voice];
  if (link.track < 0) return;
  if (link.previous >= 0) {
    s.links[link.previous].next = link.next;
  } else {
    s.tracks[link.track].firstVoice = link.next;
  }
  if (link.next >= 0) s.links[link.next].previous = link.previous;
  link.track = -1;
}

void StopTrack(Sequencer& s, Track& track) {
  for (int voice = track.firstVoice; voice >= 0;) {
    const int next = s.links[voice].next;
    uint8_t& status = StatusOf(s, voice);
    if ((status & kVoiceOn) != 0) status |= kVoiceStop;
    Unlink(s, voice);
    voice = next;
  }
  track.flags = 0;
}

void ClearModulation(Track& track) {
  track.modM = 0;
  track.lfoSpeedC = 0;
  track.flags |= track.modT == 0 ? kPitchChanged : kVolumeChanged;
}

namespace {

// TrkVolPitSet.
void SetVolumeAndPitch(Track& track) {
  if ((track.flags & kVolumeSet) != 0) {
    int32_t volume = track.vol * track.volX >> 5;
    if (track.modT == 1) volume = volume * (track.modM + 128) >> 7;
    int32_t pan = 2 * track.pan;
    if (track.modT == 2) pan += track.modM;
    pan = pan < -128 ? -128 : pan > 127 ? 127 : pan;
    track.volMR = static_cast<uint8_t>((pan + 128) * volume >> 8);
    track.volML = static_cast<uint8_t>((127 - pan) * volume >> 8);
  }
  if ((track.flags & kPitchSet) != 0) {
    int32_t pitch = (track.tune + track.bend * track.bendRange) * 4 + (track.keyShift << 8);
    if (track.modT == 0) pitch += 16 * track.modM;
    track.keyM = static_cast<int8_t>(pitch >> 8);
    track.pitM = static_cast<uint8_t>(pitch & 0xFF);
  }
  track.flags &= static_cast<uint8_t>(~(kPitchSet | kVolumeSet));
}

// ChnVolSet: the voice's left and right volumes.
void SetVoiceVolume(Sequencer& s, int voice, const Track& track) {
  const VoiceLink& link = s.links[voice];
  const int32_t right = (128 + link.rhythmPan) * link.velocity * track.volMR >> 14;
  const int32_t left = (127 - link.rhythmPan) * link.velocity * track.volML >> 14;
  const uint8_t r = static_cast<uint8_t>(right > 255 ? 255 : right);
  const uint8_t l = static_cast<uint8_t>(left > 255 ? 255 : left);
  if (IsPsg(voice)) {
    PsgChannel& channel = PsgOf(s, voice);
    channel.rightVolume = r;
    channel.leftVolume = l;
  } else {
    s.samples[voice].rightVolume = r;
    s.samples[voice].leftVolume = l;
  }
}

void SetVoicePitch(Sequencer& s, int voice, const Track& track) {
  int32_t key = s.links[voice].key + track.keyM;
  if (key < 0) key = 0;
  const uint8_t k = static_cast<uint8_t>(key);
  if (IsPsg(voice)) {
    PsgChannel& channel = PsgOf(s, voice);
    channel.frequency = PsgKeyToFrequency(channel.type & kPsgVoiceBits, k, track.pitM);
  } else {
    SampleVoice& sample = s.samples[voice];
    const uint32_t rate = Holds(s.image, sample.wave, 16) ? WordAt(s.image, sample.wave + 4) : 0;
    sample.frequency = KeyToFrequency(rate, k, track.pitM);
  }
}

}  // namespace

bool ReadTone(ImageSpan image, uint32_t address, Tone& tone) {
  if (!Holds(image, address, kToneSize)) return false;
  const uint32_t first = WordAt(image, address);
  tone.type = static_cast<uint8_t>(first);
  tone.key = static_cast<uint8_t>(first >> 8);
  tone.length = static_cast<uint8_t>(first >> 16);
  tone.panSweep = static_cast<uint8_t>(first >> 24);
  tone.data = WordAt(image, address + 4);
  tone.third = WordAt(image, address + 8);
  return true;
}

namespace {

// The voice a new note of priority on track takes, or -1: the engine's choice.
int ChooseSampleVoice(Sequencer& s, uint32_t priority, int track) {
  uint32_t bestPriority = priority;
  int bestTrack = track;
  bool releasing = false;
  int chosen = -1;
  for (int voice = 0; voice < static_cast<int>(kSampleVoices); ++voice) {
    const uint8_t status = s.samples[voice].statusFlags;
    const VoiceLink& link = s.links[voice];
    if ((status & kVoiceOn) == 0) return voice;
    if ((status & kVoiceStop) != 0 && !releasing) {
      releasing = true;
      bestPriority = link.priority;
      bestTrack = link.track;
      chosen = voice;
      continue;
    }
    if ((status & kVoiceStop) == 0 && releasing) continue;
    if (link.priority < bestPriority) {
      bestPriority = link.priority;
      bestTrack = link.track;
      chosen = voice;
    } else if (link.priority == bestPriority && link.track >= bestTrack) {
      bestTrack = link.track;
      chosen = voice;
    }
  }
  return chosen;
}

uint8_t Peek(const Sequencer& s, const Track& track) {
  return Holds(s.image, track.command, 1) ? ByteAt(s.image, track.command) : 0xFF;
}

}  // namespace

// ply_note.
void PlayNote(Sequencer& s, int trackIndex, uint8_t length) {
  Track& track = s.tracks[trackIndex];
  track.gateTime = kLengths[length];
  if (Peek(s, track) < 0x80) {
    track.key = ByteAt(s.image, track.command++);
    if (Peek(s, track) < 0x80) {
      track.velocity = ByteAt(s.image, track.command++);
      if (Peek(s, track) < 0x80) {
        track.gateTime = static_cast<uint8_t>(track.gateTime + ByteAt(s.image, track.command++));
      }
    }
  }
  if (!s.withVoices) return;
  Tone tone = track.tone;
  uint32_t key = track.key;
  int8_t rhythmPan = 0;
  if ((tone.type & (kDrumKit | kKeySplit)) != 0) {
    uint32_t entry = key;
    if ((tone.type & kKeySplit) != 0) {
      if (!Holds(s.image, tone.third + key, 1)) return;
      entry = ByteAt(s.image, tone.third + key);
    }
    Tone inner;
    if (!ReadTone(s.image, tone.data + kToneSize * entry, inner)) return;
    if ((inner.type & (kDrumKit | kKeySplit)) != 0) return;
    if ((tone.type & kDrumKit) != 0) {
      if ((inner.panSweep & 0x80) != 0)
        rhythmPan = static_cast<int8_t>((inner.panSweep - 0xC0) * 2);
      key = inner.key;
    }
    tone = inner;
  }
  uint32_t priority = s.priority + track.priority;
  if (priority > 255) priority = 255;
  const uint32_t psgVoice = tone.type & kPsgVoiceBits;
  int voice = -1;
  if (psgVoice != 0) {
    if (psgVoice > 4) return;
    voice = static_cast<int>(kSampleVoices + psgVoice - 1);
    const uint8_t status = StatusOf(s, voice);
    const VoiceLink& link = s.links[voice];
    if ((status & kVoiceOn) != 0 && (status & kVoiceStop) == 0 &&
        (link.priority > priority || (link.priority == priority && link.track < trackIndex))) {
      return;
    }
  } else {
    voice = ChooseSampleVoice(s, priority, trackIndex);
    if (voice < 0) return;
  }
  Unlink(s, voice);
  VoiceLink& link = s.links[voice];
  link.previous = -1;
  link.next = track.firstVoice;
  if (link.next >= 0) s.links[link.next].previous = static_cast<int8_t>(voice);
  track.firstVoice = static_cast<int8_t>(voice);
  link.track = static_cast<int8_t>(trackIndex);
  track.lfoDelayC = track.lfoDelay;
  if (track.lfoDelay != 0) ClearModulation(track);
  SetVolumeAndPitch(track);
  link.gateTime = track.gateTime;
  link.midiKey = track.key;
  link.velocity = track.velocity;
  link.priority = static_cast<uint8_t>(priority);
  link.key = static_cast<uint8_t>(key);
  link.rhythmPan = rhythmPan;
  const uint8_t attack = static_cast<uint8_t>(tone.third),
                decay = static_cast<uint8_t>(tone.third >> 8);
  const uint8_t sustain = static_cast<uint8_t>(tone.third >> 16);
  const uint8_t release = static_cast<uint8_t>(tone.third >> 24);
  if (psgVoice != 0) {
    PsgChannel& channel = s.psg.channels[psgVoice - 1];
    channel.type = tone.type;
    channel.attack = attack;
    channel.decay = decay;
    channel.sustain = sustain;
    channel.release = release;
    channel.key = static_cast<uint8_t>(key);
    channel.pseudoEchoVolume = track.echoVolume;
    channel.pseudoEchoLength = track.echoLength;
    channel.length = tone.length;
    channel.sweep =
        ((tone.panSweep & 0x80) != 0 || (tone.panSweep & 0x70) == 0) ? 0x08 : tone.panSweep;
    channel.duty = static_cast<uint8_t>(tone.data & (psgVoice == 4 ? 1 : 3));
    if (psgVoice == 3) {
      for (uint32_t k = 0; k < 16; ++k) {
        channel.waveTable[k] = Holds(s.image, tone.data, 16) ? ByteAt(s.image, tone.data + k) : 0;
      }
    }
  } else {
    SampleVoice& sample = s.samples[voice];
    sample.type = tone.type;
    sample.wave = tone.data;
    sample.startOffset = track.sampleStart;
    sample.attack = attack;
    sample.decay = decay;
    sample.sustain = sustain;
    sample.release = release;
    sample.echoVolume = track.echoVolume;
    sample.echoLength = track.echoLength;
  }
  SetVoiceVolume(s, voice, track);
  SetVoicePitch(s, voice, track);
  StatusOf(s, voice) = kVoiceStart;
  track.flags &= 0xF0;
}

// ply_endtie: the newest sounding voice of the key releases.
void EndTie(Sequencer& s, Track& track) {
  if (Peek(s, track) < 0x80) track.key = ByteAt(s.image, track.command++);
  for (int voice = track.firstVoice; voice >= 0; voice = s.links[voice].next) {
    uint8_t& status = StatusOf(s, voice);
    if ((status & (kVoiceStart | kVoiceEnvelope)) != 0 && (status & kVoiceStop) == 0 &&
        s.links[voice].midiKey == track.key) {
      status |= kVoiceStop;
      return;
    }
  }
}

void UpdateTrackVoices(Sequencer& s, Track& track) {
  SetVolumeAndPitch(track);
  for (int voice = track.firstVoice; voice >= 0;) {
    const int next = s.links[voice].next;
    if ((StatusOf(s, voice) & kVoiceOn) == 0) {
      Unlink(s, voice);
    } else {
      if ((track.flags & kVolumeChanged) != 0) {
        SetVoiceVolume(s, voice, track);
        if (IsPsg(voice)) PsgOf(s, voice).modify |= kPsgModifyVolume;
      }
      if ((track.flags & kPitchChanged) != 0) {
        SetVoicePitch(s, voice, track);
        if (IsPsg(voice)) PsgOf(s, voice).modify |= kPsgModifyPitch;
      }
    }
    voice = next;
  }
  track.flags &= 0xF0;
}

uint8_t LengthOf(uint32_t index) { return index < sizeof kLengths ? kLengths[index] : 0; }
