// Only operating-system independent code.
#include "Nightly/Verdict.h"

#include <algorithm>

namespace ZqNightly {
namespace {

bool contains(const std::vector<std::string>& lines, const std::string& wanted) {
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

// The message of a debug log line at `level` ("INFO", "ERROR"), without the time stamp and the
// source position; "" when the line is not at that level.
std::string messageAt(const std::string& line, const char* level) {
  const std::string tag = std::string("] [") + level + "] ";
  const size_t at = line.find(tag);
  if (at == std::string::npos || line.compare(0, 1, "[") != 0) return std::string();
  std::string message = line.substr(at + tag.size());
  // The source position (" at Zq\\Zq870:150") is for developers; the log keeps it.
  const size_t source = message.rfind(" at ");
  if (source != std::string::npos && message.find(':', source) != std::string::npos &&
      message.find(' ', source + 4) == std::string::npos) {
    message.erase(source);
  }
  return message;
}

// An Info line of a driver's: "Zq870::reset(): Records cleared".
bool logged(const std::vector<std::string>& log, const std::string& operation, const std::string& text) {
  for (const std::string& line : log) {
    const std::string message = messageAt(line, "INFO");
    const size_t at = message.find("::" + operation + "(): ");
    if (at != std::string::npos && message.compare(at + operation.size() + 6, text.size(), text) == 0) return true;
  }
  return false;
}

// "Zq870::dump(): 5 records written to x.txt", logged once the file is saved.
bool loggedWritten(const std::vector<std::string>& log, const std::string& dataName) {
  const std::string tail = " records written to " + dataName;
  for (const std::string& line : log) {
    const std::string message = messageAt(line, "INFO");
    if (message.find("::dump(): ") != std::string::npos && message.size() >= tail.size() &&
        message.compare(message.size() - tail.size(), tail.size(), tail) == 0) {
      return true;
    }
  }
  return false;
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
  Verdict verdict;
  const bool returned = ending.exited && !ending.killed;
  verdict.everythingDone = returned && ending.code == 0;
  const bool saidWritten = contains(ending.console, "Data file \"" + dataName + "\" written successfully.") ||
                           loggedWritten(ending.log, dataName);
  // Exit 0 or 3 is the program's word that its file is complete, whatever became of its console;
  // without an exit code of its own, its console or its log must say so.
  verdict.complete = ending.dataFile && ((returned && (ending.code == 0 || ending.code == 3)) || saidWritten);
  verdict.cleanFailure = returned && ending.code == 2 && !ending.stopSent;
  if (!verdict.complete) return verdict;
  verdict.cleared =
      wantsClear && (verdict.everythingDone || contains(ending.console, "Data cleared successfully.") ||
                     logged(ending.log, "reset", "Records cleared") || logged(ending.log, "reset", "Nothing to clear"));
  verdict.clockSet =
      wantsClock && (verdict.everythingDone || contains(ending.console, "Date/time updated successfully.") ||
                     logged(ending.log, "updateDateTime", "Date/time set to"));
  return verdict;
}

const int64_t connectWaitMs = 2500;

namespace {

// One line of the program's debug log.
struct Entry {
  std::string level;    // ERROR, WARNING, INFO, ...
  std::string message;  // without time stamp, level and source position
  std::string source;   // "Zq\\Zq870", "Application", ...
};

std::vector<Entry> entriesOf(const std::vector<std::string>& log) {
  std::vector<Entry> entries;
  for (const std::string& line : log) {
    if (line.compare(0, 1, "[") != 0) continue;
    const size_t open = line.find("] [");
    const size_t close = open == std::string::npos ? open : line.find("] ", open + 3);
    if (close == std::string::npos) continue;
    Entry entry;
    entry.level = line.substr(open + 3, close - open - 3);
    entry.message = line.substr(close + 2);
    const size_t at = entry.message.rfind(" at ");
    if (at != std::string::npos && entry.message.find(':', at) != std::string::npos &&
        entry.message.find(' ', at + 4) == std::string::npos) {
      entry.source = entry.message.substr(at + 4, entry.message.rfind(':') - at - 4);
      entry.message.erase(at);
    }
    entries.push_back(entry);
  }
  return entries;
}

bool has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The error number of "..., err => 2 (No such file or directory)" or "err => 115", -1 without one.
long errorNumber(const std::string& message) {
  const size_t at = message.find("err => ");
  if (at == std::string::npos) return -1;
  long value = 0;
  size_t i = at + 7;
  if (i >= message.size() || message[i] < '0' || message[i] > '9') return -1;
  for (; i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i) value = value * 10 + (message[i] - '0');
  return value;
}

// A reply's error code: "err => 7, ..., RPL=" (735) or "err => 4EH, ..., RPL=" (2210); "err => 0"
// is no code at all, only bytes that are not a reply.
bool isErrorReply(const std::string& message) {
  const size_t at = message.find("err => ");
  return at != std::string::npos && has(message, ", RPL=") && message.compare(at + 7, 2, "0,") != 0;
}

// The hex dump of a reply ("RPL=02 41 31 ... 2C") without its end: a frame that was cut off.
bool cutOffFrame(const std::string& message) {
  const size_t at = message.find("RPL=02 ");
  if (at == std::string::npos) return false;
  return message.size() < 3 || message.compare(message.size() - 3, 3, " 0D") != 0;
}

std::string causeOf(const std::vector<Entry>& entries, const Entry* innermost, int64_t runMs,
                    const std::string& failures) {
  bool timedOut = false;
  for (const Entry& entry : entries) {
    const std::string& m = entry.message;
    if (has(m, "Stop requested")) return "stopped";
    if (has(m, "names no time zone")) return "time-zone";
    if (has(m, "The connection is out of step")) return "out-of-step";
    if (has(m, "saved: nothing is cleared")) return "punched-during-run";
    if (has(m, "Read timeout") || has(m, "Write timeout") || has(m, "Reply not complete within")) timedOut = true;
    if (entry.level != "ERROR") continue;
    if (has(m, "Socket::connect(): Connection timeout")) return runMs < connectWaitMs - 500 ? "refused" : "timeout";
    if (has(m, "Socket::connect(): connect(): Can't connect")) {
      const long code = errorNumber(m);
      return code == 111 || code == 10061 ? "refused" : "unreachable";
    }
    if (has(m, "SerialPort::open()")) {
      const long code = errorNumber(m);
      if (code == 13 || code == 5) return "permission";
      if (code == 16 || code == 32) return "port-busy";
      return "no-device";
    }
  }
  if (innermost == nullptr) return has(failures, "Can't write data file") ? "file" : "program";
  const std::string& m = innermost->message;
  if (timedOut) return "timeout";
  if (isErrorReply(m)) return "terminal-error";
  // The 870 answers its clock and clearing with OK or NO: a failure without silence is its NO.
  if (has(m, "Zq870::reset(): Can't clean up") || has(m, "Zq870::updateDateTime(): Can't update")) {
    return "terminal-error";
  }
  if (has(m, "Can't read terminal response")) return innermost->source == "Zq\\Zq2210" ? "timeout" : "disconnected";
  if (has(m, "Invalid terminal response") && cutOffFrame(m)) return "disconnected";
  if (has(m, "RPL=") || has(m, "Invalid") || has(m, "Empty record") || has(m, "Can't get record") ||
      has(m, "No complete reply")) {
    return "protocol";
  }
  if (has(m, "Can't write") || has(m, "Can't open file") || has(m, "no regular file") || has(m, "Can't save")) {
    return "file";
  }
  return "program";
}

// "Dropped 130 bytes that came unasked: 30 30 ..." without its dump.
std::string withoutDump(const std::string& message) {
  const size_t dump = message.find("came unasked: ");
  return dump == std::string::npos ? message : message.substr(0, dump + 12);
}

}  // namespace

Diagnosis diagnose(const std::vector<std::string>& console, const std::vector<std::string>& log, int64_t runMs,
                   const std::string& device) {
  const std::vector<Entry> entries = entriesOf(log);
  std::string failures;
  for (const std::string& line : console) {
    if (line.compare(0, 6, "Can't ") == 0) failures += (failures.empty() ? "" : " ") + line;
  }
  // The program's own wrap-up ("Can't update terminal 870 data", "Can't write data file ... mode
  // 0") repeats its console; the innermost line is the first of a driver or a transport.
  const Entry* innermost = nullptr;
  const Entry* kept = nullptr;  // the Warning that kept the clearing from being sent
  std::string unasked;
  for (const Entry& entry : entries) {
    const bool generic = entry.source == "Application" || entry.source == "Zq-ReadUtility" || entry.source.empty();
    if (entry.level == "WARNING" && has(entry.message, "came unasked")) unasked = withoutDump(entry.message);
    if (entry.level == "WARNING" && kept == nullptr &&
        (has(entry.message, "no clearing request is sent") || has(entry.message, "saved: nothing is cleared"))) {
      kept = &entry;
    }
    if (entry.level == "ERROR" && !generic && innermost == nullptr) innermost = &entry;
  }
  Diagnosis diagnosis;
  if (failures.empty() && innermost == nullptr && kept == nullptr) return diagnosis;
  diagnosis.cause = causeOf(entries, innermost != nullptr ? innermost : kept, runMs, failures);
  std::string cause;
  if (kept != nullptr && (innermost == nullptr || has(innermost->message, "reset()"))) {
    cause = kept->message + (unasked.empty() ? "" : " (" + unasked + ")");
  } else if (innermost != nullptr) {
    cause = innermost->message;
  }
  if (!device.empty() &&
      (diagnosis.cause == "no-device" || diagnosis.cause == "permission" || diagnosis.cause == "port-busy")) {
    cause += " (" + device + ")";
  }
  diagnosis.reason = cause.empty() ? failures : failures.empty() ? cause : cause + " / " + failures;
  return diagnosis;
}

}  // namespace ZqNightly
