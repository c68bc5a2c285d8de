// Fuzzes the song renderer on an arbitrary image, as sonvault-songs runs it: the input is the
// image, and its first word (file offset, modulo the size) names the song header. The Length
// column's measure must return within its budget; the render, over a short budget of samples,
// must write no more than asked, stop at the end it reports, and allocate nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "fuzz_support.h"
#include "image/address.h"
#include "image/stream_io.h"
#include "render/renderer.h"

namespace {

constexpr uint32_t kBlock = 700;  // not a divisor of a frame, so blocks end mid-frame
constexpr uint32_t kSampleBudget = 48000;
Renderer renderer;
int16_t out[2 * kBlock + 2];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > kWindowSize) return 0;
  const ImageSpan image{data, static_cast<uint32_t>(size)};
  const uint32_t header = kCartridgeBase | (LoadU32(data) % static_cast<uint32_t>(size));
  const long before = gNewCalls;
  uint64_t budget = 200000;
  const SongPass pass = MeasureSong(image, header, budget);
  Check(pass.kind != PassKind::kUnmeasured || budget == 0 || pass.frames == 0,
        "an unmeasured pass with budget left");
  renderer.muted = data[size - 1] & 0x3 ? 0 : 0x0F0F;
  const SongStart start = StartSong(renderer, image, header);
  if (start == SongStart::kOk || start == SongStart::kEmpty) {
    out[2 * kBlock] = 0x5A5A;
    out[2 * kBlock + 1] = 0x5A5A;
    uint64_t samples = 0;
    while (!SongEnded(renderer) && samples < kSampleBudget) {
      const uint32_t count = PlaySong(renderer, out, kBlock);
      Check(count <= kBlock, "more samples than asked");
      Check(count == kBlock || SongEnded(renderer), "a short block before the end");
      samples += count;
    }
    Check(out[2 * kBlock] == 0x5A5A && out[2 * kBlock + 1] == 0x5A5A, "written past the block");
  }
  Check(gNewCalls == before, "the renderer allocated");
  return 0;
}
