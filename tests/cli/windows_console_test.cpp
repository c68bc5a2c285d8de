// The tool as only Windows starts it: argv[0] a full backslash path, as a double click or a file
// dropped on the program gives it, and names from folders in any script, which arrive here as
// UTF-8, as the wide entry hands them on. The demo image and two whole-run cases supply the bytes.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/whole_run.h"

namespace fs = std::filesystem;

// Started by its full path from another folder: the bank goes beside the program, every name
// reaches the file system whole, and the transcript shows it as typed.
TEST(WindowsConsole, NamesInAnyScriptWithTheProgramStartedByItsFullPath) {
  const fs::path golden = fs::path(SONVAULT_SOURCE_DIR) / "tests/golden";
  const std::string found = "\nAudio data located at: 0x08000400\n\nOutput File: ";
  // The transcripts' last lines are those of the golden extract.
  const std::string console = ReadFile(golden / "extract/console");
  const std::string phases = console.substr(console.find("Beginning"));
  for (const char* script : {"Программы", "音楽ツール"}) {
    SCOPED_TRACE(script);
    TempDir root;
    fs::create_directory(root / "elsewhere");
    fs::create_directory(root / script);
    const std::u8string folder = (root / script).u8string();
    const std::string at = std::string(folder.begin(), folder.end()) + "\\";
    WriteFile(Utf8Path(at + "ポケモン.gba"), ReadFile(golden / "../../examples/demo.gba"));
    WriteFile(Utf8Path(at + "цель.gba"), ReadFile(golden / "insert-y/in/target.gba"));

    const ToolRun extract =
        RunInProcess(root / "elsewhere", {at + "ポケモン.gba"}, "\n", at + "sonvault.exe");
    EXPECT_EQ(extract.console, "Sonvault, Release 1\n\nInput File: " + at + "ポケモン.gba" + found +
                                   at + "output.tbnk\n\n" + phases);
    EXPECT_EQ(ReadFile(Utf8Path(at + "output.tbnk")), ReadFile(golden / "extract/out/output.tbnk"));

    const ToolRun insert = RunInProcess(root / script, {"ポケモン.gba", "цель.gba"}, "y\n\n");
    EXPECT_EQ(insert.console, "Sonvault, Release 1\n\nInput File: ポケモン.gba" + found +
                                  "цель.gba\nInserting audio data at: 0x080002F0\n"
                                  "Are you sure you wish to proceed? (y/n)\n\n" +
                                  phases);
    EXPECT_TRUE(ReadFile(Utf8Path(at + "цель.gba")) ==
                ReadFile(golden / "insert-y/out/target.gba"));
    EXPECT_EQ(extract.status + insert.status, 0);
  }
}
#endif
