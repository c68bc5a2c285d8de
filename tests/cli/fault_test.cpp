// The tool run where things go wrong: writes that fail part way, sources it cannot read, standard
// streams closed or ending early, files it may not write, targets at the end of the 32 MiB
// window. Every run ends with one closing line; a run that does not finish leaves every file as
// it found it. POSIX only: the runner sets a file size limit, closes descriptors and drops root's
// rights.
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/small_image.h"
#include "support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

// Where the data ends on a 0x301-byte target: the song list from the even base 0x302, 2 bytes of
// fill, the song header at 0x314.
constexpr long long kEnd301 = 0x31C;
constexpr uint64_t kWindow = 0x2000000;

enum Outcome { kWrites, kWritesNothing, kFails };  // exit status 0, 0 and 1
enum Setup { kPlain, kNoOldBank, kLocked, kWriteOnlyBank };

// Each run starts in a folder holding source.gba (kSource), broken.gba (kNoEndByte), holds-y.gba
// (kSource, then 'y' up to 128 KiB), locked.gba (no permissions), a folder named "folder",
// target.gba (a pattern, sparse past its first 4 KiB) and, but for kNoOldBank, an old
// output.tbnk. kLocked runs the tool without root's rights, with the folder and every file in it
// read-only; kWriteOnlyBank does too, in a folder anyone may write, with a bank no one may read.
struct Fault {
  const char* name;
  const char* args;  // two paths: insert
  long long limit;   // file size limit, -1 for none
  const char* lastLine;
  Outcome outcome;
  uint64_t targetSize = 0x301;
  std::string typed = "y\n";
  int closed = 0;  // the tool starts without descriptors 0 up to this
  Setup setup = kPlain;
};

const char kFinished[] = "Finished";
const char kNoInput[] = "Error opening input file";
const char kNoOutput[] = "Error opening output file";
const char kWriteError[] = "Error writing output file";
const char kWindowError[] = "Error: output exceeds the 32 MiB cartridge space";
const char kTrackError[] = "Error: track data runs past the end of the input file";
const char kNotRestored[] = "Error: the target image could not be restored";
const char kInsert[] = "source.gba target.gba";

const Fault kFaults[] = {
    // Writes that fail part way.
    {"extract, no old bank, limit below the bank", "source.gba", 0x10, kWriteError, kFails, 0x301,
     "y\n", 0, kNoOldBank},
    {"extract, limit one byte short", "source.gba", 0x27, kWriteError, kFails},
    {"extract, limit exactly the bank", "source.gba", 0x28, kFinished, kWrites},
    {"insert, limit one byte short", kInsert, kEnd301 - 1, kWriteError, kFails},
    {"insert, limit at the old end", kInsert, 0x301, kWriteError, kFails},
    {"insert, limit exactly the end", kInsert, kEnd301, kFinished, kWrites},
    {"insert onto itself, limit at its size", "source.gba source.gba", 0x220, kWriteError, kFails},
    // Sources that cannot be read.
    {"extract, source a folder", "folder", -1, kNoInput, kFails},
    {"insert, source a folder", "folder target.gba", -1, kNoInput, kFails},
    {"insert, source unreadable", "locked.gba target.gba", -1, kNoInput, kFails, 0x301, "y\n", 0,
     kLocked},
    // Standard input closed or ending early; standard output closed.
    {"extract, input closed", "source.gba", -1, kFinished, kWrites, 0x301, "", 1, kNoOldBank},
    {"insert, y without a line end", kInsert, -1, kFinished, kWrites, 0x301, "y"},
    // Regression: the source took descriptor 0 and its bytes answered the prompt.
    {"insert, input closed, the source holds y", "holds-y.gba target.gba", -1, "Aborted",
     kWritesNothing, 0x301, "", 1},
    // Regression: the target took descriptor 1 and the console text landed in it.
    {"insert, input and output closed", kInsert, -1, "", kWritesNothing, 0x301, "", 2},
    {"extract, input and output closed", "source.gba", -1, "", kWrites, 0x301, "", 2},
    // Files the tool may not write.
    {"insert, read-only", kInsert, -1, kNoOutput, kFails, 0x301, "y\n", 0, kLocked},
    {"extract, read-only", "source.gba", -1, kNoOutput, kFails, 0x301, "y\n", 0, kLocked},
    // Regression: a bank that could not be read was taken for a new file and removed.
    {"extract fails, the old bank is write-only", "broken.gba", -1, kTrackError, kFails, 0x301,
     "y\n", 0, kWriteOnlyBank},
    // A device takes the writes but cannot be cut back: the user is told.
    {"insert fails, the target cannot be restored", "broken.gba /dev/zero", -1, kNotRestored,
     kFails},
    // The same path twice; targets at the window's end (one of 32 MiB: the driver tests); odd
    // sizes.
    {"insert onto itself", "source.gba source.gba", -1, kFinished, kWrites},
    {"insert, target 32 MiB - 1: the even base wraps to 0", kInsert, -1, kWindowError, kFails,
     kWindow - 1},
    {"insert, target 32 MiB - 0x16", kInsert, -1, kWindowError, kFails, kWindow - 0x16},
    {"insert, target 32 MiB - 0x17, odd", kInsert, -1, kWindowError, kFails, kWindow - 0x17},
    {"insert, target 32 MiB - 0x19: the data ends on the window's end", kInsert, -1, kFinished,
     kWrites, kWindow - 0x19},
    {"insert, empty target", kInsert, -1, kFinished, kWrites, 0},
    {"insert, one-byte target", kInsert, -1, kFinished, kWrites, 1},
};

std::string LastLine(const std::string& console) {
  const std::string text = console.substr(0, console.find_last_not_of('\n') + 1);
  return text.substr(text.rfind('\n') + 1);
}

}  // namespace

TEST(Faults, EveryRunEndsWithOneLineAndAFailedRunChangesNoFile) {
  const auto read = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const auto search = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  std::string skipped;
  for (const Fault& row : kFaults) {
    SCOPED_TRACE(row.name);
    TempDir work;
    WriteFile(work / "source.gba", kSource);
    WriteFile(work / "broken.gba", kNoEndByte);
    WriteFile(work / "holds-y.gba", kSource + std::string(0x20000 - kSource.size(), 'y'));
    WriteFile(work / "locked.gba", kSource);
    fs::create_directory(work / "folder");
    std::string target(std::min<uint64_t>(row.targetSize, 0x1000), '\0');
    for (size_t i = 0; i < target.size(); ++i) target[i] = static_cast<char>(i * 31 + 7);
    WriteFile(work / "target.gba", target);
    fs::resize_file(work / "target.gba", row.targetSize);
    if (row.setup != kNoOldBank) WriteFile(work / "output.tbnk", std::string(0x100, 'o'));
    // Whoever runs the tool may read all but locked.gba; in a locked row it may write nothing.
    const auto mode = read | (row.setup == kLocked ? fs::perms::none : fs::perms::owner_write);
    for (const auto& entry : fs::directory_iterator(work.path())) {
      fs::permissions(entry, entry.is_directory() ? mode | search : mode);
    }
    fs::permissions(work / "locked.gba", fs::perms::none);
    fs::permissions(work.path(), mode | search);
    if (row.setup == kWriteOnlyBank) {
      fs::permissions(work.path(), fs::perms::all);
      fs::permissions(work / "output.tbnk",
                      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
    }
    const Files before = FilesIn(work);

    LaunchConditions conditions{row.limit, {}, row.setup == kLocked || row.setup == kWriteOnlyBank};
    for (int fd = 0; fd < row.closed; ++fd) conditions.closed.push_back(fd);
    std::istringstream words(row.args);
    const std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
    const ToolRun run = RunToolUnder(conditions, work.path().string(), args, row.typed);
    if (run.status == 125 && conditions.unprivileged) {  // no way to run it without root
      skipped += std::string(" [") + row.name + "]";
      continue;
    }

    EXPECT_EQ(LastLine(run.console), row.lastLine);
    EXPECT_EQ(run.status, row.outcome == kFails ? 1 : 0);
    EXPECT_EQ(run.errors, "");
    Files want = before;
    if (row.outcome == kWrites) {
      // An insert only adds bytes past the old end; an extract writes the whole bank.
      const bool insert = args.size() == 2;
      const std::string written = insert ? args[1] : "output.tbnk";
      const std::string old = insert ? before.at(written) : "";
      const std::string got = ReadFile(work / written);
      EXPECT_GT(got.size(), old.size());
      want[written] = insert ? old + got.substr(std::min(old.size(), got.size())) : kBank;
    }
    ExpectSameFiles(want, FilesIn(work));
  }
  if (!skipped.empty()) std::printf("skipped, out of reach without root:%s\n", skipped.c_str());
}
#endif
