#include "support/streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "cli/file_system.h"
#include "image/stream_io.h"

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

std::FILE* StreamOf(const Bytes& bytes) {
  // Named by the process id and a count: std::tmpfile's names collide when several test
  // processes run at once under Wine. Windows removes the file when it is closed (mode D);
  // elsewhere it goes at once and lives on while open.
  static int count = 0;
#if defined(_WIN32)
  const std::string name = "sonvault-stream-" + std::to_string(_getpid());
  const char* mode = "w+bD";
#else
  const std::string name = "sonvault-stream-" + std::to_string(getpid());
  const char* mode = "w+b";
#endif
  const std::u8string path =
      (std::filesystem::temp_directory_path() / (name + "-" + std::to_string(++count))).u8string();
  const std::string utf8(path.begin(), path.end());
  std::FILE* stream = OpenFile(utf8.c_str(), mode);
  if (stream == nullptr) throw std::runtime_error("no temporary stream at " + utf8);
#if !defined(_WIN32)
  RemoveFile(utf8.c_str());
#endif
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::rewind(stream);
  return stream;
}

uint32_t WordAt(const Bytes& bytes, size_t offset) {
  static_cast<void>(bytes.at(offset + 3));  // a word running off the end fails the test
  return LoadU32(bytes.data() + offset);
}

TransferRun Extract(const Bytes& source, uint32_t songListAddress, const Bytes* target) {
  TransferRun run{TransferResult::kOk, {}, {}};
  std::FILE* in = StreamOf(source);
  std::FILE* out = StreamOf(target != nullptr ? *target : Bytes());
  testing::internal::CaptureStdout();
  const uint32_t base = target != nullptr ? static_cast<uint32_t>(target->size()) | 0x08000000 : 0;
  run.result = TransferAudioData(in, songListAddress, out, base, target == nullptr);
  run.console = testing::internal::GetCapturedStdout();  // flushes every stream first
  std::rewind(out);
  int byte;
  while ((byte = std::fgetc(out)) != EOF) run.output.push_back(static_cast<uint8_t>(byte));
  std::fclose(in);
  std::fclose(out);
  return run;
}

void ExpectSameBytes(const Bytes& want, const Bytes& got) {
  if (want == got) return;
  const auto [first, ignored] = std::mismatch(want.begin(), want.end(), got.begin(), got.end());
  ADD_FAILURE() << "outputs differ at offset 0x" << std::hex << (first - want.begin())
                << ": sizes 0x" << want.size() << " (want) and 0x" << got.size() << " (got)";
}
