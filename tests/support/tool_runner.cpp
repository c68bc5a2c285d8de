#include "support/tool_runner.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <random>
#include <sstream>

#include "support/streams.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device seed;
  do {
    path_ = fs::temp_directory_path() / ("sonvault-test-" + std::to_string(seed()));
  } while (!fs::create_directory(path_));
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

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

Files FilesIn(const TempDir& dir) {
  Files files;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    files[name] = entry.is_directory() ? "(folder)" : ReadFile(dir / name);
  }
  return files;
}

void ExpectSameFiles(const Files& want, const Files& got) {
  for (const auto& [name, bytes] : got) EXPECT_EQ(want.count(name), 1u) << name << " appeared";
  for (const auto& [name, bytes] : want) {
    SCOPED_TRACE(name);
    const auto found = got.find(name);
    if (found == got.end()) {
      ADD_FAILURE() << name << " went";
    } else {
      ExpectSameBytes(Bytes(bytes.begin(), bytes.end()),
                      Bytes(found->second.begin(), found->second.end()));
    }
  }
}

#if !defined(_WIN32)
namespace {

constexpr int kSetupFailed = 125;
constexpr uid_t kNobody = 65534;

// Reads a pipe to its end and closes it.
std::string Drain(int pipe) {
  std::string text;
  char chunk[4096];
  ssize_t got;
  while ((got = read(pipe, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(got));
  close(pipe);
  return text;
}

}  // namespace

ToolRun RunTool(const std::string& workDir, const std::vector<std::string>& args,
                const std::string& typed, const std::string& programName) {
  return RunToolUnder({}, workDir, args, typed, programName);
}

ToolRun RunToolUnder(const LaunchConditions& conditions, const std::string& workDir,
                     const std::vector<std::string>& args, const std::string& typed,
                     const std::string& programName) {
  ToolRun run{-1, "", "", typed.size()};
  TempDir reachable;
  std::string tool = SONVAULT_EXE;
  if (conditions.unprivileged) {
    // A copy in a folder anyone may enter, wherever the build folder is.
    const fs::perms all = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec;
    tool = reachable / "sonvault";
    fs::copy_file(SONVAULT_EXE, tool);
    fs::permissions(reachable.path(), all);
    fs::permissions(tool, all);
  }
  // The console in canonical mode without echo; its end-of-input key ends input only at the
  // start of a line.
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  const int terminal = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0
                           ? open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC)
                           : -1;
  termios mode{};
  tcgetattr(terminal, &mode);
  mode.c_lflag |= ICANON;
  mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
  tcsetattr(terminal, TCSANOW, &mode);
  std::string keys = typed;
  if (!keys.empty() && keys.back() != '\n') keys += static_cast<char>(mode.c_cc[VEOF]);
  keys += static_cast<char>(mode.c_cc[VEOF]);
  // Standard output and error are pipes, out of reach of a file size limit.
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  const bool ready = terminal >= 0 &&
                     write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size()) &&
                     pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0;
  // execv leaves the words as they are.
  std::vector<char*> argv = {const_cast<char*>(programName.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ready ? fork() : -1;
  if (child == 0) {
    // Only system calls from here until the tool replaces this process.
    dup2(terminal, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : conditions.closed) close(fd);
    if (chdir(workDir.c_str()) != 0) _exit(kSetupFailed);
    if (conditions.fileSizeLimit >= 0) {
      std::signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec: a write past the limit fails
      const auto limit = static_cast<rlim_t>(conditions.fileSizeLimit);
      const rlimit size{limit, limit};
      if (setrlimit(RLIMIT_FSIZE, &size) != 0) _exit(kSetupFailed);
    }
    if (conditions.unprivileged && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      _exit(kSetupFailed);
    }
    alarm(60);  // survives the exec: a tool stuck waiting for input is killed, not waited for
    if (access(tool.c_str(), X_OK) == 0) execv(tool.c_str(), argv.data());
    _exit(kSetupFailed);
  }
  for (int fd : {out[1], err[1]}) close(fd);
  run.console = Drain(out[0]);
  run.errors = Drain(err[0]);
  int raw = 0;
  if (child > 0 && waitpid(child, &raw, 0) == child && WIFEXITED(raw)) {
    run.status = WEXITSTATUS(raw);
  }
  int unread = 0;
  if (ioctl(terminal, FIONREAD, &unread) == 0) run.unread = static_cast<size_t>(unread);
  close(terminal);
  close(master);
  return run;
}
#endif
