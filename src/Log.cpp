// Only operating-system independent code.
#include "Log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Common/File.h"

namespace {

Common::File logFile;

const char* levelTag(int32_t level) {
  switch (level) {
    case LogError: return "[ERROR] ";
    case LogWarning: return "[WARNING] ";
    case LogInfo: return "[INFO] ";
    case LogDebug: return "[DEBUG] ";
    case LogTrace: return "[TRACE] ";
    default: return nullptr;
  }
}

}  // namespace

bool openLog(const char* path) {
  if (path == nullptr || *path == '\0') {
    std::fprintf(stderr, "ERROR: Do not specify the path to the log file.\n");
    return false;
  }
  logFile.close();
  // Text mode: the log uses the platform's own line end.
  if (!logFile.openExclusive(path, "w")) {
    const int err = errno;
    std::fprintf(stderr, "ERROR: Can't open log file %s: err => %d (%s).\n", path, err, std::strerror(err));
    return false;
  }
  return true;
}

void closeLog() { logFile.close(); }

void writeLog(int32_t level, const char* sourceFile, long line, const char* format, ...) {
  std::FILE* stream = logFile.handle;
  if (stream == nullptr) return;

  char stamp[64];
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  const size_t stampLength = local ? std::strftime(stamp, sizeof stamp, "%a, %d.%m.%Y %H:%M:%S", local) : 0;
  if (stampLength > 0) std::fprintf(stream, "[%s] ", stamp);

  if (const char* tag = levelTag(level)) std::fputs(tag, stream);

  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);

  if (sourceFile != nullptr && line >= 1) std::fprintf(stream, " at %s:%ld", sourceFile, line);
  std::fputc('\n', stream);
  std::fflush(stream);
}
