#include "cli/file_system.h"

#include <cerrno>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <string>
#include <vector>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#if defined(_WIN32)
namespace {

// UTF-8 to UTF-16; empty when text is not valid UTF-8, which then opens nothing.
std::wstring Wide(const char* text) {
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide.data(), length);
  wide.pop_back();  // the terminator the count included
  return wide;
}

// UTF-16 to UTF-8, the mirror of Wide.
std::string Utf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
  utf8.pop_back();  // the terminator the count included
  return utf8;
}

}  // namespace

std::FILE* OpenFile(const char* path, const char* mode) {
  return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

std::FILE* OpenRegularFile(const char* path, const char* mode) {
  struct _stat64 info;
  if (_wstat64(Wide(path).c_str(), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
    return nullptr;
  }
  std::FILE* stream = OpenFile(path, mode);
  // What the name led to may have changed in between.
  if (stream != nullptr &&
      (_fstat64(_fileno(stream), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG)) {
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

std::FILE* CreateNewFile(const char* path) {
  int fd = -1;
  const int flags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
  if (_wsopen_s(&fd, Wide(path).c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) {
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "wb");
  if (stream == nullptr) _close(fd);
  return stream;
}

bool WritableOrMissing(const char* path) {
  int fd = -1;
  const int flags = _O_WRONLY | _O_APPEND | _O_BINARY;
  const errno_t error = _wsopen_s(&fd, Wide(path).c_str(), flags, _SH_DENYNO, 0);
  if (error != 0) return error == ENOENT;
  return _close(fd) == 0;
}

bool TruncateFile(const char* path, uint64_t size) {
  int fd = -1;
  const int flags = _O_RDWR | _O_BINARY;
  if (_wsopen_s(&fd, Wide(path).c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) {
    return false;
  }
  const bool ok = _chsize_s(fd, static_cast<long long>(size)) == 0;
  return _close(fd) == 0 && ok;
}

bool MoveFileOnto(const char* from, const char* to) {
  // Without write-through the move may return before it is on the disk.
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), flags) != 0;
}

bool RemoveFile(const char* path) { return _wremove(Wide(path).c_str()) == 0; }

bool MayNameFileOf(const char* path, std::FILE* stream) {
  BY_HANDLE_FILE_INFORMATION open;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (!GetFileInformationByHandle(handle, &open)) return true;
  // The name itself (a link not followed), then what it leads to.
  for (const DWORD follow : {DWORD{FILE_FLAG_OPEN_REPARSE_POINT}, DWORD{0}}) {
    const HANDLE named =
        CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | follow, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
      return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(named, &info) != 0;
    CloseHandle(named);
    if (!known ||
        (info.dwVolumeSerialNumber == open.dwVolumeSerialNumber &&
         info.nFileIndexHigh == open.nFileIndexHigh && info.nFileIndexLow == open.nFileIndexLow)) {
      return true;
    }
  }
  return false;
}

// _commit is FlushFileBuffers on the file's handle (and succeeds on a console).
bool FlushToDisk(std::FILE* stream) {
  return std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0;
}

// Windows has no flush for a folder's names: a folder opens for writing only with backup
// rights, and NTFS logs the move itself.
bool FlushFolderOf(const std::string&) { return true; }

void ReserveStandardStreams() {}

int RunWithUtf8Arguments(int (*run)(int, char**), int argc, wchar_t** argv) {
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) words.push_back(Utf8(argv[i]));
  std::vector<char*> utf8Argv;
  for (std::string& word : words) utf8Argv.push_back(word.data());
  utf8Argv.push_back(nullptr);
  // The console's code page outlives the process: the prompt gets its own back afterwards.
  DWORD mode = 0;
  const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
  const UINT oldPage = GetConsoleOutputCP();
  if (console) SetConsoleOutputCP(CP_UTF8);
  const int status = run(argc, utf8Argv.data());
  std::fflush(stdout);
  if (console) SetConsoleOutputCP(oldPage);
  return status;
}

#else

std::FILE* OpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

std::FILE* OpenRegularFile(const char* path, const char* mode) {
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  std::FILE* stream = OpenFile(path, mode);
  // What the name led to may have changed in between.
  if (stream != nullptr && (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode))) {
    std::fclose(stream);
    return nullptr;
  }
  return stream;
}

std::FILE* CreateNewFile(const char* path) {
  // O_EXCL fails on any link, even one that leads nowhere.
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd == -1) return nullptr;
  std::FILE* stream = fdopen(fd, "wb");
  if (stream == nullptr) close(fd);
  return stream;
}

bool WritableOrMissing(const char* path) {
  const int fd = open(path, O_WRONLY | O_APPEND);
  if (fd == -1) return errno == ENOENT;
  return close(fd) == 0;
}

bool TruncateFile(const char* path, uint64_t size) {
  return truncate(path, static_cast<off_t>(size)) == 0;
}

bool MoveFileOnto(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool RemoveFile(const char* path) { return std::remove(path) == 0; }

bool MayNameFileOf(const char* path, std::FILE* stream) {
  struct stat open;
  if (fstat(fileno(stream), &open) != 0) return true;
  struct stat named;
  const auto same = [&](int result) {
    if (result != 0) return errno != ENOENT;
    return named.st_dev == open.st_dev && named.st_ino == open.st_ino;
  };
  // The name itself (a link not followed), then what it leads to.
  return same(lstat(path, &named)) || same(stat(path, &named));
}

#if defined(__EMSCRIPTEN__)
// The browser's files live in memory: there is no disk to wait for.
bool FlushToDisk(std::FILE* stream) { return std::fflush(stream) == 0; }
bool FlushFolderOf(const std::string&) { return true; }
#else
// fsync refuses what it cannot keep (a pipe, a device) with EINVAL.
bool FlushToDisk(std::FILE* stream) {
  return std::fflush(stream) == 0 && (fsync(fileno(stream)) == 0 || errno == EINVAL);
}

bool FlushFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  // A folder this process may not read, it cannot flush either.
  if (fd == -1) return errno == EACCES;
  const bool ok = fsync(fd) == 0 || errno == EINVAL;
  return close(fd) == 0 && ok;
}
#endif

void ReserveStandardStreams() {
  // The lowest free descriptor is the one taken, so each open fills the gap just found.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
  }
}

#endif
