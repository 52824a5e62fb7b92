// Only operating-system independent code.
#include "Nightly/Output.h"

#include <cstdio>

#include "Common/Console.h"
#include "Nightly/Platform.h"

namespace ZqNightly {
namespace Output {
namespace {

std::string logFile;

void writeLine(std::FILE* stream, const std::string& line) {
  if (!logFile.empty()) {
    std::string ignored;
    FileSystem::appendFile(logFile, line + FileSystem::lineEnd(), ignored);
  }
  ::Console::writeLine(stream, line);
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

}  // namespace Output
}  // namespace ZqNightly
