#include "render/sequencer.h"

#include "render/voice_control.h"

namespace {

constexpr int32_t kCentre = 0x40;
constexpr uint8_t kTie = 0xCF;

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
    track.wait = LengthOf(command - 0x80u);
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
          if (!Holds(s.image, track.command, 4)) return false;
          track.sampleStart = WordAt(s.image, track.command);
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

SongStart StartSequencer(Sequencer& s, ImageSpan image, uint32_t header, bool withVoices) {
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
    UpdateTrackVoices(s, track);
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
