// The console dialogue both programs share: the closing key press every run ends with, and the
// y/n question asked before a file is changed. Text goes to standard output only, and is on the
// console before anything is read.
#pragma once

#include <cstddef>
#include <cstdio>

// Exit statuses: a run that finished or was declined, and one that ended on an error line.
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = 1;

// Flushes standard output, then reads one character (EOF at the end of input).
int ReadConsoleChar();

// Ends a run: writes line, reads the closing key press and returns status.
int Finish(const char* line, int status);

// Closes stream, then ends the run as Finish does.
int CloseAndFinish(std::FILE* stream, const char* line, int status);

// Discards the rest of an answer line, up to and including its '\n' or '\r'; ends at end of
// input too.
void DrainAnswerLine();

// Writes "Are you sure you wish to proceed? (y/n)", reads the answer's first character and
// starts a new line. True for y or Y; the rest of the answer line is left unread.
bool AskToProceed();

// Ends a run the user declined: writes "Aborted", drains the answer line and reads the closing
// key press. Returns 0.
int FinishAborted();

// Reads a typed line into text (at most size - 1 characters, the rest dropped) without its line
// end. False at end of input with nothing typed.
bool ReadConsoleLine(char* text, size_t size);
