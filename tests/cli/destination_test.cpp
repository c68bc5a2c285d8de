// When a run's output reaches the disk, seen from outside: the built tool runs under strace, which
// lists its flushes, moves and console writes in order and can make calls fail (POSIX only).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/whole_run.h"

#if !defined(_WIN32)
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

// The calls that matter, one a line: "fsync NAME" (NAME relative to work, "." for work itself),
// "rename FROM TO", and "print LINE" for each console write, LINE the last line it wrote.
std::vector<std::string> Calls(const std::string& trace, const fs::path& work) {
  const std::string folder = fs::canonical(work).string();
  const std::regex fsync(R"~(^\d+ +fsync\(\d+<([^>]*)>)~"), rename(R"~(rename.*"(.*)".*"(.*)")~"),
      print(R"~(write\(1<.*?>, "(?:.*\\n)?([^\\"]+)(\\n)*")~");
  std::vector<std::string> calls;
  std::istringstream lines(trace);
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, m, fsync)) {
      calls.push_back("fsync " + (m[1] == folder ? "." : m[1].str().substr(folder.size() + 1)));
    } else if (std::regex_search(line, m, rename)) {
      calls.push_back("rename " + m[1].str() + " " + m[2].str());
    } else if (std::regex_search(line, m, print)) {
      calls.push_back("print " + m[1].str());
    }
  }
  return calls;
}

}  // namespace

TEST(Destination, KeptOutputReachesTheDiskBeforeItIsNamedOrReported) {
  if (std::system("strace -f -qq -o /dev/null true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "strace is missing or cannot trace here";
  }
  const std::string eio = " -e inject=fsync:error=EIO", bank = "fsync output.tbnk.partial",
                    move = "rename output.tbnk.partial output.tbnk", ok = "print Finished",
                    failed = "print Error writing output file",
                    question = "print Are you sure you wish to proceed? (y/n)",
                    unread = "print Error reading input file";
  // Only the calls on these files (and the console's) are traced and counted: the locator reads the
  // source in reads 1 to 3 (the first is the check that it can be read), the transfer after them.
  const std::string source = " -P demo.gba -P /dev/null", target = " -P target.gba -P /dev/null";
  struct Row {
    const char* name;
    std::string args, inject;  // inject: strace options that make calls fail
    std::vector<std::string> calls;
    const char* program = SONVAULT_EXE;
  };
  const std::string ex = "demo.gba", in = "demo.gba target.gba", pt = "demo.gba 0x08000408",
                    readFails = source + " -e inject=read:error=EIO:when=4+",
                    unwritten = "print Error writing image file", kept = "fsync demo.gba";
  const Row rows[] = {
      {"extract", ex, "", {bank, move, "fsync .", ok}},
      {"extract, no flush", ex, eio, {bank, failed}},
      {"extract, no move", ex, " -e inject=rename:error=EIO", {bank, move, failed}},
      // The bank is in place by then; only its move may not survive a power cut.
      {"extract, no folder flush", ex, eio + ":when=2", {bank, move, "fsync .", failed}},
      {"extract, no read", ex, source + " -e inject=read:error=EIO:when=2", {unread}},
      {"extract, no later read", ex, readFails, {unread}},
      {"insert", in, "", {question, "fsync target.gba", ok}},
      {"insert, no later read", in, readFails, {question, unread}},
      // Every seek after the one that sized the target fails: nothing lands where the stream stood.
      {"insert, no seek", in, target + " -e inject=lseek:error=EIO:when=2+", {question, failed}},
      {"insert, no flush", in, eio, {question, "fsync target.gba", failed}},
      // Nor can the target be cut back: the run says so.
      {"insert, no seek, no cut back",
       in,
       target + " -e inject=lseek:error=EIO:when=2+ -e inject=truncate:error=EIO",
       {question, "print Error: the target image could not be restored"}},
      // Pointed at its own second song: the words go back, and wait for the disk again.
      {"point", pt, "", {question, kept, ok}, SONVAULT_POINT_EXE},
      {"point, no flush", pt, eio, {question, kept, kept, unwritten}, SONVAULT_POINT_EXE},
      // The words are on the disk when the close fails: they go back through a new stream.
      {"point, no close",
       pt,
       source + " -e inject=close:error=EIO:when=1",
       {question, kept, kept, unwritten},
       SONVAULT_POINT_EXE},
      // A song moved into its own game: the rewritten entry goes back, the copy is cut off.
      {"songs, no flush",
       "demo.gba demo.gba 0=1",
       eio,
       {question, kept, kept, failed},
       SONVAULT_SONGS_EXE},
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
        "cd '" + work.path().string() + "' && ASAN_OPTIONS=detect_leaks=0 strace -f -y -s 4096 " +
        "--quiet=attach,exit,path-resolution -e signal=none " +
        "-e trace=fsync,rename,renameat,renameat2,write,read,lseek,close,truncate" + row.inject +
        " -o '" + (io / "trace").string() + "' '" + row.program + "' " + row.args + " <'" +
        (io / "typed").string() + "' >/dev/null";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), row.calls.back() == ok ? 0 : 1);
    EXPECT_EQ(Calls(ReadFile(io / "trace"), work.path()), row.calls);
    // A run that fails before the bank has taken its name (its folder is flushed only then)
    // changes no file.
    if (row.calls.back() != ok &&
        std::find(row.calls.begin(), row.calls.end(), "fsync .") == row.calls.end()) {
      ExpectSameFiles(before, FilesIn(work.path()));
    }
  }
}

namespace {

// The last line a run wrote to the console.
std::string LastLine(std::string console) {
  while (!console.empty() && console.back() == '\n') console.pop_back();
  return console.substr(console.rfind('\n') + 1);
}

}  // namespace

// Each call of each kind that touches the files (seeks, size queries and stats, writes, flushes),
// made to fail in turn: the run either does not notice (the library works around it) and ends as
// a run without failures does, or it ends on a line that names the failure, with status 1 and
// every file as it was. A failed size query once read as an empty source, and "Finished".
TEST(Destination, EveryFailedCallEndsTheRunCleanly) {
  if (std::system("strace -f -qq -o /dev/null true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "strace is missing or cannot trace here";
  }
  const std::vector<std::string> lines = {"Error opening input file",  "Error reading input file",
                                          "Error opening output file", "Error reading output file",
                                          "Error writing output file", "Error opening image file",
                                          "Error reading image file",  "Error writing image file"};
  const struct {
    const char* program;
    std::string args;
  } runs[] = {
      {SONVAULT_EXE, "demo.gba"},
      {SONVAULT_EXE, "demo.gba target.gba"},
      {SONVAULT_POINT_EXE, "demo.gba 0x08000408"},
      {SONVAULT_SONGS_EXE, "demo.gba"},
      {SONVAULT_SONGS_EXE, "demo.gba demo.gba 0=1 3=new"},
      {SONVAULT_SONGS_EXE, "demo.gba --wav 0"},
  };
  TempDir io;
  WriteFile(io / "typed", "y\n\n");
  // The files every run starts with, in a fresh work folder.
  const auto prepare = [](const TempDir& work) {
    fs::copy_file(fs::path(SONVAULT_SOURCE_DIR) / "examples" / "demo.gba", work / "demo.gba");
    WriteFile(work / "target.gba", std::string(0x2F0, '\x5A'));
    WriteFile(work / "output.tbnk", "an earlier bank");
    return FilesIn(work.path());
  };
  // Runs the program in work under strace with options; returns the status.
  const auto run = [&](const TempDir& work, const char* program, const std::string& args,
                       const std::string& options) {
    const std::string command =
        "cd '" + work.path().string() + "' && ASAN_OPTIONS=detect_leaks=0 strace " +
        "--quiet=attach,exit,path-resolution -P demo.gba -P target.gba" + options + " '" + program +
        "' " + args + " <'" + (io / "typed").string() + "' >'" + (io / "console").string() + "'";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  for (const auto& [program, args] : runs) {
    SCOPED_TRACE(args + " (" + program + ")");
    // The calls a run without failures makes, by name.
    TempDir clean;
    prepare(clean);
    const std::string trace = (io / "trace").string();
    ASSERT_EQ(run(clean, program, args, " -e trace=lseek,write,fsync,%stat,%fstat -o " + trace), 0);
    const Files finished = FilesIn(clean.path());
    const std::string finishedLine = LastLine(ReadFile(io / "console"));
    std::map<std::string, int> calls;
    std::istringstream traced(ReadFile(io / "trace"));
    for (std::string line; std::getline(traced, line);) {
      if (line.find('(') != std::string::npos) ++calls[line.substr(0, line.find('('))];
    }
    for (const auto& [call, count] : calls) {
      for (int n = 1; n <= count; ++n) {
        SCOPED_TRACE(call + " " + std::to_string(n));
        TempDir work;
        const Files before = prepare(work);
        const int status =
            run(work, program, args,
                " -o /dev/null -e inject=" + call + ":error=EIO:when=" + std::to_string(n));
        const std::string last = LastLine(ReadFile(io / "console"));
        if (status == 0) {
          EXPECT_EQ(last, finishedLine);
          ExpectSameFiles(finished, FilesIn(work.path()));
        } else {
          EXPECT_EQ(status, 1);
          EXPECT_NE(std::find(lines.begin(), lines.end(), last), lines.end()) << last;
          ExpectSameFiles(before, FilesIn(work.path()));
        }
      }
    }
  }
}

#endif
