// Whole runs of the programs, one test per folder under tests/golden/ (Golden.<folder>, with '_'
// for '-'). Every run starts in a scratch folder holding examples/demo.gba and the files of in/;
// args holds the arguments (a second line: the program path, "sonvault" when absent; a path whose
// name is "sonvault-point" or "sonvault-songs" runs that program), typed what is typed at the
// console, console the transcript, status the exit status and the count of typed characters never
// read ("-" when the program ran as a process), out/ every file that is new or different after the
// run, and gone the names of the files it removed, one a line. A case with a conditions file runs
// the built executable as a process, on POSIX only (elsewhere it is skipped), after these
// directives, one a line: "resize NAME SIZE", "mkdir NAME", "mkfifo NAME", "chmod NAME OCTAL" ("."
// is the folder itself), "symlink NAME TARGET", "limit BYTES" (file size limit; a write past it
// fails), "closed N" (starts without descriptors 0 to N-1), "nobody" (without root's rights). Any
// other line fails the case. The others run in process. With SONVAULT_UPDATE_GOLDEN=1 a case writes
// console, status and out/ from what the program does.
#include "cli/driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "point/point.h"
#include "songs/songs.h"
#include "support/whole_run.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Words(const std::string& line) {
  std::istringstream words(line);
  return {std::istream_iterator<std::string>(words), {}};
}

struct Program {
  ProgramRun run;
  const char* executable;
};

// The program a path starts: its last name, without ".exe".
Program ProgramFor(const std::string& path) {
  std::string name = path.substr(path.find_last_of("/\\") + 1);
  if (name.size() > 4 && name.substr(name.size() - 4) == ".exe") name.resize(name.size() - 4);
  if (name == "sonvault-point") return {RunSonvaultPoint, SONVAULT_POINT_EXE};
  if (name == "sonvault-songs") return {RunSonvaultSongs, SONVAULT_SONGS_EXE};
  return {RunSonvault, SONVAULT_EXE};
}

#if !defined(_WIN32)
// Sets up the conditions in work and returns how to start the tool under them: through the shell
// and util-linux, prlimit for the size limit (the tool itself ignores SIGXFSZ) and setpriv to drop
// to "nobody".
struct Launch {
  std::string prefix;   // commands the tool runs under
  std::string closed;   // redirections that close descriptors
  std::string unknown;  // the first line that is no directive
};

Launch Prepare(const fs::path& work, const std::string& conditions) {
  Launch launch;
  std::istringstream lines(conditions);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> word = Words(line);
    const std::string verb = word.empty() ? "" : word[0] + std::to_string(word.size());
    if (verb == "resize3") {
      fs::resize_file(work / word[1], std::stoull(word[2]));
    } else if (verb == "mkdir2") {
      fs::create_directory(work / word[1]);
    } else if (verb == "mkfifo2") {
      mkfifo((work / word[1]).c_str(), 0666);
    } else if (verb == "symlink3") {
      fs::create_symlink(word[2], work / word[1]);
    } else if (verb == "chmod3") {
      fs::permissions(work / word[1], static_cast<fs::perms>(std::stoi(word[2], nullptr, 8)));
    } else if (verb == "limit2") {
      launch.prefix += " prlimit --fsize=" + word[1];
    } else if (verb == "closed2") {
      launch.closed = word[1] == "1" ? " 0<&-" : " 0<&- 1>&-";
    } else if (verb == "nobody1") {
      if (geteuid() == 0)
        launch.prefix = " setpriv --reuid=65534 --regid=65534 --clear-groups" + launch.prefix;
    } else if (launch.unknown.empty()) {
      launch.unknown = line;
    }
  }
  return launch;
}

// Starts the built executable, copied where anyone may run it, in work as Prepare said.
ToolRun RunAsProcess(const fs::path& work, const Launch& launch, const char* executable,
                     const std::vector<std::string>& args, const std::string& typed) {
  TempDir io;
  fs::copy_file(executable, io / "tool");
  fs::permissions(io.path(), fs::perms::all);
  WriteFile(io / "typed", typed);
  const std::string at = io.path().string() + "/";
  std::string command =
      "cd '" + work.string() + "' && (timeout 60" + launch.prefix + " '" + at + "tool'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " <'" + at + "typed' 2>&1" + launch.closed + "; echo $? >'" + at +
             "status') | cat >'" + at + "console'";
  const int raw = std::system(command.c_str());
  const bool ran = WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
  return {ran ? std::stoi(ReadFile(io / "status")) : -1, ReadFile(io / "console"), 0};
}
#endif

class GoldenCase : public testing::Test {
 public:
  explicit GoldenCase(fs::path golden) : golden_(std::move(golden)) {}
  void TestBody() override;

 private:
  fs::path golden_;
};

void GoldenCase::TestBody() {
  const bool update = std::getenv("SONVAULT_UPDATE_GOLDEN") != nullptr;
  const fs::path& golden = golden_;
  const bool process = fs::exists(golden / "conditions");
  const std::string conditions = ReadFile(golden / "conditions");
#if defined(_WIN32)
  if (process) GTEST_SKIP() << "runs under POSIX conditions";
#endif
  TempDir work;
  Files start = FilesIn(golden / "in");
  start["demo.gba"] = ReadFile(fs::path(SONVAULT_SOURCE_DIR) / "examples" / "demo.gba");
  for (const auto& [name, bytes] : start) WriteFile(work / name, bytes);
  std::istringstream lines(ReadFile(golden / "args"));
  std::string args;
  std::string programPath;
  std::getline(lines, args);
  if (!std::getline(lines, programPath)) programPath = "sonvault";
  const Program program = ProgramFor(programPath);
  ToolRun run;
#if !defined(_WIN32)
  if (process) {
    const Launch launch = Prepare(work.path(), conditions);
    ASSERT_EQ(launch.unknown, "") << "unknown directive in conditions";
    start = FilesIn(work.path());
    run = RunAsProcess(work.path(), launch, program.executable, Words(args),
                       ReadFile(golden / "typed"));
  }
#endif
  if (!process) {
    run = RunInProcess(work.path(), Words(args), ReadFile(golden / "typed"), programPath,
                       program.run);
  }
  const std::string unread = process ? "-" : std::to_string(run.unread);
  const std::string status = std::to_string(run.status) + " " + unread + "\n";
  Files after = FilesIn(work.path());
  std::string gone;
  for (auto file = start.begin(); file != start.end();) {
    if (after.count(file->first) == 1) {
      ++file;
      continue;
    }
    gone += file->first + "\n";
    file = start.erase(file);
  }
  if (update) {
    fs::remove(golden / "gone");
    if (!gone.empty()) WriteFile(golden / "gone", gone);
    WriteFile(golden / "console", run.console);
    WriteFile(golden / "status", status);
    fs::remove_all(golden / "out");
    for (const auto& [name, bytes] : after) {
      if (start.count(name) == 1 && start[name] == bytes) continue;
      fs::create_directories(golden / "out");
      WriteFile(golden / "out" / Utf8Path(name), bytes);
    }
    return;
  }
  EXPECT_EQ(run.console, ReadFile(golden / "console"));
  EXPECT_EQ(status, ReadFile(golden / "status"));
  EXPECT_EQ(gone, ReadFile(golden / "gone"));
  for (const auto& [name, bytes] : FilesIn(golden / "out")) start[name] = bytes;
  ExpectSameFiles(start, after);
}

// Registered before any test runs, one per folder, so a case can be run alone and a crash in one
// ends only its own run.
const bool kGoldenCasesRegistered = [] {
  std::vector<fs::path> folders;
  for (const auto& entry : fs::directory_iterator(fs::path(SONVAULT_SOURCE_DIR) / "tests/golden")) {
    folders.push_back(entry.path());
  }
  std::sort(folders.begin(), folders.end());
  for (const fs::path& folder : folders) {
    // A '-' in a filter starts the patterns to leave out, so the name has '_' instead.
    std::string name = folder.filename().string();
    std::replace(name.begin(), name.end(), '-', '_');
    testing::RegisterTest("Golden", name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                          [folder] { return new GoldenCase(folder); });
  }
  return true;
}();

}  // namespace

TEST(Driver, BankGoesUpToTheLastBackslashOfTheProgramPath) {
  EXPECT_EQ(OutputPathFor("C:\\tools\\bank\\x.exe"), "C:\\tools\\bank\\output.tbnk");
  EXPECT_EQ(OutputPathFor("x.exe"), "output.tbnk");
  EXPECT_EQ(OutputPathFor("a\\b/c.exe"), "a\\output.tbnk");  // a slash is no separator
}
