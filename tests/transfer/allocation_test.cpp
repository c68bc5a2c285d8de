// The engine allocates nothing: every operator new of this test binary is counted, and the
// locator and whole transfers, succeeding and failing, must not add to the count. The C library's
// own stream buffers come from malloc, not from operator new, and are not the engine's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "image/address.h"
#include "image/audio_locator.h"
#include "support/small_image.h"
#include "support/streams.h"
#include "transfer/transfer.h"

namespace {

// Plain and array forms, with and without nothrow, allocate through malloc and free through free,
// so the sanitizers see one consistent pair. Over-aligned forms are left to the library.
long newCalls = 0;

void* Allocate(std::size_t size) {
  ++newCalls;
  return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

TEST(Allocation, EngineAllocatesNothingWhileItRuns) {
  // With a sample past the large-sample notice, read from beyond the end of the source.
  const Bytes rich = EveryKindOfBlock().PutSample(0x08000420, 0x00100001, {}).bytes();
  const struct {
    const char* name;
    Bytes image;
    uint32_t targetSize;  // insert onto a target this long; 0 for extract
    TransferResult result;
  } rows[] = {
      {"extract", rich, 0, TransferResult::kOk},
      {"insert", rich, 0x301, TransferResult::kOk},
      {"insert crossing the window", rich, kWindowSize - 0x1000, TransferResult::kOutputTooLarge},
      {"extract, cut inside a track", EveryKindOfBlock().Resize(0x605).bytes(), 0,
       TransferResult::kTrackPastEnd},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::FILE* source = StreamOf(row.image);
    std::FILE* destination = StreamOf({});
    ASSERT_NE(source, nullptr);
    ASSERT_NE(destination, nullptr);
    const bool extract = row.targetSize == 0;
    if (!extract) {  // sparse: one byte at the end
      std::fseek(destination, static_cast<long>(row.targetSize - 1), SEEK_SET);
      std::fputc(0xEE, destination);
    }
    testing::internal::CaptureStdout();  // the phase lines
    const long before = newCalls;
    ::operator delete(::operator new(1));  // a call the compiler may not leave out
    const long probe = newCalls - before;  // the counter sees this binary's allocations
    const uint32_t songList = LocateAudioData(source);
    const TransferResult result = TransferAudioData(
        source, songList, destination, extract ? 0 : row.targetSize | kCartridgeBase, extract);
    const long during = newCalls - before - probe;
    testing::internal::GetCapturedStdout();
    std::fclose(source);
    std::fclose(destination);
    EXPECT_EQ(probe, 1);
    EXPECT_EQ(songList, 0x08000100u);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(during, 0);
  }
}
