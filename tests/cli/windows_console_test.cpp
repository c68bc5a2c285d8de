// The tool as Windows starts it: a full backslash path as argv[0] (a double click or a file
// dropped on the program), answers arriving as "\r\n" lines, text-mode output, exit codes.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "image_builder.h"
#include "support/tool_runner.h"
#include "support/tool_runner_windows.h"

namespace fs = std::filesystem;

namespace {

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// One song whose header has no tracks and no instrument list.
const std::string kSource = Text(ImageBuilder(0x220)
                                     .PutSignature(0x40, 0x08000100)
                                     .PutSongList(0x100, {{0x08000200, 0x11223344}})
                                     .PutSongHeader(0x200, 0x60504000, 0, {})
                                     .bytes());
const std::string kBank = Text(LittleEndian({
    0x08000010, 0x8888684A, 0xD1042800, 0x1C191C08,  // 0x00 bank header
    0x08000020, 0x11223344, 0, 0,                    // 0x10 song list
    0x60504000, 0,                                   // 0x20 song header
}));
const std::string kTarget(0x2F0, '\xEE');

const std::string kHead =
    "Sonvault, Release 1\r\n\r\n"
    "Input File: source.gba\r\nAudio data located at: 0x08000100\r\n\r\n";
const std::string kAsk = kHead +
                         "Output File: target.gba\r\nInserting audio data at: 0x080002F0\r\n" +
                         "Are you sure you wish to proceed? (y/n)\r\n\r\n";
const std::string kRipping =
    "Beginning ripping...\r\nTransferring Song List...\r\nTransferring Song Data...\r\n"
    "Transferring Instrument Lists...\r\nTransferring Instrument Data...\r\n";

struct Work {
  TempDir dir;
  Work() {
    WriteFile(dir / "source.gba", kSource);
    WriteFile(dir / "target.gba", kTarget);
  }
  ProgramRun Type(const std::vector<std::string>& args, const std::string& typed) const {
    const ProgramRun run = RunProgram(ToolPath(), "sonvault", args, dir.path().string(), typed);
    EXPECT_EQ(run.errors, "");
    return run;
  }
};

}  // namespace

// Explorer starts the program by its full path from some other folder: the bank goes beside
// the program, not into the working directory.
TEST(WindowsConsole, BankLandsBesideTheProgramStartedByItsFullPath) {
  TempDir root;
  fs::create_directory(root.path() / "Sonvault Tools");
  fs::create_directory(root.path() / "my images");
  fs::create_directory(root.path() / "elsewhere");
  const std::string program = root / "Sonvault Tools\\sonvault.exe";
  const std::string source = root / "my images\\source.gba";
  ASSERT_EQ(program.find('/'), std::string::npos) << program;
  fs::copy_file(ToolPath(), program);
  WriteFile(source, kSource);

  const ProgramRun run = RunProgram(program, program, {source}, root / "elsewhere", "\r\n");
  const std::string bank = root / "Sonvault Tools\\output.tbnk";
  EXPECT_EQ(run.console, "Sonvault, Release 1\r\n\r\nInput File: " + source +
                             "\r\nAudio data located at: 0x08000100\r\n\r\nOutput File: " + bank +
                             "\r\n\r\n" + kRipping + "Finished\r\n");
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.unread, 0u);
  EXPECT_EQ(ReadFile(bank), kBank);
  EXPECT_TRUE(fs::is_empty(root.path() / "elsewhere"));
}

// The answer line is drained, then the closing pause waits for a line of its own; a bare line
// end as the answer hands the next line to the draining.
TEST(WindowsConsole, AnswersTypedAtTheConsole) {
  const struct {
    const char* answer;
    std::string console;
    size_t unread;
  } rows[] = {
      {"y\r\n", kAsk + kRipping + "Finished\r\n", 6},
      {"n\r\n", kAsk + "Aborted\r\n", 6},
      {"\r\n", kAsk + "Aborted\r\n", 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.answer)));
    Work work;
    const ProgramRun run =
        work.Type({"source.gba", "target.gba"}, row.answer + std::string("p\r\nq\r\nr\r\n"));
    EXPECT_EQ(run.console, row.console);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.unread, row.unread);
    const bool inserted = row.answer[0] == 'y';
    EXPECT_EQ(ReadFile(work.dir / "target.gba").size(), inserted ? 0x308u : kTarget.size());
  }
}

// Every path ends with the closing pause taking one line, then the exit code.
TEST(WindowsConsole, ClosingPauseAndExitCodes) {
  const struct {
    std::vector<std::string> args;
    std::string console;
    int status;
  } rows[] = {
      {{}, "Sonvault, Release 1\r\n\r\nError opening input file\r\n", 1},
      {{"target.gba"}, "Sonvault, Release 1\r\n\r\nCould not locate audio data\r\n", 1},
      {{"source.gba"}, kHead + "Output File: output.tbnk\r\n\r\n" + kRipping + "Finished\r\n", 0},
      {{"source.gba", "missing.gba"}, kHead + "Error opening output file\r\n", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.console);
    Work work;
    const ProgramRun run = work.Type(row.args, "\r\nnext\r\n");
    EXPECT_EQ(run.console, row.console);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.unread, 6u);
  }
}

// A failed insert cuts the target back to its old bytes.
TEST(WindowsConsole, FailedInsertLeavesTheTargetByteIdentical) {
  std::string nearlyFull(0x1FFFFFE, '\0');
  nearlyFull.replace(nearlyFull.size() - 4, 4, "tail");
  const std::string noEndByte = Text(ImageBuilder()
                                         .PutSignature(0x40, 0x08000100)
                                         .PutSongList(0x100, {{0x08000200, 0x11223344}})
                                         .PutSongHeader(0x200, 0x00000001, 0, {0x08000210})
                                         .PutTrack(0x210, {0x01, 0x02})
                                         .bytes());
  const struct {
    const char* name;
    std::string source;
    std::string target;
    std::string console;
  } rows[] = {
      {"output crossing 32 MiB", kSource, nearlyFull,
       kHead + "Output File: target.gba\r\nInserting audio data at: 0x09FFFFFE\r\n" +
           "Are you sure you wish to proceed? (y/n)\r\n\r\nBeginning ripping...\r\n" +
           "Transferring Song List...\r\nError: output exceeds the 32 MiB cartridge space\r\n"},
      {"track without an end byte", noEndByte, kTarget,
       kAsk + "Beginning ripping...\r\nTransferring Song List...\r\nTransferring Song Data...\r\n" +
           "Error: track data runs past the end of the input file\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Work work;
    WriteFile(work.dir / "source.gba", row.source);
    WriteFile(work.dir / "target.gba", row.target);
    const ProgramRun run = work.Type({"source.gba", "target.gba"}, "y\r\n\r\n");
    EXPECT_EQ(run.console, row.console);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.unread, 0u);
    EXPECT_TRUE(ReadFile(work.dir / "target.gba") == row.target);
  }
}
#endif
