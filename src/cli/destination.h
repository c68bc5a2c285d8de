// Where a run writes, from opening to the end of the run, so that a run that fails changes no
// file. Extract: the bank is written to "<bank path>.partial" and moved onto the bank path only
// when whole, so a failed run leaves an earlier bank as it was and the source may be that bank.
// The partial file is always created new, never written through a file or link already there:
// that is removed first. A source of that name (or a link to it) keeps it: the bank then takes
// "<bank path>.partial2" (or 3, ...).
// Insert: the target is opened for update and only grows; a failed run cuts it back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "transfer/transfer.h"

struct Destination {
  std::FILE* stream = nullptr;
  std::string path;         // the bank path or the target
  std::string partialPath;  // extract only
  uint64_t oldSize = 0;     // insert only: the target's size when it was opened
};

// Opens a bank at path for a run reading source. First finds out whether a bank already at path
// can be written without changing it, then removes whatever is at the partial path (never the
// source) and creates the partial file anew. False, with nothing left open or created, when
// either fails.
bool OpenBank(const std::string& path, std::FILE* source, Destination& destination);

// Opens the target at path for update and reads its size. False, with nothing left open, when it
// cannot be opened or sized.
bool OpenTarget(const char* path, Destination& destination);

// Closes a destination nothing was written to (the run ended before the transfer).
void AbandonDestination(Destination& destination);

struct Ending {
  TransferResult result;  // the transfer's, or kWriteFailed when closing or moving failed
  bool restored;          // false when a failed insert could not cut the target back
};

// Closes the destination after a transfer that returned result and keeps the output (waits until
// its bytes are on the disk, then moves the bank into place and flushes its folder) or undoes it
// (removes the partial bank, cuts the target back to oldSize). A failed flush fails the run.
Ending EndDestination(Destination& destination, TransferResult result);
