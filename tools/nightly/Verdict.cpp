// Only operating-system independent code.
#include "Verdict.h"

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

std::string failureOf(const std::vector<std::string>& console, const std::vector<std::string>& log) {
  std::string text;
  for (const std::string& line : console) {
    if (line.compare(0, 6, "Can't ") == 0) text += (text.empty() ? "" : " ") + line;
  }
  std::string lastError;
  for (const std::string& line : log) {
    const std::string message = messageAt(line, "ERROR");
    if (!message.empty()) lastError = message;
  }
  if (!lastError.empty()) text += (text.empty() ? "" : " / ") + lastError;
  return text;
}

}  // namespace ZqNightly
