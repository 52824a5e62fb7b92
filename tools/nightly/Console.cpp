// Only operating-system independent code.
#include "Console.h"

#include <cstdio>

namespace ZqNightly {
namespace Console {
namespace {

// Writes one line to a console window when the stream is one; false when it is a file or a pipe.
bool writeToConsole(std::FILE* stream, const std::string& line);

void writeLine(std::FILE* stream, const std::string& line) {
  if (writeToConsole(stream, line)) return;
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void out(const std::string& line) { writeLine(stdout, line); }
void err(const std::string& line) { writeLine(stderr, line); }

}  // namespace Console
}  // namespace ZqNightly

#ifdef _WIN32
#include "Win32/Console.inc"
#else
#include "Posix/Console.inc"
#endif
