#include "cli/console.h"

#include <cstdio>

int ReadConsoleChar() {
  std::fflush(stdout);
  return std::getchar();
}

int Finish(const char* line, int status) {
  std::puts(line);
  ReadConsoleChar();
  return status;
}

int CloseAndFinish(std::FILE* stream, const char* line, int status) {
  std::fclose(stream);
  return Finish(line, status);
}

void DrainAnswerLine() {
  for (;;) {
    const int c = std::getchar();
    if (c == EOF || c == '\n' || c == '\r') return;
  }
}

bool AskToProceed() {
  std::puts("Are you sure you wish to proceed? (y/n)");
  const int answer = ReadConsoleChar();
  std::putchar('\n');
  return answer == 'y' || answer == 'Y';
}

int FinishAborted() {
  std::puts("Aborted");
  DrainAnswerLine();
  ReadConsoleChar();
  return kSuccess;
}

bool ReadConsoleLine(char* text, size_t size) {
  size_t length = 0;
  int c = ReadConsoleChar();
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::getchar()) {
    if (length + 1 < size) text[length++] = static_cast<char>(c);
  }
  // A line typed on Windows and piped in keeps its '\r'.
  if (length > 0 && text[length - 1] == '\r') --length;
  text[length] = '\0';
  return true;
}
