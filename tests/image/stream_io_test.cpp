#include "image/stream_io.h"

#include <gtest/gtest.h>

#include "support/streams.h"

TEST(StreamIo, ReadsAreLittleEndianUnsignedAndZeroPastTheEnd) {
  std::FILE* stream = StreamOf({0x88, 0x4A, 0x68, 0x88, 0x88, 0x12, 0x34});
  EXPECT_EQ(ReadU8(stream), 136u);
  EXPECT_EQ(ReadU32(stream), 0x8888684Au);
  EXPECT_FALSE(std::feof(stream));
  EXPECT_EQ(ReadU32(stream), 0x3412u);
  EXPECT_TRUE(std::feof(stream));
  std::fseek(stream, 0, SEEK_SET);
  EXPECT_EQ(ReadU8(stream), 0x88u);
  std::fclose(stream);
}

TEST(StreamIo, WritesAreLittleEndianSingleBytes) {
  std::FILE* stream = StreamOf({});
  WriteU32(stream, 0x08000010);
  WriteU8(stream, 0xB1);
  ExpectSameBytes({0x10, 0x00, 0x00, 0x08, 0xB1}, ReadAll(stream));
  std::fclose(stream);
}
