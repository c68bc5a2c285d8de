// An image read through a few hundred cached 8 KiB chunks of it: a listing or a move reads song
// lists, headers, tracks, instrument lists and the headers of samples, a small part of an image
// scattered over it, and never the samples' data, so it need not hold the whole image in memory.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/address.h"

inline constexpr uint32_t kViewChunkSize = 1 << 13;
inline constexpr uint32_t kViewChunks = 256;
inline constexpr uint32_t kViewSpan = 4096;  // the most bytes one call hands out

struct ImageView {
  std::FILE* file;
  uint64_t size;    // the file's size when the view was opened
  bool failed;      // a seek or read failed: the bytes handed out since may be wrong
  uint32_t serial;  // tells one opening of a view from every other in the process
  uint64_t chunkStart[kViewChunks];
  uint8_t chunks[kViewChunks][kViewChunkSize];
  uint8_t scratch[kViewSpan];
};

// Binds the view to an open image stream; false when its size cannot be learnt.
bool OpenImageView(ImageView& view, std::FILE* file);

// count bytes from file offset offset, zeros past the image's end, valid until the next call: at
// most kViewSpan, or up to the end of the chunk that holds offset.
const uint8_t* ViewBytes(ImageView& view, uint64_t offset, uint32_t count);

// The little-endian word at a file offset; bytes past the end read as 0.
uint32_t ViewU32(ImageView& view, uint64_t offset);

// The image as bytes at their file offsets, each chunk copied in from a view the first time it is
// asked for (see ImageSpan): a buffer the size of the image whose untouched pages the system never
// hands out, so a listing's memory grows only by what its songs' tracks occupy.
inline constexpr uint32_t kWindowChunks = kWindowSize / kViewChunkSize;

struct LazyImage {
  ImageView* view = nullptr;
  uint8_t* bytes = nullptr;  // zeroed, view->size bytes
  bool present[kWindowChunks];
};

// Binds image to an open view and allocates its buffer; false when it cannot be had.
bool OpenLazyImage(LazyImage& image, ImageView& view);
void CloseLazyImage(LazyImage& image);

// What the renderer's span hands the loader: copies in the chunks that hold count bytes at offset.
void BringInChunks(void* image, uint32_t offset, uint32_t count);
