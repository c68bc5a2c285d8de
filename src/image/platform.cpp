#include "image/platform.h"

#include <csignal>

#if !defined(_WIN32)
#include <sys/types.h>
#endif

bool SeekStream(std::FILE* stream, uint64_t offset) {
#if defined(_WIN32)
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  return _fseeki64(stream, static_cast<int64_t>(offset), SEEK_SET) == 0;
#else
  // An offset the system's off_t cannot hold is refused, not cut.
  if (static_cast<off_t>(offset) < 0 ||
      static_cast<uint64_t>(static_cast<off_t>(offset)) != offset) {
    return false;
  }
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

int64_t StreamSize(std::FILE* stream) {
#if defined(_WIN32)
  if (_fseeki64(stream, 0, SEEK_END) != 0) return -1;
  return _ftelli64(stream);
#else
  if (fseeko(stream, 0, SEEK_END) != 0) return -1;
  return static_cast<int64_t>(ftello(stream));
#endif
}

void IgnoreWriteSignals() {
#if defined(SIGXFSZ)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
#if defined(SIGPIPE)
  std::signal(SIGPIPE, SIG_IGN);
#endif
}
