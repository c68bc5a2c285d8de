#include "songs/image_view.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "image/address.h"
#include "image/platform.h"
#include "image/stream_io.h"

namespace {

constexpr uint64_t kNoChunk = UINT64_MAX;
uint32_t gOpenings = 0;

// The chunk that starts at start, read on a miss.
const uint8_t* Chunk(ImageView& view, uint64_t start) {
  const uint32_t slot = static_cast<uint32_t>(start / kViewChunkSize % kViewChunks);
  uint8_t* bytes = view.chunks[slot];
  if (view.chunkStart[slot] == start) return bytes;
  view.chunkStart[slot] = start;
  size_t got = 0;
  if (start < view.size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kViewChunkSize, view.size - start));
    if (SeekStream(view.file, start)) got = std::fread(bytes, 1, want, view.file);
    if (got < want) view.failed = true;
  }
  std::fill(bytes + got, bytes + kViewChunkSize, uint8_t{0});
  return bytes;
}

}  // namespace

bool OpenImageView(ImageView& view, std::FILE* file) {
  view.file = file;
  view.failed = false;
  view.serial = ++gOpenings;
  std::fill(std::begin(view.chunkStart), std::end(view.chunkStart), kNoChunk);
  const int64_t size = StreamSize(file);
  // No address reaches past the cartridge window, so nothing there is read.
  view.size = size < 0 ? 0 : std::min(static_cast<uint64_t>(size), uint64_t{kWindowSize});
  return size >= 0;
}

const uint8_t* ViewBytes(ImageView& view, uint64_t offset, uint32_t count) {
  const uint64_t start = offset / kViewChunkSize * kViewChunkSize;
  const uint64_t inChunk = offset - start;
  if (inChunk + count <= kViewChunkSize) return Chunk(view, start) + inChunk;
  const uint32_t first = static_cast<uint32_t>(kViewChunkSize - inChunk);
  std::memcpy(view.scratch, Chunk(view, start) + inChunk, first);
  std::memcpy(view.scratch + first, Chunk(view, start + kViewChunkSize), count - first);
  return view.scratch;
}

uint32_t ViewU32(ImageView& view, uint64_t offset) { return LoadU32(ViewBytes(view, offset, 4)); }

bool OpenLazyImage(LazyImage& image, ImageView& view) {
  image.view = &view;
  std::fill(std::begin(image.present), std::end(image.present), false);
  // calloc: a large block comes from the system already zeroed, page by page as it is touched.
  image.bytes =
      static_cast<uint8_t*>(std::calloc(view.size == 0 ? 1 : static_cast<size_t>(view.size), 1));
  return image.bytes != nullptr;
}

void CloseLazyImage(LazyImage& image) {
  std::free(image.bytes);
  image.bytes = nullptr;
}

void BringInChunks(void* context, uint32_t offset, uint32_t count) {
  LazyImage& image = *static_cast<LazyImage*>(context);
  const uint64_t end = uint64_t{offset} + (count == 0 ? 1 : count);
  for (uint64_t chunk = offset / kViewChunkSize; chunk * kViewChunkSize < end; ++chunk) {
    if (image.present[chunk]) continue;
    image.present[chunk] = true;
    const uint64_t start = chunk * kViewChunkSize;
    const uint64_t size = std::min<uint64_t>(kViewChunkSize, image.view->size - start);
    std::memcpy(image.bytes + start, ViewBytes(*image.view, start, static_cast<uint32_t>(size)),
                static_cast<size_t>(size));
  }
}
