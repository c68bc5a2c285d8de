// The command-line driver: one run of the tool, from the banner to the closing pause.
// One path extracts the source's audio data into "output.tbnk" beside the program; two paths
// append it to the end of the second image after a y/n confirmation. Every path ends by reading
// one character from standard input. Returns the exit status: 0 after "Finished" or "Aborted",
// 1 after an error line. A first argument of exactly --help or --version prints that text
// instead, and returns 0 without reading anything.
#pragma once

#include <string>

#include "transfer/transfer.h"

int RunSonvault(int argc, char** argv);

// The sound bank path for a program started as programPath: everything up to and including its
// last backslash, then "output.tbnk" (a forward slash is not a separator here).
std::string OutputPathFor(const char* programPath);

// Lines of sonvault's that the other programs print for the same failures.
inline constexpr char kOpenInputError[] = "Error opening input file";
inline constexpr char kReadInputError[] = "Error reading input file";
inline constexpr char kNotFound[] = "Could not locate audio data";
inline constexpr char kOpenOutputError[] = "Error opening output file";
inline constexpr char kWindowError[] = "Error: output exceeds the 32 MiB cartridge space";
inline constexpr char kRestoreError[] = "Error: the target image could not be restored";

// The error line of a failed transfer (a failed write for anything else).
const char* TransferErrorMessage(TransferResult result);
