#include "cli/driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "image/address.h"
#include "support/small_image.h"
#include "support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

const std::string kOldBank(0x100, 'o');
const Files kStart = {{"broken.gba", kNoEndByte},
                      {"output.tbnk", kOldBank},
                      {"source.gba", kSource},
                      {"target.gba", kTarget}};

std::string Found(const std::string& source) {
  return "Input File: " + source + "\nAudio data located at: 0x08000100\n\n";
}
const std::string kAsk = "Are you sure you wish to proceed? (y/n)\n\n";
const std::string kInsertHead = kBanner + Found("source.gba") +
                                "Output File: target.gba\nInserting audio data at: 0x080002F0\n";
const std::string kExtracted =
    kBanner + Found("source.gba") + "Output File: output.tbnk\n\n" + kPhases + "Finished\n";
const std::string kConfirmed = kInsertHead + kAsk + kPhases + "Finished\n";
const std::string kRefused = kInsertHead + kAsk + "Aborted\n";
const std::string kNoInput = kBanner + "Error opening input file\n";
const std::string kNoOutput = kBanner + Found("source.gba") + "Error opening output file\n";
const std::string kTrackFailed =
    "Beginning ripping...\nTransferring Song List...\nTransferring Song Data...\n"
    "Error: track data runs past the end of the input file\n";

// Lines typed after the answer: the closing pause takes the first, the second stays unread.
const std::string kMore = "next\nleft\n";

std::vector<std::string> Split(const std::string& words) {
  std::istringstream in(words);
  return {std::istream_iterator<std::string>(in), {}};
}

// A work directory holding kStart.
struct Work {
  TempDir dir;
  Work() {
    for (const auto& [name, bytes] : kStart) WriteFile(dir / name, bytes);
  }
  ToolRun Run(const std::string& args, const std::string& typed,
              const std::string& program = "sonvault") const {
    const ToolRun run = RunTool(dir.path().string(), Split(args), typed, program);
    EXPECT_EQ(run.errors, "");
    return run;
  }
};

}  // namespace

// Every path ends with its last line and the closing pause, which reads one line.
TEST(Driver, TranscriptsAnswersAndFilesOfEveryPath) {
  enum Effect { kNothing, kInserts, kExtracts };
  const std::string insert = "source.gba target.gba";
  const struct {
    const char* name;
    std::string args;
    std::string typed;
    std::string console;
    int status;
    Effect effect;
    size_t unread = 5;
    const char* program = "sonvault";
  } rows[] = {
      {"extract", "source.gba", kMore, kExtracted, 0, kExtracts},
      {"insert, y", insert, "y\n" + kMore, kConfirmed, 0, kInserts},
      {"insert, Y", insert, "Y\n" + kMore, kConfirmed, 0, kInserts},
      {"insert, yes", insert, "yes\n" + kMore, kConfirmed, 0, kInserts},
      {"insert, a third path ignored", insert + " broken.gba", "y\n" + kMore, kConfirmed, 0,
       kInserts},
      {"insert, n", insert, "n\n" + kMore, kRefused, 0, kNothing},
      {"insert, leading blank", insert, " y\n" + kMore, kRefused, 0, kNothing},
      {"insert, a bare line end: the next line is drained", insert, "\n" + kMore, kRefused, 0,
       kNothing, 0},
      {"insert, end of input as the answer", insert, "", kRefused, 0, kNothing, 0},
      {"no source image", "", kMore, kNoInput, 1, kNothing},
      {"source missing", "missing.gba", kMore, kNoInput, 1, kNothing},
      {"signature not found", "target.gba", kMore, kBanner + "Could not locate audio data\n", 1,
       kNothing},
      {"target missing", "source.gba missing.gba", kMore, kNoOutput, 1, kNothing},
      {"extract, track past the end: the old bank stays", "broken.gba", kMore,
       kBanner + Found("broken.gba") + "Output File: output.tbnk\n\n" + kTrackFailed, 1, kNothing},
      {"insert, track past the end: the target is cut back", "broken.gba target.gba", "y\n" + kMore,
       kBanner + Found("broken.gba") +
           "Output File: target.gba\nInserting audio data at: 0x080002F0\n" + kAsk + kTrackFailed,
       1, kNothing},
      {"extract into a missing folder", "source.gba", kMore, kNoOutput, 1, kNothing, 5,
       "nowhere/bank\\sonvault"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Work work;
    const ToolRun run = work.Run(row.args, row.typed, row.program);
    EXPECT_EQ(run.console, ConsoleText(row.console));
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.unread, row.unread);
    Files want = kStart;
    if (row.effect == kInserts) want["target.gba"] = kInserted;
    if (row.effect == kExtracts) want["output.tbnk"] = kBank;
    ExpectSameFiles(want, FilesIn(work.dir));
  }
}

TEST(Driver, OddTargetGetsDataAtTheNextEvenAddress) {
  Work work;
  const std::string odd(0x2F1, '\xEE');
  WriteFile(work.dir / "target.gba", odd);
  const ToolRun run = work.Run("source.gba target.gba", "y\n");
  EXPECT_EQ(run.console,
            ConsoleText(kBanner + Found("source.gba") +
                        "Output File: target.gba\nInserting audio data at: 0x080002F2\n" + kAsk +
                        kPhases + "Finished\n"));
  EXPECT_EQ(run.status, 0);
  Files want = kStart;
  want["target.gba"] = odd + std::string(1, '\0') +  // 0x2F1 skipped, stays 0
                       Text(LittleEndian({0x08000304, 0x11223344, 0, 0})) +  // 0x2F2 song list
                       std::string(2, '\0') +                                // 0x302 fill
                       Text(LittleEndian({0x60504000, 0}));                  // 0x304 song header
  ExpectSameFiles(want, FilesIn(work.dir));
}

TEST(Driver, FullCartridgeTargetIsRefusedBeforeThePrompt) {
  Work work;
  fs::resize_file(work.dir / "target.gba", kWindowSize);
  // No answer is read: the closing pause takes the "y" line, the next stays unread.
  const ToolRun run = work.Run("source.gba target.gba", "y\nnext\n");
  EXPECT_EQ(run.console,
            ConsoleText(kBanner + Found("source.gba") +
                        "Output File: target.gba\nInserting audio data at: 0x0A000000\n"
                        "Error: output exceeds the 32 MiB cartridge space\n"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.unread, 5u);
  Files want = kStart;
  want["target.gba"] = kTarget + std::string(kWindowSize - kTarget.size(), '\0');
  ExpectSameFiles(want, FilesIn(work.dir));
}

// The bank path is written only once the bank is whole, so a bank can be its own source.
TEST(Driver, ExtractFromTheBankItReplaces) {
  Work work;
  WriteFile(work.dir / "output.tbnk", kBank);
  const ToolRun run = work.Run("output.tbnk", "");
  EXPECT_EQ(run.console,
            ConsoleText(kBanner +
                        "Input File: output.tbnk\nAudio data located at: 0x08000010\n\n"
                        "Output File: output.tbnk\n\n" +
                        kPhases + "Finished\n"));
  EXPECT_EQ(run.status, 0);
  Files want = kStart;
  want["output.tbnk"] = kBank;
  ExpectSameFiles(want, FilesIn(work.dir));
}

TEST(Driver, BankGoesUpToTheLastBackslashOfTheProgramPath) {
  const struct {
    const char* program;
    const char* bank;
  } rows[] = {
      {"C:\\tools\\bank\\x.exe", "C:\\tools\\bank\\output.tbnk"},
      {"x.exe", "output.tbnk"},
      {"C:/tools/x.exe", "output.tbnk"},
      {"a\\b/c.exe", "a\\output.tbnk"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.program);
    EXPECT_EQ(OutputPathFor(row.program), row.bank);
  }
}

// Here a backslash is part of a file name, so the bank is one file in the work directory.
TEST(Driver, ProgramStartedWithABackslashInItsName) {
#if defined(_WIN32)
  GTEST_SKIP() << "a backslash separates directories here";
#endif
  Work work;
  const ToolRun run = work.Run("source.gba", "", "dir\\sonvault");
  EXPECT_EQ(run.console, kBanner + Found("source.gba") + "Output File: dir\\output.tbnk\n\n" +
                             kPhases + "Finished\n");
  EXPECT_EQ(run.status, 0);
  Files want = kStart;
  want["dir\\output.tbnk"] = kBank;
  ExpectSameFiles(want, FilesIn(work.dir));
}
