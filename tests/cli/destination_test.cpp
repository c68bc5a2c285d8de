// When a run's output reaches the disk, seen from outside: the built tool runs under strace, which
// lists its flushes, moves and console writes in order and can make fsync fail (POSIX only).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/whole_run.h"

#if !defined(_WIN32)
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

// The quoted strings of a trace line, escapes left as strace writes them.
std::vector<std::string> Quoted(const std::string& line) {
  std::vector<std::string> strings;
  bool inside = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') {
      if (!inside) strings.emplace_back();
      inside = !inside;
    } else if (inside) {
      if (line[i] == '\\') strings.back() += line[i++];
      strings.back() += line[i];
    }
  }
  return strings;
}

// The calls that matter, one a line: "fsync NAME" (NAME relative to work, "." for work itself),
// "rename FROM TO", and "print LINE" for each console write, LINE the last line it wrote.
std::vector<std::string> Calls(const std::string& trace, const fs::path& work) {
  std::vector<std::string> calls;
  std::istringstream lines(trace);
  const std::string folder = fs::canonical(work).string();
  for (std::string line; std::getline(lines, line);) {
    line.erase(0, line.find_first_not_of("0123456789 "));  // the process id
    const std::vector<std::string> quoted = Quoted(line);
    if (line.rfind("fsync(", 0) == 0) {
      const size_t from = line.find('<') + 1;
      const std::string path = line.substr(from, line.find('>') - from);
      calls.push_back("fsync " + (path == folder ? "." : path.substr(folder.size() + 1)));
    } else if (line.rfind("rename", 0) == 0 && quoted.size() == 2) {
      calls.push_back("rename " + quoted[0] + " " + quoted[1]);
    } else if (line.rfind("write(1<", 0) == 0 && !quoted.empty()) {
      std::string text = quoted[0];
      while (text.size() >= 2 && text.compare(text.size() - 2, 2, "\\n") == 0)
        text.resize(text.size() - 2);
      const size_t end = text.rfind("\\n");
      calls.push_back("print " + (end == std::string::npos ? text : text.substr(end + 2)));
    }
  }
  return calls;
}

}  // namespace

TEST(Destination, KeptOutputReachesTheDiskBeforeItIsNamedOrReported) {
  if (std::system("strace -f -qq -o /dev/null true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "strace is missing or cannot trace here";
  }
  const std::string eio = " -e inject=fsync:error=EIO";
  const std::string question = "print Are you sure you wish to proceed? (y/n)";
  struct Row {
    const char* name;
    std::string args;
    std::string inject;  // strace options that make calls fail
    std::vector<std::string> calls;
    bool unchanged;  // every file as it was before the run
  };
  const std::string move = "rename output.tbnk.partial output.tbnk";
  const Row rows[] = {
      {"extract",
       "demo.gba",
       "",
       {"fsync output.tbnk.partial", move, "fsync .", "print Finished"},
       false},
      {"extract, the bank cannot be flushed",
       "demo.gba",
       eio,
       {"fsync output.tbnk.partial", "print Error writing output file"},
       true},
      // The bank is in place by then; only its move may not survive a power cut.
      {"extract, the folder cannot be flushed",
       "demo.gba",
       eio + ":when=2",
       {"fsync output.tbnk.partial", move, "fsync .", "print Error writing output file"},
       false},
      {"insert",
       "demo.gba target.gba",
       "",
       {question, "fsync target.gba", "print Finished"},
       false},
      {"insert, the target cannot be flushed",
       "demo.gba target.gba",
       eio,
       {question, "fsync target.gba", "print Error writing output file"},
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir work;
    fs::copy_file(fs::path(SONVAULT_SOURCE_DIR) / "examples" / "demo.gba", work / "demo.gba");
    WriteFile(work / "target.gba", std::string(0x2F0, '\x5A'));
    WriteFile(work / "output.tbnk", "an earlier bank");
    const Files before = FilesIn(work.path());
    TempDir io;
    WriteFile(io / "typed", "y\n");
    // LeakSanitizer cannot run under a tracer.
    const std::string command =
        "cd '" + work.path().string() + "' && ASAN_OPTIONS=detect_leaks=0 strace -f -qq -y " +
        "-s 4096 -e signal=none -e trace=fsync,rename,renameat,renameat2,write" + row.inject +
        " -o '" + (io / "trace").string() + "' '" + SONVAULT_EXE + "' " + row.args + " <'" +
        (io / "typed").string() + "' >/dev/null";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), row.calls.back() == "print Finished" ? 0 : 1);
    EXPECT_EQ(Calls(ReadFile(io / "trace"), work.path()), row.calls);
    if (row.unchanged) ExpectSameFiles(before, FilesIn(work.path()));
  }
}

#endif
