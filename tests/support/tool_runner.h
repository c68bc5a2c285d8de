// Runs the built sonvault executable as a user at a console would, for end-to-end tests.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
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
  int status;           // exit status; -1 when the tool did not end by itself
  std::string console;  // everything written to standard output
  std::string errors;   // everything written to standard error
  size_t unread;        // bytes of typed never read
};

// Starts the executable in workDir with argv programName, args... Its standard input is a
// console onto which typed has been entered: a read returns at most one line, and end of input
// follows the last line (on Windows each "\n" arrives as "\r\n", as the Enter key sends it). A
// tool still running after a minute is stopped.
ToolRun RunTool(const std::string& workDir, const std::vector<std::string>& args,
                const std::string& typed, const std::string& programName = "sonvault");

#if !defined(_WIN32)
// What the started process sets up before the tool replaces it.
struct LaunchConditions {
  long long fileSizeLimit = -1;  // bytes a file may grow to, -1 for no limit (output is a pipe)
  std::vector<int> closed;       // descriptors the tool starts without
  bool unprivileged = false;     // when run as root, drop to "nobody" so permissions apply
};

// RunTool under conditions. A status of 125 means a condition could not be set up and the tool
// did not run.
ToolRun RunToolUnder(const LaunchConditions& conditions, const std::string& workDir,
                     const std::vector<std::string>& args, const std::string& typed,
                     const std::string& programName = "sonvault");
#endif

// Whole-file helpers.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Name -> bytes of each entry of a directory ("(folder)" for a folder); ExpectSameFiles names
// every file that went, appeared or differs, and where it differs.
using Files = std::map<std::string, std::string>;
Files FilesIn(const TempDir& dir);
void ExpectSameFiles(const Files& want, const Files& got);
