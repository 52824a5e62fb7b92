// Only operating-system independent code.
#include "Console.h"

#include <cstdio>

#include "FileSystem.h"

namespace ZqNightly {
namespace Console {
namespace {

// Writes one line to a console window when the stream is one; false when it is a file or a pipe.
bool writeToConsole(std::FILE* stream, const std::string& line);

std::string logFile;

void writeLine(std::FILE* stream, const std::string& line) {
  if (!logFile.empty()) {
    std::string ignored;
    FileSystem::appendFile(logFile, line + FileSystem::lineEnd(), ignored);
  }
  if (writeToConsole(stream, line)) return;
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

bool logTo(const std::string& path, std::string& error) {
  const std::string absolute = FileSystem::absolute(path);
  const size_t cut = absolute.find_last_of(std::string(1, FileSystem::separator()) + "/");
  if (cut != std::string::npos && cut > 0 && !FileSystem::makeDirectories(absolute.substr(0, cut), error)) return false;
  if (!FileSystem::appendFile(absolute, std::string(), error)) return false;
  logFile = absolute;
  return true;
}

void out(const std::string& line) { writeLine(stdout, line); }
void err(const std::string& line) { writeLine(stderr, line); }

}  // namespace Console
}  // namespace ZqNightly

#ifdef _WIN32
#include "Win32/Console.inc"
#else
#include "Posix/Console.inc"
#endif
