// Only operating-system independent code.
#include "Nightly/Verdict.h"

#include <algorithm>
#include <cstdlib>

#include "Common/RunTexts.h"

namespace ZqNightly {
namespace {

// One line of the program's debug log.
struct Entry {
  std::string level;    // the tag, "[ERROR] " ...
  std::string message;  // without time stamp, level and source position
  std::string body;     // the message after its "<class>::<operation>(): "
  std::string source;   // "Zq\\Zq870", "Application", ...
};

bool isDigit(char c, char conversion) {
  return (c >= '0' && c <= '9') || (conversion == 'X' && ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')));
}

// Whether `text` is what the printf `format` makes of some arguments: %s stands for any text, a
// number conversion for digits. With `prefix`, `text` may go on after it.
bool matchesFrom(const char* format, const char* text, bool prefix) {
  while (*format != '\0') {
    if (*format != '%') {
      if (*format++ != *text++) return false;
      continue;
    }
    ++format;
    while (*format == 'l' || (*format >= '0' && *format <= '9')) ++format;
    const char conversion = *format++;
    if (conversion == '%') {
      if (*text++ != '%') return false;
      continue;
    }
    for (const char* end = text;; ++end) {
      const bool fits =
          conversion == 's' || (end > text && std::all_of(text + (*text == '-' ? 1 : 0), end,
                                                          [&](char c) { return isDigit(c, conversion); }));
      if (fits && matchesFrom(format, end, prefix)) return true;
      if (*end == '\0') return false;
    }
  }
  return prefix || *text == '\0';
}

bool matches(const std::string& text, const char* format) { return matchesFrom(format, text.c_str(), false); }
bool startsAs(const std::string& text, const char* format) { return matchesFrom(format, text.c_str(), true); }

// A console line's format with its %s filled in, without the line end.
std::string filled(const char* format, const std::string& value) {
  std::string line = format;
  const size_t at = line.find("%s");
  if (at != std::string::npos) line.replace(at, 2, value);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

std::string withoutLineEnd(const char* text) { return filled(text, std::string()); }

std::vector<Entry> entriesOf(const std::vector<std::string>& log) {
  static const char* const levels[] = {ZQ_LOG_ERROR, ZQ_LOG_WARNING, ZQ_LOG_INFO, ZQ_LOG_DEBUG, ZQ_LOG_TRACE};
  std::vector<Entry> entries;
  for (const std::string& line : log) {
    // "[<time stamp>] [<LEVEL>] <message> at <source>:<line>"
    const size_t stampEnd = line.compare(0, 1, "[") == 0 ? line.find("] ") : std::string::npos;
    if (stampEnd == std::string::npos) continue;
    Entry entry;
    for (const char* level : levels) {
      if (line.compare(stampEnd + 2, std::string(level).size(), level) == 0) entry.level = level;
    }
    if (entry.level.empty()) continue;
    entry.message = line.substr(stampEnd + 2 + entry.level.size());
    static const std::string at = std::string(ZQ_LOG_AT).substr(0, std::string(ZQ_LOG_AT).find('%'));
    const size_t source = entry.message.rfind(at);
    const size_t colon = entry.message.rfind(':');
    if (source != std::string::npos && colon != std::string::npos && colon > source &&
        entry.message.find(' ', source + at.size()) == std::string::npos) {
      entry.source = entry.message.substr(source + at.size(), colon - source - at.size());
      entry.message.erase(source);
    }
    const size_t start = entry.message.find("(): ");
    entry.body = start == std::string::npos ? entry.message : entry.message.substr(start + 4);
    entries.push_back(entry);
  }
  return entries;
}

bool contains(const std::vector<std::string>& lines, const std::string& wanted) {
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

// An Info line of a driver's step: "Zq870::reset(): Records cleared".
bool logged(const std::vector<Entry>& entries, const char* operation, const char* body) {
  const std::string owner = std::string("::") + operation + "(): ";
  for (const Entry& entry : entries) {
    if (entry.level == ZQ_LOG_INFO && entry.message.find(owner) != std::string::npos && matches(entry.body, body)) {
      return true;
    }
  }
  return false;
}

// "Zq870::dump(): 5 records written to x.txt", logged once the file is saved.
bool loggedWritten(const std::vector<Entry>& entries, const std::string& dataName) {
  const std::string tail = " " + dataName;
  for (const Entry& entry : entries) {
    const std::string& body = entry.body;
    if (entry.level == ZQ_LOG_INFO && matches(body, ZQ_MSG_RECORDS_WRITTEN) && body.size() > tail.size() &&
        body.compare(body.size() - tail.size(), tail.size(), tail) == 0) {
      return true;
    }
  }
  return false;
}

// The error number of "... err => 2 (No such file or directory)", -1 without one.
long errorNumber(const std::string& message) {
  const size_t at = message.find(" => ");
  if (at == std::string::npos || at + 4 >= message.size()) return -1;
  return std::strtol(message.c_str() + at + 4, nullptr, 10);
}

// A reply's error code ("err => 7, ...", "err => 4EH, ..."); "err => 0" is no code at all, only
// bytes that are not a reply.
bool isErrorReply(const std::string& body) {
  const std::string marker = ZQ_MSG_ERROR_REPLY;
  return body.compare(0, marker.size(), marker) == 0 && body.compare(marker.size(), 2, "0,") != 0;
}

// The hex dump of a reply that starts like one but was cut off before its CR.
bool cutOffFrame(const std::string& body) {
  const size_t at = body.find("RPL=02 ");
  return at != std::string::npos && (body.size() < 3 || body.compare(body.size() - 3, 3, " 0D") != 0);
}

Cause causeOf(const std::vector<Entry>& entries, const Entry* innermost, const RunEnding& ending,
              const std::string& failures) {
  bool timedOut = false;
  for (const Entry& entry : entries) {
    const std::string& body = entry.body;
    if (startsAs(body, ZQ_MSG_STOP_REQUESTED)) return Cause::Stopped;
    if (matches(body, ZQ_MSG_NO_TIME_ZONE)) return Cause::TimeZone;
    if (matches(body, ZQ_MSG_OUT_OF_STEP)) return Cause::OutOfStep;
    if (matches(body, ZQ_MSG_PUNCHED)) return Cause::PunchedDuringRun;
    if (matches(body, ZQ_MSG_WAIT_TIMEOUT) || matches(body, ZQ_MSG_REPLY_DEADLINE)) timedOut = true;
    if (entry.level != ZQ_LOG_ERROR) continue;
    if (startsAs(body, ZQ_MSG_CONNECT_TIMEOUT)) {
      const bool refused = ending.runMs >= 0 && ending.connectWaitMs > 0 && ending.runMs < ending.connectWaitMs - 500;
      return refused ? Cause::Refused : Cause::Timeout;
    }
    if (startsAs(body, ZQ_MSG_CONNECT_FAILED)) {
      const long code = errorNumber(body);
      return code == 111 || code == 10061 ? Cause::Refused : Cause::Unreachable;
    }
    if (startsAs(body, ZQ_MSG_PORT_NOT_OPENED)) {
      const long code = errorNumber(body);
      if (code == 13 || code == 5) return Cause::Permission;
      if (code == 16 || code == 32) return Cause::PortBusy;
      return Cause::NoDevice;
    }
  }
  if (innermost == nullptr) {
    const std::string dataFile = withoutLineEnd(ZQ_CONSOLE_FAILURE "write data file");
    return failures.find(dataFile) != std::string::npos ? Cause::File : Cause::Program;
  }
  const std::string& body = innermost->body;
  if (timedOut) return Cause::Timeout;
  if (isErrorReply(body)) return Cause::TerminalError;
  // The 870 answers its clock and clearing with OK or NO: a failure without silence is its NO.
  if (matches(body, ZQ_MSG_870_NOT_CLEARED) || matches(body, ZQ_MSG_870_CLOCK_NOT_SET)) return Cause::TerminalError;
  if (matches(body, ZQ_MSG_NO_RESPONSE)) {
    return innermost->source == ZQ_SOURCE_ZQ2210 ? Cause::Timeout : Cause::Disconnected;
  }
  if (matches(body, ZQ_MSG_INVALID_RESPONSE) && cutOffFrame(body)) return Cause::Disconnected;
  if (body.find("RPL=") != std::string::npos || body.find("Invalid") != std::string::npos ||
      body.find("record") != std::string::npos || body.find("reply") != std::string::npos) {
    return Cause::Protocol;
  }
  if (matches(body, ZQ_MSG_NOT_A_FILE) || body.find("file") != std::string::npos) return Cause::File;
  return Cause::Program;
}

// "Dropped 130 bytes that came unasked: 30 30 ..." without its dump.
std::string withoutDump(const std::string& message) {
  const size_t dump = message.rfind(": ");
  return dump == std::string::npos ? message : message.substr(0, dump);
}

// Why the run failed, as its console and debug log tell it.
void diagnose(const RunEnding& ending, const std::vector<Entry>& entries, Verdict& verdict) {
  const std::string failurePrefix = ZQ_CONSOLE_FAILURE;
  std::string failures;
  for (const std::string& line : ending.console) {
    if (line.compare(0, failurePrefix.size(), failurePrefix) == 0) failures += (failures.empty() ? "" : " ") + line;
  }
  // The program's own wrap-up ("Can't update terminal 870 data", "Can't write data file ... mode
  // 0") repeats its console; the innermost line is the first of a driver or a transport.
  const Entry* innermost = nullptr;
  const Entry* kept = nullptr;  // the Warning that kept the clearing from being sent
  std::string unasked;
  for (const Entry& entry : entries) {
    const bool generic =
        entry.source == ZQ_SOURCE_APPLICATION || entry.source == ZQ_SOURCE_ENTRY || entry.source.empty();
    if (entry.level == ZQ_LOG_WARNING && matches(entry.body, ZQ_MSG_UNASKED)) unasked = withoutDump(entry.message);
    if (entry.level == ZQ_LOG_WARNING && kept == nullptr &&
        (matches(entry.body, ZQ_MSG_OUT_OF_STEP) || matches(entry.body, ZQ_MSG_PUNCHED))) {
      kept = &entry;
    }
    if (entry.level == ZQ_LOG_ERROR && !generic && innermost == nullptr) innermost = &entry;
  }
  if (failures.empty() && innermost == nullptr && kept == nullptr) return;
  verdict.cause = causeOf(entries, innermost != nullptr ? innermost : kept, ending, failures);
  std::string cause;
  if (kept != nullptr && (innermost == nullptr || innermost->message.find("reset()") != std::string::npos)) {
    cause = kept->message + (unasked.empty() ? "" : " (" + unasked + ")");
  } else if (innermost != nullptr) {
    cause = innermost->message;
  }
  if (!ending.device.empty() &&
      (verdict.cause == Cause::NoDevice || verdict.cause == Cause::Permission || verdict.cause == Cause::PortBusy)) {
    cause += " (" + ending.device + ")";
  }
  verdict.reason = cause.empty() ? failures : failures.empty() ? cause : cause + " / " + failures;
}

}  // namespace

std::vector<std::string> textLines(const std::string& text) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    result.push_back(line);
    start = end + 1;
  }
  return result;
}

Verdict judge(const RunEnding& ending, const std::string& dataName, bool wantsClear, bool wantsClock) {
  const std::vector<Entry> entries = entriesOf(ending.log);
  Verdict verdict;
  const bool returned = ending.exited && !ending.killed;
  verdict.everythingDone = returned && ending.code == 0;
  const bool saidWritten =
      contains(ending.console, filled(ZQ_CONSOLE_DATA_FILE_WRITTEN, dataName)) || loggedWritten(entries, dataName);
  // Exit 0 or 3 is the program's word that its file is complete, whatever became of its console;
  // without an exit code of its own, its console or its log must say so.
  verdict.complete = ending.dataFile && ((returned && (ending.code == 0 || ending.code == 3)) || saidWritten);
  verdict.cleanFailure = returned && ending.code == 2 && !ending.stopSent;
  if (!verdict.everythingDone) diagnose(ending, entries, verdict);
  if (!verdict.complete) return verdict;
  verdict.cleared =
      wantsClear &&
      (verdict.everythingDone || contains(ending.console, withoutLineEnd(ZQ_CONSOLE_DATA_CLEARED)) ||
       logged(entries, "reset", ZQ_MSG_RECORDS_CLEARED) || logged(entries, "reset", ZQ_MSG_NOTHING_TO_CLEAR));
  verdict.clockSet =
      wantsClock && (verdict.everythingDone || contains(ending.console, withoutLineEnd(ZQ_CONSOLE_DATE_TIME_UPDATED)) ||
                     logged(entries, "updateDateTime", ZQ_MSG_CLOCK_SET));
  return verdict;
}

}  // namespace ZqNightly
