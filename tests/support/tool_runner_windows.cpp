// The runner on Windows: CreateProcessA with standard output and error redirected to files and
// standard input fed through a pipe a line at a time, as a console delivers it.
#include <windows.h>

#include <algorithm>

#include "support/tool_runner.h"

namespace {

constexpr DWORD kPatienceMs = 60000;

HANDLE CreateInherited(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// The tool is beside the test executable, wherever the build folder is copied.
std::string ToolPath() {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string path(self, length);
  return path.substr(0, path.rfind('\\') + 1) + SONVAULT_EXE_NAME;
}

}  // namespace

ToolRun RunTool(const std::string& workDir, const std::vector<std::string>& args,
                const std::string& typed, const std::string& programName) {
  // The Enter key sends "\r\n".
  std::string keys;
  for (char c : typed) {
    if (c == '\n') keys += '\r';
    keys += c;
  }
  ToolRun run{-1, "", "", typed.size()};
  TempDir io;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE keyboard = nullptr;
  HANDLE input = nullptr;
  // Room for every line at once, so that a write never waits for the reader.
  if (!CreatePipe(&input, &keyboard, &inherit, static_cast<DWORD>(keys.size()) + 4096)) return run;
  SetHandleInformation(keyboard, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = CreateInherited(io / "stdout");
  startup.hStdError = CreateInherited(io / "stderr");
  // Every word quoted; none holds a quote or ends in a backslash.
  std::string line = '"' + programName + '"';
  for (const std::string& arg : args) line += " \"" + arg + '"';
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessA(ToolPath().c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, workDir.c_str(), &startup, &process);
  CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);
  if (started) {
    CloseHandle(process.hThread);
    size_t sent = 0;
    const DWORD start = GetTickCount();
    const auto patient = [start] { return GetTickCount() - start < kPatienceMs; };
    // Each line goes once the one before has been read.
    while (sent < keys.size() && !Exited(process.hProcess, 0) && patient()) {
      if (Waiting(input) > 0) {
        Exited(process.hProcess, 1);
        continue;
      }
      const size_t end = keys.find('\n', sent);
      const size_t length = (end == std::string::npos ? keys.size() : end + 1) - sent;
      DWORD written = 0;
      WriteFile(keyboard, keys.data() + sent, static_cast<DWORD>(length), &written, nullptr);
      sent += written;
    }
    // The last line must be read before end of input is signalled.
    while (Waiting(input) > 0 && !Exited(process.hProcess, 1) && patient()) {
    }
    CloseHandle(keyboard);
    keyboard = nullptr;
    DWORD code = static_cast<DWORD>(-1);
    if (Exited(process.hProcess, kPatienceMs)) {
      GetExitCodeProcess(process.hProcess, &code);
    } else {
      TerminateProcess(process.hProcess, code);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    CloseHandle(process.hProcess);
    run.status = static_cast<int>(code);
    // Unread keys, less the "\r" each unread line end brought.
    const auto unread = static_cast<std::ptrdiff_t>(keys.size() - sent + Waiting(input));
    run.unread = static_cast<size_t>(unread - std::count(keys.end() - unread, keys.end(), '\r'));
  }
  if (keyboard != nullptr) CloseHandle(keyboard);
  CloseHandle(input);
  run.console = ReadFile(io / "stdout");
  run.errors = ReadFile(io / "stderr");
  return run;
}
