// The image a song is played from, as bytes in memory, and the bounded reads the renderer makes.
// Every pointer is followed only when it is a cartridge address and what it names lies wholly
// inside the image, so a song whose pointers lead elsewhere plays what it can and nothing more.
#pragma once

#include <cstdint>

#include "image/address.h"
#include "image/stream_io.h"

struct ImageSpan {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  // Set where the bytes are brought in only as they are first asked for (a listing reads a small
  // part of an image): makes the count bytes at a file offset present in bytes.
  void (*bringIn)(void* context, uint32_t offset, uint32_t count) = nullptr;
  void* context = nullptr;
};

// True when count bytes from the cartridge address address lie inside the image; they are then
// present.
inline bool Holds(ImageSpan image, uint32_t address, uint32_t count) {
  if (!IsCartridgePointer(address) || uint64_t{FileOffset(address)} + count > image.size) {
    return false;
  }
  if (image.bringIn != nullptr) image.bringIn(image.context, FileOffset(address), count);
  return true;
}

// The byte or word at a cartridge address the caller found Holds.
inline uint8_t ByteAt(ImageSpan image, uint32_t address) {
  return image.bytes[FileOffset(address)];
}
inline uint32_t WordAt(ImageSpan image, uint32_t address) {
  return LoadU32(image.bytes + FileOffset(address));
}
