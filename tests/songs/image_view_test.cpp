// An image read through cached chunks hands out the image's bytes, zeros past its end, and tells
// when the stream could not be read.
#include "songs/image_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "image_builder.h"
#include "support/streams.h"
#include "support/whole_run.h"

TEST(ImageView, HandsOutTheImageAndZerosPastItsEnd) {
  // Three chunks and 3 bytes of pattern.
  const Bytes image = Pattern(3 * kViewChunkSize + 3, 9);
  std::FILE* file = StreamOf(image);
  static ImageView view;
  ASSERT_TRUE(OpenImageView(view, file));
  EXPECT_EQ(view.size, image.size());
  const struct {
    uint64_t offset;
    uint32_t count;
  } rows[] = {
      {0, 16},
      {kViewChunkSize - 5, 10},               // across the first chunk's end
      {2 * kViewChunkSize - 100, kViewSpan},  // across the second's, from a chunk read before
      {3 * kViewChunkSize - 2, 8},            // across the last whole chunk into the partial one
      {3 * kViewChunkSize + 1, 6},            // past the image's end
      {uint64_t{1} << 40, 4},                 // far past it
      {kViewChunkSize, kViewChunkSize},       // a whole chunk
      {257 * kViewChunkSize + 7, 3},          // evicts the second chunk, which shares its place
      {kViewChunkSize + 7, 3},                // and reads it again
      {258 * kViewChunkSize, 4},              // zeros where the third chunk goes
      {2 * kViewChunkSize - 2, 4},            // two bytes of the second chunk, two of the third
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.offset);
    const uint8_t* bytes = ViewBytes(view, row.offset, row.count);
    for (uint32_t k = 0; k < row.count; ++k) {
      const uint64_t at = row.offset + k;
      ASSERT_EQ(bytes[k], at < image.size() ? image[at] : 0) << k;
    }
  }
  EXPECT_EQ(ViewU32(view, 3 * kViewChunkSize + 1), 0u + image[0x6001] + (image[0x6002] << 8));
  EXPECT_FALSE(view.failed);
  std::fclose(file);
}

// A stream opened only for writing cannot be read: the bytes read as zeros and the view says so.
TEST(ImageView, AStreamThatCannotBeReadMarksTheViewFailed) {
  TempDir work;
  ASSERT_TRUE(WriteImageFile((work / "image.gba").string(), Pattern(64, 1)));
  std::FILE* file = std::fopen((work / "image.gba").string().c_str(), "ab");
  ASSERT_NE(file, nullptr);
  static ImageView view;
  ASSERT_TRUE(OpenImageView(view, file));
  EXPECT_EQ(ViewU32(view, 4), 0u);
  EXPECT_TRUE(view.failed);
  std::fclose(file);
}
