#include "cli/destination.h"

#include "cli/file_system.h"
#include "image/platform.h"

namespace {

constexpr char kPartialSuffix[] = ".partial";
// A source has only so many names; past this many the folder is not one to write in.
constexpr uint32_t kPartialNames = 64;

// Closes the stream; false when a write to it failed. Output that is kept reaches the disk first
// (a failed flush is a failed write); a run that failed already needs no answer.
bool CloseStream(std::FILE*& stream, bool keep) {
  bool ok = !keep || (FlushToDisk(stream) && !std::ferror(stream));
  ok = std::fclose(stream) == 0 && ok;
  stream = nullptr;
  return ok;
}

}  // namespace

bool OpenBank(const std::string& path, std::FILE* source, Destination& destination) {
  destination.path = path;
  // Where no bank is (a dangling link included), creating the partial file tests the folder.
  if (!WritableOrMissing(path.c_str())) return false;
  // The source keeps its name: the partial file takes the first name that is not the source's.
  destination.partialPath = path + kPartialSuffix;
  for (uint32_t n = 2; MayNameFileOf(destination.partialPath.c_str(), source); ++n) {
    if (n > kPartialNames) return false;
    destination.partialPath = path + kPartialSuffix + std::to_string(n);
  }
  // A partial file left by a run that stopped, or a link: the new one never writes through it.
  RemoveFile(destination.partialPath.c_str());
  destination.stream = CreateNewFile(destination.partialPath.c_str());
  return destination.stream != nullptr;
}

bool OpenTarget(const char* path, Destination& destination) {
  destination.path = path;
  destination.stream = OpenRegularFile(path, "r+b");
  if (destination.stream == nullptr) return false;
  const int64_t size = StreamSize(destination.stream);
  if (size >= 0) {
    destination.oldSize = static_cast<uint64_t>(size);
    return true;
  }
  AbandonDestination(destination);
  return false;
}

void AbandonDestination(Destination& destination) {
  std::fclose(destination.stream);
  destination.stream = nullptr;
}

Ending EndDestination(Destination& destination, TransferResult result) {
  const bool extract = !destination.partialPath.empty();
  // Kept output reaches the disk before the bank takes its name or "Finished" shows.
  if (!CloseStream(destination.stream, result == TransferResult::kOk) &&
      result == TransferResult::kOk) {
    result = TransferResult::kWriteFailed;
  }
  if (extract) {
    if (result == TransferResult::kOk &&
        !MoveFileOnto(destination.partialPath.c_str(), destination.path.c_str())) {
      result = TransferResult::kWriteFailed;
    }
    if (result != TransferResult::kOk) {
      RemoveFile(destination.partialPath.c_str());
    } else if (!FlushFolderOf(destination.path)) {
      // The bank is in place and an earlier one gone: only the move may not outlast a power cut.
      result = TransferResult::kWriteFailed;
    }
    return {result, true};
  }
  // Nothing below the old end was written, so cutting the file back undoes the run.
  const bool restored =
      result == TransferResult::kOk || TruncateFile(destination.path.c_str(), destination.oldSize);
  return {result, restored};
}
