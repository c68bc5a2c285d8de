// Console text as a test reads it back from the tool's standard output.
#pragma once

#include <string>

// On Windows a text-mode stream writes every "\n" as "\r\n"; elsewhere text is unchanged.
inline std::string ConsoleText(const std::string& text) {
#if defined(_WIN32)
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
#else
  return text;
#endif
}
