#include "image/platform.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#endif

int64_t StreamSize(std::FILE* stream) {
#if defined(_WIN32)
  if (_fseeki64(stream, 0, SEEK_END) != 0) return -1;
  return _ftelli64(stream);
#else
  if (fseeko(stream, 0, SEEK_END) != 0) return -1;
  return static_cast<int64_t>(ftello(stream));
#endif
}

bool TruncateFile(const char* path, uint64_t size) {
#if defined(_WIN32)
  int fd = -1;
  if (_sopen_s(&fd, path, _O_RDWR | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) {
    return false;
  }
  const bool ok = _chsize_s(fd, static_cast<long long>(size)) == 0;
  return _close(fd) == 0 && ok;
#else
  return truncate(path, static_cast<off_t>(size)) == 0;
#endif
}

bool MoveFileOnto(const char* from, const char* to) {
#if defined(_WIN32)
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return std::rename(from, to) == 0;
#endif
}

void ReserveStandardStreams() {
#if !defined(_WIN32)
  // The lowest free descriptor is the one taken, so each open fills the gap just found.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
  }
#endif
}
