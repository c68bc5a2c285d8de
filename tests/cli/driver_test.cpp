#include "cli/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/address.h"
#include "image_builder.h"
#include "support/console_text.h"
#include "support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

// One song whose header has no tracks and no instrument list.
std::string SourceImage() {
  const Bytes bytes = ImageBuilder(0x220)
                          .PutSignature(0x40, 0x08000100)
                          .PutSongList(0x100, {{0x08000200, 0x11223344}})
                          .PutSongHeader(0x200, 0x60504000, 0, {})
                          .bytes();
  return std::string(bytes.begin(), bytes.end());
}

std::string Words(std::initializer_list<uint32_t> words) {
  const Bytes bytes = LittleEndian(words);
  return std::string(bytes.begin(), bytes.end());
}

const std::string kBank = Words({
    0x08000010, 0x8888684A, 0xD1042800, 0x1C191C08,  // 0x00 bank header
    0x08000020, 0x11223344,                          // 0x10 song entry: header at 0x20
    0, 0,                                            // 0x18 terminator
    0x60504000, 0,                                   // 0x20 song header, no instrument list
});
const std::string kTarget(0x2F0, '\xEE');
const std::string kInserted = kTarget + Words({
                                            0x08000300, 0x11223344,  // 0x2F0 song entry
                                            0, 0,                    // 0x2F8 terminator
                                            0x60504000, 0,           // 0x300 song header
                                        });

const std::string kOldBank(0x100, 'o');

const std::string kBanner = "Sonvault, Release 1\n\n";
const std::string kFound = "Input File: source.gba\nAudio data located at: 0x08000100\n\n";
const std::string kPrompt = "Are you sure you wish to proceed? (y/n)\n\n";
const std::string kRipping =
    "Beginning ripping...\n"
    "Transferring Song List...\n"
    "Transferring Song Data...\n"
    "Transferring Instrument Lists...\n"
    "Transferring Instrument Data...\n"
    "Finished\n";
const std::string kInsertHead =
    kBanner + kFound + "Output File: target.gba\nInserting audio data at: 0x080002F0\n" + kPrompt;
const std::string kExtracted = kBanner + kFound + "Output File: output.tbnk\n\n" + kRipping;
const std::string kConfirmed = kInsertHead + kRipping;
const std::string kRefused = kInsertHead + "Aborted\n";
const std::string kNoInput = kBanner + "Error opening input file\n";
const std::string kNotFound = kBanner + "Could not locate audio data\n";
const std::string kNoOutput = kBanner + kFound + "Error opening output file\n";

// A work directory holding the source image, the target image and an old bank.
struct Work {
  TempDir dir;
  Work() {
    WriteFile(dir / "source.gba", SourceImage());
    WriteFile(dir / "target.gba", kTarget);
    WriteFile(dir / "output.tbnk", kOldBank);
  }
  std::string Read(const std::string& name) const { return ReadFile(dir / name); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // What every run must hold to: nothing on standard error, no half-written bank left behind.
  void Check(const ToolRun& run) const {
    EXPECT_EQ(run.errors, "");
    for (const std::string& name : Names()) EXPECT_EQ(name.find(".partial"), std::string::npos);
  }
  ToolRun Run(const std::vector<std::string>& args, const std::string& input) const {
    const ToolRun run = RunTool(dir.path().string(), args, input);
    Check(run);
    return run;
  }
  ConsoleRun Type(const std::string& program, const std::vector<std::string>& args,
                  const std::string& typed) const {
    const ConsoleRun at = RunAtConsole(dir.path().string(), program, args, typed);
    Check(at.run);
    return at;
  }
};

}  // namespace

TEST(Driver, TranscriptsAndFilesOfEveryPath) {
  enum Effect { kNothing, kInserts, kExtracts };
  struct Row {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    const std::string& console;
    int status;
    Effect effect;
  };
  const std::vector<std::string> insert = {"source.gba", "target.gba"};
  const Row rows[] = {
      {"extract, success", {"source.gba"}, "", kExtracted, 0, kExtracts},
      {"insert, confirmed", insert, "y\n", kConfirmed, 0, kInserts},
      {"insert, a third path ignored",
       {"source.gba", "target.gba", "extra.gba"},
       "y\n",
       kConfirmed,
       0,
       kInserts},
      {"insert, refused", insert, "n\n", kRefused, 0, kNothing},
      {"insert, end of input as the answer", insert, "", kRefused, 0, kNothing},
      {"no source image", {}, "", kNoInput, 1, kNothing},
      {"source missing", {"missing.gba"}, "", kNoInput, 1, kNothing},
      {"signature not found", {"target.gba"}, "", kNotFound, 1, kNothing},
      {"destination not opened", {"source.gba", "missing.gba"}, "y\n", kNoOutput, 1, kNothing},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Work work;
    WriteFile(work.dir / "extra.gba", "extra");
    const ToolRun run = work.Run(row.args, row.input);
    EXPECT_EQ(run.console, ConsoleText(row.console));
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(work.Read("target.gba"), row.effect == kInserts ? kInserted : kTarget);
    EXPECT_EQ(work.Read("output.tbnk"), row.effect == kExtracts ? kBank : kOldBank);
    EXPECT_EQ(work.Names(),
              (std::vector<std::string>{"extra.gba", "output.tbnk", "source.gba", "target.gba"}));
    EXPECT_EQ(work.Read("extra.gba"), "extra");
  }
}

// At a console a read returns one line. Three lines follow each answer; the answer line is
// drained and the closing pause takes the next line, so two lines stay unread, or only one when
// a bare line end as the answer leaves a whole further line to the draining.
TEST(Driver, AnswersAtTheConsole) {
  struct Row {
    std::string answer;
    bool proceeds;
    size_t unread;
  };
  const Row rows[] = {
      {"y\n", true, 4},  {"Y\n", true, 4},   {"yes\n", true, 4},
      {"n\n", false, 4}, {" y\n", false, 4}, {"\n", false, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("answer \"" + row.answer + "\"");
    Work work;
    const ConsoleRun at =
        work.Type("sonvault", {"source.gba", "target.gba"}, row.answer + "p\nq\nr\n");
    EXPECT_EQ(at.run.console, ConsoleText(row.proceeds ? kConfirmed : kRefused));
    EXPECT_EQ(at.run.status, 0);
    EXPECT_EQ(at.unread, row.unread);
    EXPECT_EQ(work.Read("target.gba"), row.proceeds ? kInserted : kTarget);
  }
}

TEST(Driver, OddTargetGetsDataAtTheNextEvenAddress) {
  Work work;
  const std::string target(0x2F1, '\xEE');
  WriteFile(work.dir / "target.gba", target);
  const ToolRun run = work.Run({"source.gba", "target.gba"}, "y\n");
  EXPECT_EQ(run.console,
            ConsoleText(kBanner + kFound +
                        "Output File: target.gba\nInserting audio data at: 0x080002F2\n" + kPrompt +
                        kRipping));
  EXPECT_EQ(run.status, 0);
  const std::string want = target + std::string(1, '\0') +          // 0x2F1 skipped, stays 0
                           Words({0x08000304, 0x11223344, 0, 0}) +  // 0x2F2 song list
                           std::string(2, '\0') +                   // 0x302 fill
                           Words({0x60504000, 0});                  // 0x304 song header
  EXPECT_EQ(work.Read("target.gba"), want);
}

TEST(Driver, FullCartridgeTargetIsRefusedBeforeThePrompt) {
  Work work;
  fs::resize_file(work.dir / "target.gba", kWindowSize);
  // No answer is read: the closing pause takes the "y" line, the next stays unread.
  const ConsoleRun at = work.Type("sonvault", {"source.gba", "target.gba"}, "y\nnext\n");
  EXPECT_EQ(at.run.console,
            ConsoleText(kBanner + kFound +
                        "Output File: target.gba\nInserting audio data at: 0x0A000000\n"
                        "Error: output exceeds the 32 MiB cartridge space\n"));
  EXPECT_EQ(at.run.status, 1);
  EXPECT_EQ(at.unread, 5u);
  EXPECT_EQ(work.Read("target.gba"), kTarget + std::string(kWindowSize - kTarget.size(), '\0'));
}

// A track without its end byte fails the transfer; the run must leave every file as it found it.
TEST(Driver, FailedTransferLeavesEveryFileAsItWas) {
  const Bytes broken = ImageBuilder()
                           .PutSignature(0x40, 0x08000100)
                           .PutSongList(0x100, {{0x08000200, 0x11223344}})
                           .PutSongHeader(0x200, 0x00000001, 0, {0x08000210})
                           .PutTrack(0x210, {0x01, 0x02})
                           .bytes();
  const std::string failed =
      "Beginning ripping...\nTransferring Song List...\n"
      "Transferring Song Data...\n"
      "Error: track data runs past the end of the input file\n";
  for (const bool oldBank : {true, false}) {
    SCOPED_TRACE(oldBank ? "extract over an old bank" : "extract, no old bank");
    Work work;
    WriteFile(work.dir / "source.gba", std::string(broken.begin(), broken.end()));
    if (!oldBank) fs::remove(work.dir / "output.tbnk");
    const ToolRun run = work.Run({"source.gba"}, "");
    EXPECT_EQ(run.console, ConsoleText(kBanner + kFound + "Output File: output.tbnk\n\n" + failed));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(work.Read("output.tbnk"), oldBank ? kOldBank : std::string());
    EXPECT_EQ(work.Names().size(), oldBank ? 3u : 2u);
  }
  SCOPED_TRACE("insert");
  Work work;
  WriteFile(work.dir / "source.gba", std::string(broken.begin(), broken.end()));
  const ToolRun run = work.Run({"source.gba", "target.gba"}, "y\n");
  EXPECT_EQ(run.console, ConsoleText(kInsertHead + failed));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(work.Read("target.gba"), kTarget);
}

// The bank path is written only once the bank is whole, so a bank can be its own source.
TEST(Driver, ExtractFromTheBankItReplaces) {
  Work work;
  WriteFile(work.dir / "output.tbnk", kBank);
  const ToolRun run = work.Run({"output.tbnk"}, "");
  EXPECT_EQ(run.console,
            ConsoleText(kBanner +
                        "Input File: output.tbnk\nAudio data located at: 0x08000010\n\n"
                        "Output File: output.tbnk\n\n" +
                        kRipping));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(work.Read("output.tbnk"), kBank);
}

TEST(Driver, ExtractIntoAMissingDirectoryLeavesNoFile) {
  Work work;
  const ConsoleRun at = work.Type("nowhere/bank\\sonvault", {"source.gba"}, "");
  EXPECT_EQ(at.run.console, ConsoleText(kNoOutput));
  EXPECT_EQ(at.run.status, 1);
  EXPECT_EQ(work.Names(), (std::vector<std::string>{"output.tbnk", "source.gba", "target.gba"}));
  EXPECT_EQ(work.Read("output.tbnk"), kOldBank);
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
  const ConsoleRun at = work.Type("dir\\sonvault", {"source.gba"}, "");
  EXPECT_EQ(at.run.console, kBanner + kFound + "Output File: dir\\output.tbnk\n\n" + kRipping);
  EXPECT_EQ(at.run.status, 0);
  EXPECT_EQ(work.Read("dir\\output.tbnk"), kBank);
  EXPECT_EQ(work.Read("output.tbnk"), kOldBank);
}
