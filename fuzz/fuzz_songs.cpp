// Fuzzes how sonvault-songs reads an arbitrary image in memory and measures moves of its songs.
// The song list is the one the locator finds, or else the address in the image's first word. The
// listing's measure of each song alone and of all songs must equal the engine's own measure, and so
// must the measure of songs chosen by the input's bytes, which must also be exactly what copying
// them into a small target appends; the measures allocate nothing. A move typed from the input's
// last bytes is read without harm.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "fuzz_support.h"
#include "image/address.h"
#include "image/audio_locator.h"
#include "image/platform.h"
#include "image/stream_io.h"
#include "songs/moves.h"
#include "songs/song_table.h"
#include "transfer/transfer.h"

namespace {

constexpr uint32_t kComparedSongs = 24;  // songs measured alone by the engine too, spread
constexpr uint32_t kSmallTarget = 0x2F0;
bool SameOutcome(TransferResult a, uint32_t aBytes, TransferResult b, uint32_t bBytes) {
  return a == b && (a != TransferResult::kOk || aBytes == bBytes);
}

std::FILE* NewFile() {
  std::FILE* file = std::tmpfile();
  Check(file != nullptr, "no temporary file");
  return file;
}

// A move typed from up to 12 of the input's last bytes.
void ReadTypedMove(const uint8_t* data, size_t size) {
  char text[13] = {};
  const size_t length = size < 12 ? size : 12;
  std::memcpy(text, data + size - length, length);
  Move move{};
  if (!ParseMove(text, move)) return;
  Check(std::strchr(text, '=') != nullptr, "a move without '=' is read");
  Check(move.player == kNoPlayer || move.player <= 0xFFFF, "a player past 0xFFFF is read");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The engine announces its phases on standard output; the fuzzer reports on standard error.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0) ReadTypedMove(data, size);
  std::FILE* source = NewFile();
  if (size > 0) Check(std::fwrite(data, 1, size, source) == size, "cannot write the source");
  std::fflush(source);
  uint64_t pointerOffset = 0;
  uint32_t list = LocateAudioData(source, &pointerOffset);
  if (list == 0 && size >= 4) list = LoadU32(data);
  static ImageView image;
  Check(OpenImageView(image, source) && image.size == size, "the image cannot be viewed");

  static SongTable table;
  const long before = gNewCalls;
  if (!ReadSongTable(image, list, pointerOffset, true, table)) {
    std::fclose(source);
    return 0;
  }
  Check(gNewCalls == before, "reading and measuring the songs allocated");
  static SongSelection selection;
  uint32_t bytes = 0;
  const uint32_t step = table.count / kComparedSongs + 1;
  for (uint32_t k = 0; k < table.count; k += step) {
    selection.count = 1;
    selection.songs[0] = k;
    const TransferResult result = MeasureAudioData(data, size, list, &selection, bytes);
    Check(SameOutcome(table.songs[k].copy, table.songs[k].bytes, result, bytes),
          "a song alone is measured otherwise than by the engine");
  }
  const TransferResult all = MeasureAudioData(data, size, list, nullptr, bytes);
  Check(SameOutcome(table.allCopy, table.allBytes, all, bytes),
        "all songs are measured otherwise than by the engine");

  // Songs picked by the input's bytes, repeats and the list's closing entry among them.
  selection.count = 1 + static_cast<uint32_t>(size % 5);
  for (uint32_t k = 0; k < selection.count; ++k) {
    selection.songs[k] = size == 0 ? 0 : data[(11 * k + 3) % size] % (table.count + 1);
  }
  uint32_t measured = 0;
  const long beforeMeasure = gNewCalls;
  const TransferResult result = MeasureSongs(image, list, &selection, measured);
  Check(gNewCalls == beforeMeasure, "the measure allocated");
  const TransferResult engine = MeasureAudioData(data, size, list, &selection, bytes);
  Check(SameOutcome(result, measured, engine, bytes),
        "chosen songs are measured otherwise than by the engine");
  std::FILE* target = NewFile();
  Check(ftruncate(fileno(target), kSmallTarget) == 0, "cannot size the target");
  const TransferResult copied =
      TransferAudioData(source, list, target, kSmallTarget | kCartridgeBase, false, &selection);
  Check(copied == result, "the copy of chosen songs ends otherwise than their measure");
  Check(copied != TransferResult::kOk || StreamSize(target) == kSmallTarget + measured,
        "the measure promises other bytes than the copy appends");
  std::fclose(target);
  Check(!image.failed, "a read of the image failed");
  std::fclose(source);
  return 0;
}
