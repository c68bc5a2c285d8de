// The engine allocates nothing: every operator new of this test binary is counted, and the
// locator and whole transfers, succeeding and failing, must not add to the count. The C library's
// own stream buffers come from malloc, not from operator new, and are not the engine's.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "image/address.h"
#include "image/audio_locator.h"
#include "image_builder.h"
#include "support/streams.h"
#include "transfer/frame.h"

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

namespace {

constexpr uint32_t A(uint32_t offset) { return 0x08000000 + offset; }

// Every kind of block: shared song headers, tracks with address commands, a sample past the
// large-sample notice, a wave table, a nested list with a key map, a list naming itself.
ImageBuilder RichImage() {
  ImageBuilder image;
  image.PutSignature(0x40, A(0x100));
  image.PutSongList(0x100, {{A(0x200), 1}, {A(0x240), 2}, {A(0x200), 3}});
  image.PutSongHeader(0x200, 0x00A00002, A(0x400), {A(0x300), A(0x340)});
  image.PutSongHeader(0x240, 0x00A00001, A(0x480), {A(0x300)});
  image.PutTrack(0x300, {0xBC, 0x00, 0xB2, 0x08, 0x03, 0x00, 0x08, 0xCF, 0xB3});
  image.PutTrack(0x309, {0x07, 0x03, 0x00, 0x08, 0xB1});
  image.PutTrack(0x340, {0xCF, 0x3C, 0x60, 0xB1});
  image.PutInstrumentList(0x400, {{0x00003C00, A(0x1000), 0x00FF00FF},
                                  {0x00003C03, A(0x600), 0},
                                  {0x00000040, A(0x480), A(0x700)},
                                  {0x00000080, A(0x400), 0}});
  image.PutInstrumentList(0x480, {{0x00003C00, A(0x800), 0x00FF00FF}});
  image.PutWaveTable(0x600, Pattern(16, 0x10));
  image.PutKeyMap(0x700, Pattern(128, 0x20));
  image.PutSample(0x800, 0x40, Pattern(0x40, 0x30));
  image.PutSample(0x1000, 0x120000, Pattern(0x120000, 0x40));
  return image;
}

}  // namespace

TEST(Allocation, EngineAllocatesNothingWhileItRuns) {
  const Bytes rich = RichImage().bytes();
  const struct {
    const char* name;
    Bytes image;
    uint32_t targetSize;  // insert onto a target this long; 0 for extract
    TransferResult result;
  } rows[] = {
      {"extract", rich, 0, TransferResult::kOk},
      {"insert", rich, 0x301, TransferResult::kOk},
      {"insert crossing the window", rich, kWindowSize - 0x1000, TransferResult::kOutputTooLarge},
      {"extract, cut inside a track", RichImage().Resize(0x305).bytes(), 0,
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
    EXPECT_EQ(songList, A(0x100));
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(during, 0);
  }
}
