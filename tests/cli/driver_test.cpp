// Whole runs of the tool, one folder each under tests/golden/. Every run starts in a scratch
// folder holding examples/demo.gba and the files of in/; args holds the arguments (a second line:
// the program path, "sonvault" when absent), typed what is typed at the console, console the
// transcript, status the exit status and the count of typed characters never read ("-" when the
// tool ran as a process), and out/ every file that is new or different after the run.
// A case with a conditions file runs the built executable as a process, on POSIX only, after
// these directives, one a line: "resize NAME SIZE", "mkdir NAME", "mkfifo NAME", "chmod NAME
// OCTAL" ("." is the folder itself), "limit BYTES" (file size limit; a write past it fails),
// "closed N" (starts without descriptors 0 to N-1), "nobody" (without root's rights). The others
// run in process.
// With SONVAULT_UPDATE_GOLDEN=1 the test writes console, status and out/ from what the tool does.
#include "cli/driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

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

#if !defined(_WIN32)
// Sets up the conditions in work and returns how to start the tool under them: through the shell
// and util-linux, prlimit for the size limit (SIGXFSZ ignored) and setpriv to drop to "nobody".
struct Launch {
  std::string prefix;  // commands the tool runs under
  std::string closed;  // redirections that close descriptors
};

Launch Prepare(const fs::path& work, const std::string& conditions) {
  Launch launch;
  std::istringstream lines(conditions);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> word = Words(line);
    if (word.size() == 3 && word[0] == "resize")
      fs::resize_file(work / word[1], std::stoull(word[2]));
    if (word.size() == 2 && word[0] == "mkdir") fs::create_directory(work / word[1]);
    if (word.size() == 2 && word[0] == "mkfifo") mkfifo((work / word[1]).c_str(), 0666);
    if (word.size() == 3 && word[0] == "chmod") {
      fs::permissions(work / word[1], static_cast<fs::perms>(std::stoi(word[2], nullptr, 8)));
    }
    if (word.size() == 2 && word[0] == "limit") launch.prefix += " prlimit --fsize=" + word[1];
    if (word.size() == 2 && word[0] == "closed") {
      launch.closed = word[1] == "1" ? " 0<&-" : " 0<&- 1>&-";
    }
    if (word.size() == 1 && word[0] == "nobody" && geteuid() == 0) {
      launch.prefix = " setpriv --reuid=65534 --regid=65534 --clear-groups" + launch.prefix;
    }
  }
  return launch;
}

// Starts the built tool, copied where anyone may run it, in work as Prepare said.
ToolRun RunAsProcess(const fs::path& work, const Launch& launch,
                     const std::vector<std::string>& args, const std::string& typed) {
  TempDir io;
  fs::copy_file(SONVAULT_EXE, io / "tool");
  fs::permissions(io.path(), fs::perms::all);
  WriteFile(io / "typed", typed);
  const std::string at = io.path().string() + "/";
  std::string command = "cd '" + work.string() + "' && (trap '' XFSZ; timeout 60" + launch.prefix +
                        " '" + at + "tool'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " <'" + at + "typed' 2>&1" + launch.closed + "; echo $? >'" + at +
             "status') | cat >'" + at + "console'";
  const int raw = std::system(command.c_str());
  const bool ran = WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
  return {ran ? std::stoi(ReadFile(io / "status")) : -1, ReadFile(io / "console"), 0};
}
#endif

}  // namespace

TEST(Driver, WholeRunsMatchTheirGoldenFolders) {
  const bool update = std::getenv("SONVAULT_UPDATE_GOLDEN") != nullptr;
  const std::string demo = ReadFile(fs::path(SONVAULT_SOURCE_DIR) / "examples" / "demo.gba");
  for (const auto& entry : fs::directory_iterator(fs::path(SONVAULT_SOURCE_DIR) / "tests/golden")) {
    const fs::path golden = entry.path();
    SCOPED_TRACE(golden.filename().string());
    const bool process = fs::exists(golden / "conditions");
#if defined(_WIN32)
    if (process) continue;
#endif
    TempDir work;
    Files start = FilesIn(golden / "in");
    start["demo.gba"] = demo;
    for (const auto& [name, bytes] : start) WriteFile(work / name, bytes);
    std::istringstream lines(ReadFile(golden / "args"));
    std::string args;
    std::string program;
    std::getline(lines, args);
    if (!std::getline(lines, program)) program = "sonvault";
    ToolRun run;
#if !defined(_WIN32)
    if (process) {
      const Launch launch = Prepare(work.path(), ReadFile(golden / "conditions"));
      start = FilesIn(work.path());
      run = RunAsProcess(work.path(), launch, Words(args), ReadFile(golden / "typed"));
    }
#endif
    if (!process) run = RunInProcess(work.path(), Words(args), ReadFile(golden / "typed"), program);
    const std::string unread = process ? "-" : std::to_string(run.unread);
    const std::string status = std::to_string(run.status) + " " + unread + "\n";
    Files after = FilesIn(work.path());
    if (update) {
      WriteFile(golden / "console", run.console);
      WriteFile(golden / "status", status);
      fs::remove_all(golden / "out");
      for (const auto& [name, bytes] : after) {
        if (start.count(name) == 1 && start[name] == bytes) continue;
        fs::create_directories(golden / "out");
        WriteFile(golden / "out" / Utf8Path(name), bytes);
      }
      continue;
    }
    EXPECT_EQ(run.console, ReadFile(golden / "console"));
    EXPECT_EQ(status, ReadFile(golden / "status"));
    for (const auto& [name, bytes] : FilesIn(golden / "out")) start[name] = bytes;
    ExpectSameFiles(start, after);
  }
}

TEST(Driver, BankGoesUpToTheLastBackslashOfTheProgramPath) {
  EXPECT_EQ(OutputPathFor("C:\\tools\\bank\\x.exe"), "C:\\tools\\bank\\output.tbnk");
  EXPECT_EQ(OutputPathFor("x.exe"), "output.tbnk");
  EXPECT_EQ(OutputPathFor("a\\b/c.exe"), "a\\output.tbnk");  // a slash is no separator
}
