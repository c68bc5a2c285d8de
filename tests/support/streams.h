// Streams over test bytes, in-process transfers, and readable comparisons of binary output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image_builder.h"
#include "transfer/transfer.h"

// A temporary binary stream holding bytes, positioned at its start; closing it removes it. Throws
// (failing the test) when it cannot be made.
std::FILE* StreamOf(const Bytes& bytes);

// The little-endian word at offset, at any alignment (out of range past the end).
uint32_t WordAt(const Bytes& bytes, size_t offset);

// Fails with the first differing offset.
void ExpectSameBytes(const Bytes& want, const Bytes& got);

// One in-process transfer: its result, the destination's bytes afterwards, what it printed.
struct TransferRun {
  TransferResult result;
  Bytes output;
  std::string console;
};

// Extract mode into an empty destination, or with a target insert mode onto its end (based where
// the driver bases it).
TransferRun Extract(const Bytes& source, uint32_t songListAddress, const Bytes* target = nullptr);
