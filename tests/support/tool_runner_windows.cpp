// The runners on Windows: CreateProcessA with the standard handles redirected to files and pipes.
#include "support/tool_runner_windows.h"

#include <windows.h>

#include "support/tool_runner.h"

namespace {

constexpr DWORD kPatienceMs = 60000;

std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  // Backslashes are literal except in front of a quote, where they escape each other.
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, '\\');
  return out + "\"";
}

HANDLE OpenInherited(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts program with the given standard handles; the process handle, or nullptr.
HANDLE Start(const std::string& program, const std::string& commandLine, const std::string& workDir,
             HANDLE in, HANDLE out, HANDLE err) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      workDir.c_str(), &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Waits for the end of process and closes it; its exit code, or -1 when it had to be stopped.
int Finish(HANDLE process) {
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process, kPatienceMs) != WAIT_OBJECT_0) {
    TerminateProcess(process, code);
    WaitForSingleObject(process, INFINITE);
  } else {
    GetExitCodeProcess(process, &code);
  }
  CloseHandle(process);
  return static_cast<int>(code);
}

bool Exited(HANDLE process, DWORD waitMs) {
  return WaitForSingleObject(process, waitMs) == WAIT_OBJECT_0;
}

// Bytes written into pipe and not read yet.
DWORD Waiting(HANDLE pipe) {
  DWORD available = 0;
  PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr);
  return available;
}

// The command line that gives a program exactly argv as its arguments.
std::string CommandLineOf(const std::vector<std::string>& argv) {
  // The first word ends at a blank or at its closing quote; backslashes never escape in it.
  std::string line =
      argv[0].find_first_of(" \t") == std::string::npos ? argv[0] : '"' + argv[0] + '"';
  for (size_t i = 1; i < argv.size(); ++i) line += ' ' + QuoteArgument(argv[i]);
  return line;
}

}  // namespace

std::string ToolPath() {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string path(self, length);
  return path.substr(0, path.rfind('\\') + 1) + SONVAULT_EXE_NAME;
}

ProgramRun RunProgram(const std::string& program, const std::string& argv0,
                      const std::vector<std::string>& args, const std::string& workDir,
                      const std::string& typed) {
  ProgramRun run{-1, "", "", typed.size()};
  TempDir io;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE keys = nullptr;
  HANDLE stdinPipe = nullptr;
  // Room for every line at once, so that a write never waits for the reader.
  if (!CreatePipe(&stdinPipe, &keys, &inherit, static_cast<DWORD>(typed.size()) + 4096)) return run;
  SetHandleInformation(keys, HANDLE_FLAG_INHERIT, 0);
  HANDLE out = OpenInherited(io / "stdout", GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = OpenInherited(io / "stderr", GENERIC_WRITE, CREATE_ALWAYS);
  std::vector<std::string> argv = {argv0};
  argv.insert(argv.end(), args.begin(), args.end());
  HANDLE process = Start(program, CommandLineOf(argv), workDir, stdinPipe, out, err);
  CloseHandle(out);
  CloseHandle(err);
  if (process != nullptr) {
    size_t sent = 0;
    const DWORD start = GetTickCount();
    const auto patient = [start] { return GetTickCount() - start < kPatienceMs; };
    while (sent < typed.size() && !Exited(process, 0) && patient()) {
      if (Waiting(stdinPipe) > 0) {
        Exited(process, 1);
        continue;
      }
      const size_t end = typed.find('\n', sent);
      const size_t length = (end == std::string::npos ? typed.size() : end + 1) - sent;
      DWORD written = 0;
      WriteFile(keys, typed.data() + sent, static_cast<DWORD>(length), &written, nullptr);
      sent += written;
    }
    // The last line must be read before end of input is signalled.
    while (Waiting(stdinPipe) > 0 && !Exited(process, 1) && patient()) {
    }
    CloseHandle(keys);
    keys = nullptr;
    run.status = Finish(process);
    run.unread = typed.size() - sent + Waiting(stdinPipe);
  }
  if (keys != nullptr) CloseHandle(keys);
  CloseHandle(stdinPipe);
  run.console = ReadFile(io / "stdout");
  run.errors = ReadFile(io / "stderr");
  return run;
}

ToolRun RunTool(const std::string& workDir, const std::vector<std::string>& args,
                const std::string& input) {
  TempDir io;
  WriteFile(io / "stdin", input);
  HANDLE in = OpenInherited(io / "stdin", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = OpenInherited(io / "stdout", GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = OpenInherited(io / "stderr", GENERIC_WRITE, CREATE_ALWAYS);
  // Named as at a command prompt, without a directory: the bank goes to the working directory.
  std::vector<std::string> argv = {"sonvault"};
  argv.insert(argv.end(), args.begin(), args.end());
  HANDLE process = Start(ToolPath(), CommandLineOf(argv), workDir, in, out, err);
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  ToolRun run{-1, "", ""};
  if (process != nullptr) run.status = Finish(process);
  run.console = ReadFile(io / "stdout");
  run.errors = ReadFile(io / "stderr");
  return run;
}

ConsoleRun RunAtConsole(const std::string& workDir, const std::string& programName,
                        const std::vector<std::string>& args, const std::string& typed) {
  // The Enter key reaches a program as "\r\n"; unread is counted in the bytes of typed.
  std::string keys;
  std::vector<size_t> origin;
  for (size_t i = 0; i < typed.size(); ++i) {
    if (typed[i] == '\n' && (i == 0 || typed[i - 1] != '\r')) {
      keys += '\r';
      origin.push_back(i);
    }
    keys += typed[i];
    origin.push_back(i);
  }
  const ProgramRun run = RunProgram(ToolPath(), programName, args, workDir, keys);
  const size_t unread = run.unread == 0 ? 0 : typed.size() - origin[keys.size() - run.unread];
  return {{run.status, run.console, run.errors}, unread};
}
