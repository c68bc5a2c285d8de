// An answer ended by "\r\n", as a file written on Windows holds it: the answer line ends at the
// "\r", and the closing key press reads the "\n". POSIX only: on Windows the C runtime turns
// "\r\n" into "\n" before the tool reads it (the golden case insert-y-cr-alone-ends-the-answer
// holds the "\r" alone, on every platform).
#include <gtest/gtest.h>

#include <filesystem>

#include "support/whole_run.h"

#if !defined(_WIN32)
TEST(AnswerLine, EndedByCrLfItEndsAtTheCrAndTheClosingKeyReadsTheLf) {
  for (const char* typed : {"y\r\nmore\n", "n\r\nmore\n"}) {
    SCOPED_TRACE(typed);
    TempDir work;
    std::filesystem::copy_file(std::filesystem::path(SONVAULT_SOURCE_DIR) / "examples/demo.gba",
                               work / "demo.gba");
    WriteFile(work / "target.gba", std::string(0x2F0, 'Z'));
    EXPECT_EQ(RunInProcess(work.path(), {"demo.gba", "target.gba"}, typed).unread, 5u);  // "more\n"
  }
}
#endif
