// Whole runs of the tool in this process, and the files of a scratch directory around them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// A path from UTF-8 text, on every platform.
std::filesystem::path Utf8Path(const std::string& utf8);

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / Utf8Path(name); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);  // "" when it cannot be read
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// Name -> bytes of each file of a directory ("" for a folder or a pipe); ExpectSameFiles names
// every file that went, appeared or differs.
using Files = std::map<std::string, std::string>;
Files FilesIn(const std::filesystem::path& dir);
void ExpectSameFiles(const Files& want, const Files& got);

struct ToolRun {
  int status;           // the exit status
  std::string console;  // what it wrote to standard output, line ends as "\n"
  size_t unread;        // characters of typed it never read
};

// A program's run: its arguments with the program path first; returns the exit status.
using ProgramRun = int (*)(int argc, char** argv);

// Runs the program as "program args..." in workDir, with typed as its standard input; run is
// sonvault's unless given.
ToolRun RunInProcess(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                     const std::string& typed, const std::string& program = "sonvault",
                     ProgramRun run = nullptr);
