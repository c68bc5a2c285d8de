// What each program prints for --help and --version, and the check both programs start with.
#pragma once

struct ProgramInfo {
  const char* name;  // the program's name, first word of its --version line
  const char* help;  // the --help text
};

extern const ProgramInfo kSonvaultInfo;
extern const ProgramInfo kSonvaultPointInfo;
extern const ProgramInfo kSonvaultSongsInfo;

// When the first argument is exactly "--help" or "--version", prints that text to standard
// output and returns true; the program then ends with status 0 without reading any input.
// Anything else, "./--help" included, is left to the program.
bool PrintProgramInfo(const ProgramInfo& program, int argc, char** argv);
