#include "cli/driver.h"

#include <cstdint>
#include <cstdio>

#include "image/address.h"
#include "image/audio_locator.h"
#include "image/platform.h"
#include "transfer/frame.h"

namespace {

constexpr char kBankFileName[] = "output.tbnk";
constexpr char kPartialSuffix[] = ".partial";
constexpr int kSuccess = 0;
constexpr int kFailure = 1;

constexpr char kOpenInputError[] = "Error opening input file";
constexpr char kNotFound[] = "Could not locate audio data";
constexpr char kOpenOutputError[] = "Error opening output file";
constexpr char kWindowError[] = "Error: output exceeds the 32 MiB cartridge space";
constexpr char kTableError[] = "Error: too many distinct blocks (more than 1024)";
constexpr char kTrackError[] = "Error: track data runs past the end of the input file";
constexpr char kWriteError[] = "Error writing output file";

const char* TransferErrorMessage(TransferResult result) {
  switch (result) {
    case TransferResult::kOutputTooLarge:
      return kWindowError;
    case TransferResult::kTooManyBlocks:
      return kTableError;
    case TransferResult::kTrackPastEnd:
      return kTrackError;
    case TransferResult::kOk:
    case TransferResult::kWriteFailed:
      break;
  }
  return kWriteError;
}

int ReadConsoleChar() {
  std::fflush(stdout);
  return std::getchar();
}

// Every run ends here: the last line, then one character read before the process ends.
int Finish(const char* line, int status) {
  std::puts(line);
  ReadConsoleChar();
  return status;
}

// Discards the rest of the answer line; ends at end of input too.
void DrainAnswerLine() {
  for (;;) {
    const int c = std::getchar();
    if (c == EOF || c == '\n' || c == '\r') return;
  }
}

bool FileExists(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

// Finds out whether the bank path can be written without truncating what is there; a file the
// probe had to create is removed again, so a failed run leaves the path as it found it.
bool CanWriteBankPath(const std::string& path) {
  const bool existed = FileExists(path);
  std::FILE* probe = std::fopen(path.c_str(), "ab");
  if (probe == nullptr) return false;
  std::fclose(probe);
  if (!existed) std::remove(path.c_str());
  return true;
}

// Flushes and closes the destination; false when any write to it failed.
bool CloseDestination(std::FILE* destination) {
  bool ok = std::fflush(destination) == 0 && !std::ferror(destination);
  ok = std::fclose(destination) == 0 && ok;
  return ok;
}

}  // namespace

std::string OutputPathFor(const char* programPath) {
  const std::string program(programPath);
  const size_t slash = program.rfind('\\');
  const std::string directory = slash == std::string::npos ? "" : program.substr(0, slash + 1);
  return directory + kBankFileName;
}

int RunSonvault(int argc, char** argv) {
  std::puts("Sonvault, Release 1");
  std::puts("");
  if (argc <= 1) return Finish(kOpenInputError, kFailure);
  std::FILE* source = std::fopen(argv[1], "rb");
  // A directory opens on some systems but cannot be read.
  if (source != nullptr && std::fgetc(source) == EOF && std::ferror(source)) {
    std::fclose(source);
    source = nullptr;
  }
  if (source == nullptr) return Finish(kOpenInputError, kFailure);

  const uint32_t songListAddress = LocateAudioData(source);
  if (songListAddress == 0) return Finish(kNotFound, kFailure);
  std::printf("Input File: %s\n", argv[1]);
  std::printf("Audio data located at: 0x0%X\n\n", songListAddress);

  const bool extractMode = argc <= 2;
  std::string outputPath;
  std::string partialPath;
  std::FILE* destination = nullptr;
  uint32_t baseAddress = 0;
  int64_t targetSize = 0;
  if (extractMode) {
    // The bank is written beside its final path and moved there only once it is whole, so the
    // source may be the bank path itself and a failed run leaves an old bank as it was.
    outputPath = OutputPathFor(argv[0]);
    partialPath = outputPath + kPartialSuffix;
    if (CanWriteBankPath(outputPath)) destination = std::fopen(partialPath.c_str(), "wb");
    if (destination == nullptr) return Finish(kOpenOutputError, kFailure);
    std::printf("Output File: %s\n", outputPath.c_str());
    std::puts("");
  } else {
    outputPath = argv[2];
    destination = std::fopen(argv[2], "r+b");
    if (destination != nullptr) targetSize = StreamSize(destination);
    if (destination == nullptr || targetSize < 0) return Finish(kOpenOutputError, kFailure);
    baseAddress = static_cast<uint32_t>(targetSize) | kCartridgeBase;
    // The song list starts on an even address; show where it really lands.
    const uint32_t shownAddress = baseAddress + (baseAddress & 1u);
    std::printf("Output File: %s\n", argv[2]);
    std::printf("Inserting audio data at: 0x0%X\n", shownAddress);
    if (targetSize >= static_cast<int64_t>(kWindowSize)) return Finish(kWindowError, kFailure);
    std::puts("Are you sure you wish to proceed? (y/n)");
    const int answer = ReadConsoleChar();
    std::putchar('\n');
    if (answer != 'y' && answer != 'Y') {
      std::puts("Aborted");
      DrainAnswerLine();
      ReadConsoleChar();
      return kSuccess;
    }
    DrainAnswerLine();
  }

  std::puts("Beginning ripping...");
  TransferResult result =
      TransferAudioData(source, songListAddress, destination, baseAddress, extractMode);
  std::fclose(source);
  if (!CloseDestination(destination) && result == TransferResult::kOk) {
    result = TransferResult::kWriteFailed;
  }
  if (extractMode) {
    if (result == TransferResult::kOk && !MoveFileOnto(partialPath.c_str(), outputPath.c_str())) {
      result = TransferResult::kWriteFailed;
    }
    if (result != TransferResult::kOk) std::remove(partialPath.c_str());
  } else if (result != TransferResult::kOk) {
    // Nothing below the old end was written; cutting the file back undoes the run.
    TruncateFile(outputPath.c_str(), static_cast<uint64_t>(targetSize));
  }
  if (result != TransferResult::kOk) return Finish(TransferErrorMessage(result), kFailure);
  return Finish("Finished", kSuccess);
}
