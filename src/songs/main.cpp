#include "cli/file_system.h"
#include "image/platform.h"
#include "songs/songs.h"

#if defined(_WIN32)
// The wide entry (linked with -municode): names in any script arrive whole.
int wmain(int argc, wchar_t** argv) {
  ReserveStandardStreams();
  IgnoreWriteSignals();
  return RunWithUtf8Arguments(RunSonvaultSongs, argc, argv);
}
#else
int main(int argc, char** argv) {
  ReserveStandardStreams();
  IgnoreWriteSignals();
  return RunSonvaultSongs(argc, argv);
}
#endif
