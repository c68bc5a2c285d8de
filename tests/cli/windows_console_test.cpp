// The tool as only Windows starts it: argv[0] a full backslash path, as a double click or a file
// dropped on the program gives it, and a failed insert cut back at the end of the 32 MiB window.
// The driver tests run here too, with every answer and pause line typed as "\r\n".
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/small_image.h"
#include "support/tool_runner.h"

namespace fs = std::filesystem;

// Started by its full path from some other folder: the bank goes beside the program, not into
// the working directory. The tool knows its place from argv[0] alone.
TEST(WindowsConsole, BankLandsBesideTheProgramStartedByItsFullPath) {
  TempDir root;
  fs::create_directory(root.path() / "Sonvault Tools");
  fs::create_directory(root.path() / "my images");
  fs::create_directory(root.path() / "elsewhere");
  const std::string program = root / "Sonvault Tools\\sonvault.exe";
  const std::string source = root / "my images\\source.gba";
  ASSERT_EQ(program.find('/'), std::string::npos) << program;
  WriteFile(source, kSource);

  const ToolRun run = RunTool(root / "elsewhere", {source}, "\n", program);
  const std::string bank = root / "Sonvault Tools\\output.tbnk";
  EXPECT_EQ(run.console, ConsoleText(kBanner + "Input File: " + source +
                                     "\nAudio data located at: 0x08000100\n\nOutput File: " + bank +
                                     "\n\n" + kPhases + "Finished\n"));
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.unread, 0u);
  EXPECT_EQ(ReadFile(bank), kBank);
  EXPECT_TRUE(fs::is_empty(root.path() / "elsewhere"));
}

// The song list fills the window to its end and the song header would cross it: the target is cut
// back to its old bytes.
TEST(WindowsConsole, FailedInsertLeavesTheTargetByteIdentical) {
  TempDir work;
  std::string nearlyFull(0x1FFFFF0, '\0');
  nearlyFull.replace(nearlyFull.size() - 4, 4, "tail");
  WriteFile(work / "source.gba", kSource);
  WriteFile(work / "target.gba", nearlyFull);
  const ToolRun run = RunTool(work.path().string(), {"source.gba", "target.gba"}, "y\n\n");
  EXPECT_EQ(
      run.console,
      ConsoleText(kBanner + "Input File: source.gba\nAudio data located at: 0x08000100\n\n"
                            "Output File: target.gba\nInserting audio data at: 0x09FFFFF0\n"
                            "Are you sure you wish to proceed? (y/n)\n\nBeginning ripping...\n"
                            "Transferring Song List...\nTransferring Song Data...\n"
                            "Error: output exceeds the 32 MiB cartridge space\n"));
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.unread, 0u);
  EXPECT_TRUE(ReadFile(work / "target.gba") == nearlyFull);
}
#endif
