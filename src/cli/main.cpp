#include "cli/driver.h"
#include "cli/file_system.h"
#include "image/platform.h"

#if defined(_WIN32)
// The wide entry (linked with -municode): the narrow argv loses what the ANSI code page lacks.
int wmain(int argc, wchar_t** argv) {
  ReserveStandardStreams();
  IgnoreWriteSignals();
  return RunWithUtf8Arguments(RunSonvault, argc, argv);
}
#else
int main(int argc, char** argv) {
  ReserveStandardStreams();
  IgnoreWriteSignals();
  return RunSonvault(argc, argv);
}
#endif
