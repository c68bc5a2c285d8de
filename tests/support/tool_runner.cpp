#include "support/tool_runner.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
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

#if !defined(_WIN32)
std::string ToolPath() { return SONVAULT_EXE; }
#endif

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

#if !defined(_WIN32)
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
  for (const std::string& arg : args) {
    command += ' ';  // not " " + Quote(arg): GCC 12 misreports it as an overlapping copy
    command += Quote(arg);
  }
  command += " <" + Quote(inPath) + " >" + Quote(outPath) + " 2>" + Quote(errPath);
  const int raw = std::system(command.c_str());
  ToolRun run{-1, ReadFile(outPath), ReadFile(errPath)};
  if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  return run;
}
#endif

#if !defined(_WIN32)
ConsoleRun RunAtConsole(const std::string& workDir, const std::string& programName,
                        const std::vector<std::string>& args, const std::string& typed) {
  ConsoleRun result{{-1, "", ""}, 0};
  TempDir io;
  const std::string outPath = io / "stdout";
  const std::string errPath = io / "stderr";
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return result;
  const int terminal = grantpt(master) == 0 && unlockpt(master) == 0
                           ? open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC)
                           : -1;
  termios mode{};
  tcgetattr(terminal, &mode);
  mode.c_lflag |= ICANON;
  mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
  tcsetattr(terminal, TCSANOW, &mode);
  // The end-of-input key ends input only at the start of a line.
  std::string keys = typed;
  if (!keys.empty() && keys.back() != '\n') keys += static_cast<char>(mode.c_cc[VEOF]);
  keys += static_cast<char>(mode.c_cc[VEOF]);
  const bool typedIn =
      terminal >= 0 && write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const std::string tool = ToolPath();
  std::vector<std::string> words = {programName};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = typedIn ? fork() : -1;
  if (child == 0) {
    if (chdir(workDir.c_str()) != 0) _exit(127);
    alarm(60);  // survives the exec: a tool stuck waiting for input is killed, not waited for
    dup2(terminal, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(tool.c_str(), argv.data());
    _exit(127);
  }
  close(out);
  close(err);
  int raw = 0;
  if (child > 0 && waitpid(child, &raw, 0) == child && WIFEXITED(raw)) {
    result.run.status = WEXITSTATUS(raw);
  }
  int unread = 0;
  ioctl(terminal, FIONREAD, &unread);
  result.unread = static_cast<size_t>(unread);
  close(terminal);
  close(master);
  result.run.console = ReadFile(outPath);
  result.run.errors = ReadFile(errPath);
  return result;
}
#endif

#if !defined(_WIN32)
ToolRun RunToolUnder(const LaunchConditions& conditions, const std::string& workDir,
                     const std::vector<std::string>& args, const std::string& input) {
  TempDir io;
  const std::string inPath = io / "stdin";
  const std::string outPath = io / "stdout";
  const std::string errPath = io / "stderr";
  WriteFile(inPath, input);
  std::string tool = ToolPath();
  if (conditions.unprivileged) {
    // A copy in a folder anyone may enter, wherever the build folder is.
    const fs::perms reachable = fs::perms::owner_all | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec;
    tool = io / "sonvault";
    fs::copy_file(ToolPath(), tool);
    fs::permissions(io.path(), reachable);
    fs::permissions(tool, reachable);
  }
  // Built by appending words: GCC 12 misreports "literal" + string as an overlapping copy.
  std::string command = "cd " + Quote(workDir) + " && exec";
  const auto add = [&command](const std::string& word) {
    command += ' ';
    command += word;
  };
  add(Quote(SONVAULT_LAUNCHER));
  if (conditions.fileSizeLimit >= 0) add("--fsize=" + std::to_string(conditions.fileSizeLimit));
  for (int fd : conditions.closed) add("--close=" + std::to_string(fd));
  if (conditions.unprivileged) add("--unprivileged");
  add("--");
  add(Quote(tool));
  for (const std::string& arg : args) add(Quote(arg));
  add("<");
  add(Quote(inPath));
  add(">");
  add(Quote(outPath));
  add("2>");
  add(Quote(errPath));
  const int raw = std::system(command.c_str());
  ToolRun run{-1, ReadFile(outPath), ReadFile(errPath)};
  if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
  return run;
}
#endif
