#include "render/sequencer.h"

namespace {

// Track flags.
constexpr uint8_t kExists = 0x80;
constexpr uint8_t kStarting = 0x40;
constexpr uint8_t kVolumeChanged = 0x03;
constexpr uint8_t kVolumeSet = 0x01;
constexpr uint8_t kPitchChanged = 0x0C;
constexpr uint8_t kPitchSet = 0x04;
// Tone types.
constexpr uint8_t kPsgVoiceBits = 0x07;
constexpr uint8_t kKeySplit = 0x40;
constexpr uint8_t kDrumKit = 0x80;
constexpr uint32_t kToneSize = 12;
constexpr int32_t kCentre = 0x40;
constexpr uint8_t kTie = 0xCF;

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

bool ReadTone(ImageView image, uint32_t address, Tone& tone) {
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
    channel.duty = static_cast<uint8_t>(tone.data & 3);
    if (psgVoice == 3) {
      for (uint32_t k = 0; k < 16; ++k) {
        channel.waveTable[k] = Holds(s.image, tone.data, 16) ? ByteAt(s.image, tone.data + k) : 0;
      }
    }
  } else {
    SampleVoice& sample = s.samples[voice];
    sample.type = tone.type;
    sample.wave = tone.data;
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

bool ReadByte(Sequencer& s, Track& track, uint8_t& byte) {
  if (!Holds(s.image, track.command, 1)) return false;
  byte = ByteAt(s.image, track.command++);
  return true;
}

// Jumps to the pointer at the track's position. A GOTO (or an endless REPT) back to from or
// before it is the song's loop; a pattern call is not.
bool Jump(Sequencer& s, Track& track, uint32_t from, bool loop) {
  if (!Holds(s.image, track.command, 4)) return false;
  const uint32_t target = WordAt(s.image, track.command);
  if (loop && target <= from) ++track.loops;
  track.command = target;
  return true;
}

// One command; false when the track ends.
bool RunCommand(Sequencer& s, int trackIndex) {
  Track& track = s.tracks[trackIndex];
  const uint32_t at = track.command;
  uint8_t command = 0;
  if (!ReadByte(s, track, command)) return false;
  if (command < 0x80) {
    --track.command;
    command = track.runningStatus;
    if (command < 0x80) return false;
  } else if (command >= 0xBD) {
    track.runningStatus = command;
  }
  if (command >= kTie) {
    PlayNote(s, trackIndex, static_cast<uint8_t>(command - kTie));
    return true;
  }
  if (command <= 0xB0) {
    track.wait = kLengths[command - 0x80];
    return true;
  }
  uint8_t value = 0;
  switch (command) {
    case 0xB2:
      return Jump(s, track, at, true);
    case 0xB3:
      if (track.patternLevel >= 3) return false;
      track.patterns[track.patternLevel++] = track.command + 4;
      return Jump(s, track, at, false);
    case 0xB4:
      if (track.patternLevel > 0) track.command = track.patterns[--track.patternLevel];
      return true;
    case 0xB5:
      if (!ReadByte(s, track, value)) return false;
      if (value == 0 || ++track.repeats < value) return Jump(s, track, at, value == 0);
      track.repeats = 0;
      track.command += 4;
      return true;
    case 0xB9: {
      uint8_t operation = 0;
      if (!ReadByte(s, track, operation)) return false;
      // Tests (6 to 17) carry a jump address: taken as false, the memory area being the game's.
      track.command += (operation >= 6 && operation <= 17) ? 6 : 2;
      return true;
    }
    case 0xCC:
      track.command += 2;
      return true;
    case 0xCD:
      if (!ReadByte(s, track, value)) return false;
      switch (value) {
        case 0:
        case 3:
          return false;
        case 1:
          if (!Holds(s.image, track.command, 4)) return false;
          track.tone.data = WordAt(s.image, track.command);
          track.command += 4;
          return true;
        case 12: {
          if (!Holds(s.image, track.command, 2)) return false;
          const uint16_t count = static_cast<uint16_t>(ByteAt(s.image, track.command) |
                                                       ByteAt(s.image, track.command + 1) << 8);
          if (track.timer < count) {
            ++track.timer;
            track.command -= 2;
            track.wait = 1;
          } else {
            track.timer = 0;
            track.command += 2;
          }
          return true;
        }
        case 13:
          track.command += 4;
          return true;
        default:
          break;
      }
      if (value > 13) return true;
      if (!ReadByte(s, track, command)) return false;
      if (value == 2) track.tone.type = command;
      if (value >= 4 && value <= 7) {
        const uint32_t shift = 8 * (value - 4u);
        track.tone.third = (track.tone.third & ~(0xFFu << shift)) | uint32_t{command} << shift;
      }
      if (value == 8) track.echoVolume = command;
      if (value == 9) track.echoLength = command;
      if (value == 10) track.tone.length = command;
      if (value == 11) track.tone.panSweep = command;
      return true;
    case 0xCE:
      EndTie(s, track);
      return true;
    default:
      break;
  }
  if ((command >= 0xB6 && command <= 0xB8) || command == 0xB1 || command == 0xC6 ||
      command == 0xC7 || (command >= 0xC9 && command <= 0xCB)) {
    return false;
  }
  if (!ReadByte(s, track, value)) return false;
  const int8_t centred = static_cast<int8_t>(value - kCentre);
  switch (command) {
    case 0xBA:
      track.priority = value;
      break;
    case 0xBB:
      s.tempoD = static_cast<uint16_t>(value * 2);
      s.tempoI = s.tempoD;
      break;
    case 0xBC:
      track.keyShift = static_cast<int8_t>(value);
      track.flags |= kPitchChanged;
      break;
    case 0xBD:
      if (!ReadTone(s.image, s.instruments + kToneSize * value, track.tone)) track.tone = Tone{};
      break;
    case 0xBE:
      track.vol = value;
      track.flags |= kVolumeChanged;
      break;
    case 0xBF:
      track.pan = centred;
      track.flags |= kVolumeChanged;
      break;
    case 0xC0:
      track.bend = centred;
      track.flags |= kPitchChanged;
      break;
    case 0xC1:
      track.bendRange = value;
      track.flags |= kPitchChanged;
      break;
    case 0xC2:
      track.lfoSpeed = value;
      if (value == 0) ClearModulation(track);
      break;
    case 0xC3:
      track.lfoDelay = value;
      break;
    case 0xC4:
      track.mod = value;
      if (value == 0) ClearModulation(track);
      break;
    case 0xC5:
      if (track.modT != value) {
        track.modT = value;
        track.flags |= kVolumeChanged | kPitchChanged;
      }
      break;
    case 0xC8:
      track.tune = centred;
      track.flags |= kPitchChanged;
      break;
    default:
      break;
  }
  return true;
}

void StepModulation(Track& track) {
  if (track.lfoSpeed == 0 || track.mod == 0) return;
  if (track.lfoDelayC != 0) {
    --track.lfoDelayC;
    return;
  }
  track.lfoSpeedC = static_cast<uint8_t>(track.lfoSpeedC + track.lfoSpeed);
  const int32_t phase = track.lfoSpeedC;
  const int32_t wave =
      static_cast<int8_t>(phase - 64) < 0 ? static_cast<int8_t>(phase) : 128 - phase;
  const int32_t depth = track.mod * wave >> 6;
  if (static_cast<uint8_t>(depth) == static_cast<uint8_t>(track.modM)) return;
  track.modM = static_cast<int8_t>(depth);
  track.flags |= track.modT == 0 ? kPitchChanged : kVolumeChanged;
}

void ResetTrack(Track& track) {
  const uint32_t command = track.command;
  const uint32_t loops = track.loops;
  track = Track{};
  track.command = command;
  track.loops = loops;
  track.flags = kExists;
  track.bendRange = 2;
  track.volX = 64;
  track.lfoSpeed = 22;
  track.tone.type = 1;
}

void Tick(Sequencer& s) {
  ++s.ticks;
  if (!s.withVoices && s.idleTicks > 0) {
    --s.idleTicks;
    ++s.skippedTicks;
    return;
  }
  bool alive = false;
  uint32_t nextEvent = UINT32_MAX;
  for (uint32_t t = 0; t < s.trackCount; ++t) {
    Track& track = s.tracks[t];
    if ((track.flags & kExists) == 0) continue;
    alive = true;
    track.wait = static_cast<uint8_t>(track.wait - s.skippedTicks);
    for (int voice = track.firstVoice; voice >= 0;) {
      const int next = s.links[voice].next;
      uint8_t& status = StatusOf(s, voice);
      VoiceLink& link = s.links[voice];
      if ((status & kVoiceOn) == 0) {
        Unlink(s, voice);
      } else if (link.gateTime != 0 && --link.gateTime == 0) {
        status |= kVoiceStop;
      }
      voice = next;
    }
    if ((track.flags & kStarting) != 0) ResetTrack(track);
    uint32_t run = 0;
    while (track.wait == 0) {
      ++s.commands;
      if (++run > kCommandsPerTick || !RunCommand(s, static_cast<int>(t))) {
        StopTrack(s, track);
        break;
      }
    }
    if (track.flags == 0) continue;
    --track.wait;
    if (track.wait < nextEvent) nextEvent = track.wait;
    if (s.withVoices) StepModulation(track);
  }
  s.skippedTicks = 0;
  if (!s.withVoices && nextEvent != UINT32_MAX) s.idleTicks = nextEvent;
  if (!alive) s.playing = false;
}

}  // namespace

SongStart StartSequencer(Sequencer& s, ImageView image, uint32_t header, bool withVoices) {
  if (!Holds(image, header, 8)) return SongStart::kHeaderOffImage;
  const uint32_t first = WordAt(image, header);
  const uint32_t count = first & 0xFF;
  if (count == 0) {
    s = Sequencer{};
    s.image = image;
    ResetPsg(s.psg);
    return SongStart::kEmpty;
  }
  const uint32_t tracks = count < kMaxTracks ? count : kMaxTracks;
  if (!Holds(image, header + 8, 4 * tracks)) return SongStart::kHeaderOffImage;
  for (uint32_t t = 0; t < tracks; ++t) {
    if (!Holds(image, WordAt(image, header + 8 + 4 * t), 1)) return SongStart::kTrackOffImage;
  }
  const uint32_t instruments = WordAt(image, header + 4);
  if (withVoices && !Holds(image, instruments, kToneSize)) return SongStart::kNoInstruments;
  s = Sequencer{};
  s.image = image;
  s.withVoices = withVoices;
  s.instruments = instruments;
  s.trackCount = tracks;
  s.priority = static_cast<uint8_t>(first >> 16);
  const uint8_t reverb = static_cast<uint8_t>(first >> 24);
  s.reverb = (reverb & 0x80) != 0 ? reverb & 0x7F : 0;
  s.playing = true;
  for (uint32_t t = 0; t < tracks; ++t) {
    s.tracks[t].flags = kExists | kStarting;
    s.tracks[t].command = WordAt(image, header + 8 + 4 * t);
  }
  ResetPsg(s.psg);
  return SongStart::kOk;
}

void StepSequencerFrame(Sequencer& s) {
  if (!s.playing) return;
  s.tempoC = static_cast<uint16_t>(s.tempoC + s.tempoI);
  while (s.tempoC >= 150) {
    Tick(s);
    if (!s.playing) return;
    s.tempoC = static_cast<uint16_t>(s.tempoC - 150);
  }
  if (!s.withVoices) return;
  for (uint32_t t = 0; t < s.trackCount; ++t) {
    Track& track = s.tracks[t];
    if ((track.flags & kExists) == 0 || (track.flags & (kVolumeChanged | kPitchChanged)) == 0) {
      continue;
    }
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
}

bool AllTracksLooped(const Sequencer& s, uint32_t times) {
  for (uint32_t t = 0; t < s.trackCount; ++t) {
    if ((s.tracks[t].flags & kExists) != 0 && s.tracks[t].loops < times) return false;
  }
  return true;
}

bool AnyTrackLooped(const Sequencer& s) {
  for (uint32_t t = 0; t < s.trackCount; ++t) {
    if (s.tracks[t].loops > 0) return true;
  }
  return false;
}
