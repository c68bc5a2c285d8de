#include "cli/driver.h"
#include "cli/file_system.h"

int main(int argc, char** argv) {
  ReserveStandardStreams();
  return RunSonvault(argc, argv);
}
