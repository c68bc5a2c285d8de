// Runs one command and reports its wall time and peak memory, for the benchmark script.
// Usage: time_command <stdin file> <stdout file> <program> [args...]
// Prints "<wall ns> <peak resident KiB> <exit status> <cpu ns>" on one line. The wall time covers
// the child from fork to exit; the peak and the processor time (user + system) are the child's.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

long long NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: time_command <stdin file> <stdout file> <program> [args...]\n");
    return 2;
  }
  const int in = open(argv[1], O_RDONLY);
  const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) {
    std::perror("time_command");
    return 2;
  }
  const long long start = NowNs();
  const pid_t child = fork();
  if (child == 0) {
    dup2(in, 0);
    dup2(out, 1);
    execvp(argv[3], argv + 3);
    std::perror("time_command: exec");
    _exit(127);
  }
  if (child < 0) {
    std::perror("time_command: fork");
    return 2;
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("time_command: wait");
    return 2;
  }
  const long long elapsed = NowNs() - start;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const long long cpu =
      (static_cast<long long>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000000LL +
      (static_cast<long long>(usage.ru_utime.tv_usec) + usage.ru_stime.tv_usec) * 1000LL;
  std::printf("%lld %ld %d %lld\n", elapsed, usage.ru_maxrss, code, cpu);
  return 0;
}
