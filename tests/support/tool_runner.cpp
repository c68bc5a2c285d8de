#include "support/tool_runner.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device seed;
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    path_ = base / ("sonvault-test-" + std::to_string(seed()) + "-" + std::to_string(counter++));
    if (fs::create_directory(path_)) return;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string ToolPath() { return SONVAULT_EXE; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

namespace {

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace

ToolRun RunTool(const std::string& workDir, const std::vector<std::string>& args,
                const std::string& input) {
  TempDir io;
  const std::string inPath = io / "stdin";
  const std::string outPath = io / "stdout";
  const std::string errPath = io / "stderr";
  WriteFile(inPath, input);
  std::string command = "cd " + Quote(workDir) + " && exec " + Quote(ToolPath());
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " <" + Quote(inPath) + " >" + Quote(outPath) + " 2>" + Quote(errPath);
  const int raw = std::system(command.c_str());
  ToolRun run{-1, ReadFile(outPath), ReadFile(errPath)};
  if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  return run;
}
