// The process-wide debug log: one flushed entry per call, silent while no log is open. An entry is
// one line, unless its message ends in a line feed of its own (a few start-up messages do, and log
// readers expect them so): then " at <source>:<line>" stands on the next line.
#pragma once

#include <cstdint>

enum LogLevel : int32_t {
  LogError = 1,
  LogWarning = 2,
  LogInfo = 3,
  LogDebug = 4,
  LogTrace = 5,
};

#if defined(__GNUC__)
#define ZQ_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ZQ_PRINTF_FORMAT(fmt, args)
#endif

bool openLog(const char* path);
void writeLog(int32_t level, const char* sourceFile, long line, const char* format, ...) ZQ_PRINTF_FORMAT(4, 5);
// Closes the log; the process does this at exit, tests in between.
void closeLog();

// Each source defines LOG_SOURCE (its module name) before using LOG.
#define LOG(level, ...) writeLog((level), LOG_SOURCE, __LINE__, __VA_ARGS__)

// Where a line is logged from, for a helper that logs in its caller's name.
struct LogSite {
  const char* source;
  long line;
};
#define LOG_SITE (LogSite{LOG_SOURCE, __LINE__})
