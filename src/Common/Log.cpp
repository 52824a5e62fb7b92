// Only operating-system independent code.
#include "Common/Log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <string>

#include "Common/Console.h"
#include "Common/File.h"
#include "Common/RunTexts.h"

namespace {

Common::File logFile;

const char* levelTag(int32_t level) {
  switch (level) {
    case LogError: return ZQ_LOG_ERROR;
    case LogWarning: return ZQ_LOG_WARNING;
    case LogInfo: return ZQ_LOG_INFO;
    case LogDebug: return ZQ_LOG_DEBUG;
    case LogTrace: return ZQ_LOG_TRACE;
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

  // The message in the console's encoding, as the weekday of the stamp: one encoding per file.
  va_list args;
  va_start(args, format);
  char buffer[512];
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  std::string message;
  if (length >= static_cast<int>(sizeof buffer)) {
    message.resize(static_cast<size_t>(length));
    std::vsnprintf(&message[0], message.size() + 1, format, again);
  } else if (length > 0) {
    message.assign(buffer, static_cast<size_t>(length));
  }
  va_end(again);
  va_end(args);
  const std::string text = Console::toConsoleEncoding(message);
  std::fwrite(text.data(), 1, text.size(), stream);

  if (sourceFile != nullptr && line >= 1) std::fprintf(stream, ZQ_LOG_AT, sourceFile, line);
  std::fputc('\n', stream);
  std::fflush(stream);
}
