// Windows only: starts a program as a console user would, for the runners and the console tests.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct ProgramRun {
  int status;           // exit code, -1 when the program could not start or had to be stopped
  std::string console;  // standard output, bytes as written
  std::string errors;   // standard error
  size_t unread;        // bytes of typed never read
};

// Starts program in workDir with the command line argv0 args... and with standard input fed
// from typed one line at a time, each line only once the program has read the one before, as a
// console delivers them; end of input follows. A program still running after a minute is stopped.
ProgramRun RunProgram(const std::string& program, const std::string& argv0,
                      const std::vector<std::string>& args, const std::string& workDir,
                      const std::string& typed);
