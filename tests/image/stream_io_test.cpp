#include "image/stream_io.h"

#include <gtest/gtest.h>

#include "support/streams.h"

TEST(StreamIo, WordsAreLittleEndian) {
  std::FILE* stream = StreamOf({0x4A, 0x68, 0x88, 0x88});
  EXPECT_EQ(ReadU32(stream), 0x8888684Au);
  std::fclose(stream);

  stream = StreamOf({});
  WriteU32(stream, 0x08000010);
  ExpectSameBytes({0x10, 0x00, 0x00, 0x08}, ReadAll(stream));
  std::fclose(stream);
}

TEST(StreamIo, ByteReadsAreUnsignedAndWritesAreSingleBytes) {
  std::FILE* stream = StreamOf({0x88});
  EXPECT_EQ(ReadU8(stream), 136u);
  std::fclose(stream);

  stream = StreamOf({});
  WriteU8(stream, 0xB1);
  ExpectSameBytes({0xB1}, ReadAll(stream));
  std::fclose(stream);
}

TEST(StreamIo, BytesPastTheEndReadAsZeroAndSetEndOfFile) {
  std::FILE* stream = StreamOf({0x12, 0x34});
  EXPECT_EQ(ReadU32(stream), 0x3412u);
  EXPECT_TRUE(std::feof(stream));
  std::fseek(stream, 0, SEEK_SET);
  EXPECT_FALSE(std::feof(stream));
  EXPECT_EQ(ReadU8(stream), 0x12u);
  std::fclose(stream);
}
