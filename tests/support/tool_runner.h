// Runs the built sonvault executable as a user would, for end-to-end tests.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

struct ToolRun {
  int status;           // exit status
  std::string console;  // everything written to standard output
  std::string errors;   // everything written to standard error
};

// Starts the executable in workDir with args as argv[1...], input as its whole standard input.
ToolRun RunTool(const std::string& workDir, const std::vector<std::string>& args,
                const std::string& input);

// Starts the executable in workDir as a user at a console would: argv[0] is programName, and
// standard input is a terminal onto which typed has been entered, so that a read returns at most
// one line; end of input follows the last line. unread counts the typed bytes never read.
struct ConsoleRun {
  ToolRun run;
  size_t unread;
};
ConsoleRun RunAtConsole(const std::string& workDir, const std::string& programName,
                        const std::vector<std::string>& args, const std::string& typed);

#if !defined(_WIN32)
// What the launcher sets up before it starts the tool.
struct LaunchConditions {
  long long fileSizeLimit = -1;  // bytes any file may grow to; -1 for no limit
  std::vector<int> closed;       // descriptors the tool starts without
  bool unprivileged = false;     // when run as root, drop its rights so permissions apply
};

// RunTool through the launcher. A status of 125 means the launcher could not set the conditions
// up (and the tool did not run).
ToolRun RunToolUnder(const LaunchConditions& conditions, const std::string& workDir,
                     const std::vector<std::string>& args, const std::string& input);
#endif

// The path of the executable under test.
std::string ToolPath();

// Whole-file helpers.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
