#include "cli/file_system.h"
#include "image/platform.h"
#include "point/point.h"

#if defined(_WIN32)
// The wide entry (linked with -municode), as sonvault's: names in any script arrive whole.
int wmain(int argc, wchar_t** argv) {
  ReserveStandardStreams();
  IgnoreWriteSignals();
  return RunWithUtf8Arguments(RunSonvaultPoint, argc, argv);
}
#else
int main(int argc, char** argv) {
  ReserveStandardStreams();
  IgnoreWriteSignals();
  return RunSonvaultPoint(argc, argv);
}
#endif
