#include "cli/driver.h"
#include "image/platform.h"

int main(int argc, char** argv) {
  ReserveStandardStreams();
  return RunSonvault(argc, argv);
}
