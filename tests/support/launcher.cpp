// Starts a program under conditions a test cannot set from inside its own process, then becomes
// it (POSIX only).
// Usage: sonvault_launcher [--fsize=BYTES] [--close=FD]... [--unprivileged] -- PROGRAM ARGS...
//   --fsize=BYTES   no file may grow past BYTES; writes beyond fail (SIGXFSZ is ignored)
//   --close=FD      the program starts without descriptor FD
//   --unprivileged  when run as root, drop to the "nobody" ids so permissions apply
// Exits 125 when it cannot set a condition up, 126 when the program cannot be started.
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kSetupFailed = 125;
constexpr int kExecFailed = 126;
constexpr uid_t kNobody = 65534;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "sonvault_launcher: %s\n", what);
  std::exit(kSetupFailed);
}

void LimitFileSize(const char* bytes) {
  char* end = nullptr;
  const unsigned long long limit = std::strtoull(bytes, &end, 10);
  if (end == bytes || *end != '\0') Fail("bad --fsize");
  std::signal(SIGXFSZ, SIG_IGN);  // an ignored signal stays ignored across exec
  const rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
  if (setrlimit(RLIMIT_FSIZE, &size) != 0) Fail("cannot set the file size limit");
}

void DropPrivileges() {
  if (geteuid() != 0) return;
  if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
    Fail("cannot drop privileges");
  }
}

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  bool unprivileged = false;
  for (; arg < argc && std::strcmp(argv[arg], "--") != 0; ++arg) {
    if (std::strncmp(argv[arg], "--fsize=", 8) == 0) {
      LimitFileSize(argv[arg] + 8);
    } else if (std::strncmp(argv[arg], "--close=", 8) == 0) {
      close(std::atoi(argv[arg] + 8));
    } else if (std::strcmp(argv[arg], "--unprivileged") == 0) {
      unprivileged = true;
    } else {
      Fail("unknown option");
    }
  }
  if (arg + 1 >= argc) Fail("no program given");
  if (unprivileged) {
    DropPrivileges();
    // A build folder that only root may enter cannot be run from: a condition not set up.
    if (access(argv[arg + 1], X_OK) != 0) Fail("the program is out of reach without root");
  }
  execv(argv[arg + 1], argv + arg + 1);
  std::perror("sonvault_launcher: exec");
  return kExecFailed;
}
