#include "cli/driver.h"

#include <cstdint>
#include <cstdio>

#include "cli/console.h"
#include "cli/destination.h"
#include "cli/file_system.h"
#include "cli/program_info.h"
#include "image/address.h"
#include "image/audio_locator.h"
#include "transfer/transfer.h"
#include "version.h"

namespace {

constexpr char kBankFileName[] = "output.tbnk";

constexpr char kTableError[] = "Error: too many distinct blocks (more than 1024)";
constexpr char kTrackError[] = "Error: track data runs past the end of the input file";
constexpr char kWriteError[] = "Error writing output file";

std::FILE* OpenSource(const char* path) {
  std::FILE* source = OpenRegularFile(path, "rb");
  // A file that opens but whose first byte cannot be read is refused as one that does not open.
  if (source != nullptr && std::fgetc(source) == EOF && std::ferror(source)) {
    std::fclose(source);
    return nullptr;
  }
  return source;
}

}  // namespace

const char* TransferErrorMessage(TransferResult result) {
  switch (result) {
    case TransferResult::kOutputTooLarge:
      return kWindowError;
    case TransferResult::kTooManyBlocks:
      return kTableError;
    case TransferResult::kTrackPastEnd:
      return kTrackError;
    case TransferResult::kReadFailed:
      return kReadInputError;
    case TransferResult::kOk:
    case TransferResult::kWriteFailed:
      break;
  }
  return kWriteError;
}

std::string OutputPathFor(const char* programPath) {
  const std::string program(programPath);
  const size_t slash = program.rfind('\\');
  const std::string directory = slash == std::string::npos ? "" : program.substr(0, slash + 1);
  return directory + kBankFileName;
}

int RunSonvault(int argc, char** argv) {
  if (PrintProgramInfo(kSonvaultInfo, argc, argv)) return kSuccess;
  std::puts("Sonvault, Release " SONVAULT_VERSION_MAJOR);
  std::puts("");
  if (argc <= 1) return Finish(kOpenInputError, kFailure);
  std::FILE* source = OpenSource(argv[1]);
  if (source == nullptr) return Finish(kOpenInputError, kFailure);

  bool readFailed = false;
  const uint32_t songListAddress = LocateAudioData(source, nullptr, &readFailed);
  if (songListAddress == 0) {
    return CloseAndFinish(source, readFailed ? kReadInputError : kNotFound, kFailure);
  }
  std::printf("Input File: %s\n", argv[1]);
  std::printf("Audio data located at: 0x0%X\n\n", songListAddress);

  const bool extractMode = argc <= 2;
  Destination destination;
  uint32_t baseAddress = 0;
  if (extractMode) {
    if (!OpenBank(OutputPathFor(argv[0]), source, destination)) {
      return CloseAndFinish(source, kOpenOutputError, kFailure);
    }
    std::printf("Output File: %s\n", destination.path.c_str());
    std::puts("");
  } else {
    if (!OpenTarget(argv[2], destination)) {
      return CloseAndFinish(source, kOpenOutputError, kFailure);
    }
    std::printf("Output File: %s\n", argv[2]);
    // A target this large has no address left in the window to show.
    if (destination.oldSize >= kWindowSize) {
      AbandonDestination(destination);
      return CloseAndFinish(source, kWindowError, kFailure);
    }
    baseAddress = static_cast<uint32_t>(destination.oldSize) | kCartridgeBase;
    // The engine aligns the base; show where the song list really lands.
    std::printf("Inserting audio data at: 0x0%X\n", AlignedBase(baseAddress));
    if (!AskToProceed()) {
      AbandonDestination(destination);
      std::fclose(source);
      return FinishAborted();
    }
    DrainAnswerLine();
  }

  std::puts("Beginning ripping...");
  const TransferResult result =
      TransferAudioData(source, songListAddress, destination.stream, baseAddress, extractMode);
  std::fclose(source);
  const Ending ending = EndDestination(destination, result);
  if (ending.result == TransferResult::kOk) return Finish("Finished", kSuccess);
  if (ending.restored) return Finish(TransferErrorMessage(ending.result), kFailure);
  std::puts(TransferErrorMessage(ending.result));
  return Finish(kRestoreError, kFailure);
}
