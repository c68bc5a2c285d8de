// Fuzzes sonvault-point's search for the words that refer to a song list, on an arbitrary image.
// The list is the one the locator finds, or else the address in the image's first word. The search
// must agree with a plain model: every word on a multiple of 4 that holds the list's address, and
// every word that points at an entry's header word or player field and that some PC-relative load
// (Thumb ldr from pc, or ARM ldr from pc) loads, found by walking forward over every place an
// instruction could stand. Writing the references must leave exactly their new values, and
// restoring them the image as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "image/address.h"
#include "image/audio_locator.h"
#include "image/platform.h"
#include "image/stream_io.h"
#include "point/references.h"

namespace {

std::FILE* FileOf(const uint8_t* data, size_t size) {
  std::FILE* file = std::tmpfile();
  Check(file != nullptr, "no temporary file");
  if (size > 0) Check(std::fwrite(data, 1, size, file) == size, "cannot write the image");
  Check(std::fflush(file) == 0, "cannot flush the image");
  return file;
}

// The offsets of the words some PC-relative load reads.
std::vector<bool> LoadedWords(const uint8_t* data, size_t size) {
  std::vector<bool> loaded(size + 0x1000 + 8, false);
  for (size_t at = 0; at + 2 <= size; at += 2) {
    // Thumb: ldr rd, [pc, #4 * imm8] loads from the instruction's address + 4, rounded down to a
    // multiple of 4.
    if ((data[at + 1] & 0xF8) == 0x48) loaded[((at + 4) & ~size_t{3}) + 4 * data[at]] = true;
  }
  for (size_t at = 0; at + 4 <= size; at += 4) {
    // ARM: ldr rd, [pc, #imm12] loads from the instruction's address + 8.
    const uint32_t word = LoadU32(data + at);
    if ((word & 0x0FFF0000) == 0x059F0000) loaded[at + 8 + (word & 0xFFF)] = true;
  }
  return loaded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* image = FileOf(data, size);
  uint32_t current = LocateAudioData(image);
  if (current == 0 && size >= 4) current = LoadU32(data);
  uint32_t songs = 0;
  Check(CountSongs(image, current, songs), "the songs of an image in memory cannot be counted");
  uint32_t model = 0;
  while (FileOffset(current) + 8 * uint64_t{model} + 4 <= size &&
         IsCartridgePointer(LoadU32(data + FileOffset(current) + 8 * model))) {
    ++model;
  }
  // A word cut off by the image's end has a top byte of 0: no song.
  Check(songs == model, "the songs are counted otherwise");

  const uint32_t target = size >= 8 ? LoadU32(data + 4) : 0x08100000;
  static ReferenceList found;
  const bool ok = FindReferences(image, current, songs, target, found);
  const std::vector<bool> loaded = LoadedWords(data, size);
  const uint64_t listEnd = current + uint64_t{kSongEntrySize} * songs;
  static ReferenceList want;
  want.count = 0;
  bool tooMany = false;
  for (size_t at = 0; at + 4 <= size; at += 4) {
    const uint32_t word = LoadU32(data + at);
    const bool inside = word > current && word < listEnd && (word - current) % 4 == 0;
    if (word != current && !(inside && loaded[at])) continue;
    if (want.count == kMaxReferences) {
      tooMany = true;
      break;
    }
    want.items[want.count++] = {static_cast<uint32_t>(at), word, target + (word - current)};
  }
  Check(ok == !tooMany, "the search fails where the model does not, or the other way");
  if (!ok) {
    std::fclose(image);
    return 0;
  }
  Check(found.count == want.count, "the search finds another number of words");
  for (uint32_t k = 0; k < want.count; ++k) {
    const Reference& a = found.items[k];
    const Reference& b = want.items[k];
    Check(a.offset == b.offset && a.oldValue == b.oldValue && a.newValue == b.newValue,
          "the search finds other words");
  }

  Check(WriteReferences(image, found) == WriteOutcome::kWritten, "the words cannot be written");
  std::vector<uint8_t> pointed(data, data + size);
  for (uint32_t k = 0; k < found.count; ++k) {
    StoreU32(pointed.data() + found.items[k].offset, found.items[k].newValue);
  }
  std::vector<uint8_t> now(size);
  Check(SeekStream(image, 0) && std::fread(now.data(), 1, size, image) == size,
        "the pointed image cannot be read");
  Check(now == pointed, "writing the references changed other bytes");
  Check(RestoreReferences(image, found) == WriteOutcome::kFailedRestored,
        "the references are not restored");
  Check(SeekStream(image, 0) && std::fread(now.data(), 1, size, image) == size,
        "the restored image cannot be read");
  Check(now == std::vector<uint8_t>(data, data + size), "restoring left another image");
  std::fclose(image);
  return 0;
}
