#include "cli/driver.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "image/address.h"
#include "support/small_image.h"
#include "support/tool_runner.h"

namespace {

const std::string kOldBank(0x100, 'o');
// The files each run starts with, and the ones that differ from them before or after a run.
const Files kStart = {{"broken.gba", kNoEndByte},
                      {"output.tbnk", kOldBank},
                      {"source.gba", kSource},
                      {"target.gba", kTarget}};
const Files kNone;
const Files kInserts = {{"target.gba", kInserted}};
const Files kExtracts = {{"output.tbnk", kBank}};

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

}  // namespace

// Every path ends with its last line and the closing pause, which reads one line.
TEST(Driver, TranscriptsAnswersAndFilesOfEveryPath) {
  const std::string odd(0x2F1, '\xEE');
  const Files oddTarget = {{"target.gba", odd}};
  const Files oddInserted = {
      {"target.gba", odd + std::string(1, '\0') +                              // 0x2F1 skipped, 0
                         Text(LittleEndian({0x08000304, 0x11223344, 0, 0})) +  // 0x2F2 song list
                         std::string(2, '\0') +                                // 0x302 fill
                         Text(LittleEndian({0x60504000, 0}))}};                // 0x304 song header
  const Files full = {{"target.gba", kTarget + std::string(kWindowSize - kTarget.size(), '\0')}};
  const std::string insert = "source.gba target.gba";
  const struct {
    const char* name;
    std::string args;
    std::string typed;
    std::string console;
    int status;
    const Files& after;
    const Files& before = kNone;
    size_t unread = 5;
    const char* program = "sonvault";
  } rows[] = {
      {"extract", "source.gba", kMore, kExtracted, 0, kExtracts},
      {"insert, y", insert, "y\n" + kMore, kConfirmed, 0, kInserts},
      {"insert, Y", insert, "Y\n" + kMore, kConfirmed, 0, kInserts},
      {"insert, yes", insert, "yes\n" + kMore, kConfirmed, 0, kInserts},
      {"insert, a third path ignored", insert + " broken.gba", "y\n" + kMore, kConfirmed, 0,
       kInserts},
      {"insert, n", insert, "n\n" + kMore, kRefused, 0, kNone},
      {"insert, leading blank", insert, " y\n" + kMore, kRefused, 0, kNone},
      {"insert, a bare line end: the next line is drained", insert, "\n" + kMore, kRefused, 0,
       kNone, kNone, 0},
      {"insert, end of input as the answer", insert, "", kRefused, 0, kNone, kNone, 0},
      {"insert onto an odd target: the data starts at the next even address", insert, "y\n" + kMore,
       kBanner + Found("source.gba") +
           "Output File: target.gba\nInserting audio data at: 0x080002F2\n" + kAsk + kPhases +
           "Finished\n",
       0, oddInserted, oddTarget},
      // No answer is read: the closing pause takes the "y" line.
      {"insert, a full cartridge target is refused before the prompt", insert, "y\n" + kMore,
       kBanner + Found("source.gba") +
           "Output File: target.gba\nInserting audio data at: 0x0A000000\n"
           "Error: output exceeds the 32 MiB cartridge space\n",
       1, full, full, 10},
      // The bank path is written only once the bank is whole, so a bank can be its own source.
      {"extract from the bank it replaces", "output.tbnk", kMore,
       kBanner +
           "Input File: output.tbnk\nAudio data located at: 0x08000010\n\n"
           "Output File: output.tbnk\n\n" +
           kPhases + "Finished\n",
       0, kExtracts, kExtracts},
      {"no source image", "", kMore, kNoInput, 1, kNone},
      {"source missing", "missing.gba", kMore, kNoInput, 1, kNone},
      {"signature not found", "target.gba", kMore, kBanner + "Could not locate audio data\n", 1,
       kNone},
      {"target missing", "source.gba missing.gba", kMore, kNoOutput, 1, kNone},
      {"extract, track past the end: the old bank stays", "broken.gba", kMore,
       kBanner + Found("broken.gba") + "Output File: output.tbnk\n\n" + kTrackFailed, 1, kNone},
      {"insert, track past the end: the target is cut back", "broken.gba target.gba", "y\n" + kMore,
       kBanner + Found("broken.gba") +
           "Output File: target.gba\nInserting audio data at: 0x080002F0\n" + kAsk + kTrackFailed,
       1, kNone},
      {"extract into a missing folder", "source.gba", kMore, kNoOutput, 1, kNone, kNone, 5,
       "nowhere/bank\\sonvault"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir work;
    Files want = kStart;
    for (const auto& [name, bytes] : row.before) want[name] = bytes;
    for (const auto& [name, bytes] : want) WriteFile(work / name, bytes);
    const ToolRun run = RunTool(work.path().string(), Split(row.args), row.typed, row.program);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.console, ConsoleText(row.console));
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.unread, row.unread);
    for (const auto& [name, bytes] : row.after) want[name] = bytes;
    ExpectSameFiles(want, FilesIn(work));
  }
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
