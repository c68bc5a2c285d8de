// In-process timings of the locator and of whole transfers on the images make_bench_image writes.
// Usage: sonvault_bench [benchmark flags] <source image> <target image>
// The transfers run with the library's default stream buffers (argument 0) and with larger ones
// set on both streams, so the effect of the buffer size shows apart from the process start.
// The engine's console lines go to the null device; the report goes to standard error.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "cli/file_system.h"
#include "image/audio_locator.h"
#include "image/platform.h"
#include "transfer/transfer.h"

namespace {

std::string gSource;
std::string gTarget;
std::string gBank;
uint32_t gSongList = 0;

constexpr size_t kMaxBuffer = 1 << 16;
char gSourceBuffer[kMaxBuffer];
char gDestinationBuffer[kMaxBuffer];

void UseBuffer(std::FILE* stream, char* buffer, int64_t size) {
  if (size > 0) std::setvbuf(stream, buffer, _IOFBF, static_cast<size_t>(size));
}

uint32_t LocateIn(const std::string& path) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return 0;
  const uint32_t found = LocateAudioData(in);
  std::fclose(in);
  return found;
}

// Extracts source into bank; false on any failure.
bool ExtractInto(const std::string& bank, int64_t buffer) {
  std::FILE* source = std::fopen(gSource.c_str(), "rb");
  std::FILE* destination = std::fopen(bank.c_str(), "wb");
  if (source == nullptr || destination == nullptr) return false;
  UseBuffer(source, gSourceBuffer, buffer);
  UseBuffer(destination, gDestinationBuffer, buffer);
  const TransferResult result = TransferAudioData(source, gSongList, destination, 0, true);
  std::fclose(source);
  return std::fclose(destination) == 0 && result == TransferResult::kOk;
}

void BM_LocateAudioData(benchmark::State& state) {
  std::FILE* in = std::fopen(gSource.c_str(), "rb");
  if (in == nullptr) {
    state.SkipWithError("cannot open the source image");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(LocateAudioData(in));
  }
  std::fclose(in);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(gSource)));
}
BENCHMARK(BM_LocateAudioData)->Unit(benchmark::kMillisecond);

void BM_TransferExtract(benchmark::State& state) {
  const std::string bank = gBank + ".run";
  for (auto _ : state) {
    // A fresh file each time, as the tool writes one: truncating the last run's dirty pages
    // would be timed too.
    state.PauseTiming();
    std::filesystem::remove(bank);
    state.ResumeTiming();
    if (!ExtractInto(bank, state.range(0))) {
      state.SkipWithError("extract failed");
      break;
    }
  }
  std::filesystem::remove(bank);
}
BENCHMARK(BM_TransferExtract)->Arg(0)->Arg(1 << 12)->Arg(1 << 16)->Unit(benchmark::kMillisecond);

// Insert only appends: cutting the target back to its old size after each run restores it.
void BM_TransferInsert(benchmark::State& state) {
  const std::string target = gBank + ".target";
  std::filesystem::copy_file(gTarget, target, std::filesystem::copy_options::overwrite_existing);
  const auto targetSize = std::filesystem::file_size(target);
  const uint32_t bankSongList = LocateIn(gBank);
  for (auto _ : state) {
    std::FILE* source = std::fopen(gBank.c_str(), "rb");
    std::FILE* destination = std::fopen(target.c_str(), "r+b");
    if (source == nullptr || destination == nullptr) {
      state.SkipWithError("cannot open the bank or the target");
      break;
    }
    UseBuffer(source, gSourceBuffer, state.range(0));
    UseBuffer(destination, gDestinationBuffer, state.range(0));
    const int64_t size = StreamSize(destination);
    const uint32_t base = static_cast<uint32_t>(size) | 0x08000000u;
    const TransferResult result = TransferAudioData(source, bankSongList, destination, base, false);
    std::fclose(source);
    std::fclose(destination);
    state.PauseTiming();
    TruncateFile(target.c_str(), targetSize);
    state.ResumeTiming();
    if (result != TransferResult::kOk) {
      state.SkipWithError("insert failed");
      break;
    }
  }
  std::filesystem::remove(target);
}
BENCHMARK(BM_TransferInsert)->Arg(0)->Arg(1 << 12)->Arg(1 << 16)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: sonvault_bench [benchmark flags] <source image> <target image>\n");
    return 2;
  }
  gSource = argv[1];
  gTarget = argv[2];
  gSongList = LocateIn(gSource);
  if (gSongList == 0) {
    std::fprintf(stderr, "sonvault_bench: no audio data in %s\n", argv[1]);
    return 1;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "sonvault_bench.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "sonvault_bench: cannot make a temporary directory\n");
    return 1;
  }
  const std::filesystem::path dir = pattern;
  gBank = (dir / "output.tbnk").string();
  // The console lines of every transfer would drown the report.
  if (std::freopen("/dev/null", "w", stdout) == nullptr || !ExtractInto(gBank, 0)) {
    std::fprintf(stderr, "sonvault_bench: cannot prepare the bank\n");
    return 1;
  }
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::filesystem::remove_all(dir);
  return 0;
}
