// Only operating-system independent code.
#include "Report.h"

#include <cstdio>

namespace ZqNightly {
namespace {

const char* const outcomes[] = {"complete", "empty",   "clock-not-set", "not-cleared",
                                "failed",   "stopped", "skipped",       "not-run"};

bool isInvalidLine(const TerminalReport& terminal) {
  return terminal.outcome == "skipped" && terminal.reason.compare(0, 12, "invalid line") == 0;
}

// JSON text of UTF-8 bytes: bytes that are not UTF-8 (a log in code page 1251) become U+FFFD.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      const size_t length = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
      bool whole = length > 0 && i + length <= text.size();
      for (size_t k = 1; whole && k < length; ++k) whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
      if (whole) {
        out.append(text, i, length);
        i += length;
      } else {
        out += "\xEF\xBF\xBD";
        ++i;
      }
    }
  }
  return out + "\"";
}

std::string nullable(const std::string& text) { return text.empty() ? "null" : quoted(text); }

std::string number(size_t value, bool known) { return known ? std::to_string(value) : "null"; }

std::string plural(size_t count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace

int exitCodeOf(const std::vector<TerminalReport>& terminals, bool stopped) {
  bool incomplete = stopped;
  bool stepFailed = false;
  for (const TerminalReport& terminal : terminals) {
    const std::string& o = terminal.outcome;
    if (o == "failed" || o == "stopped" || o == "not-run" || isInvalidLine(terminal)) incomplete = true;
    if (o == "clock-not-set" || o == "not-cleared") stepFailed = true;
  }
  return incomplete ? 2 : stepFailed ? 3 : 0;
}

std::string toJson(const JobReport& report) {
  std::string out = "{\n";
  out += "  \"day\": " + quoted(report.day) + ",\n";
  out += "  \"started\": " + quoted(report.started.iso()) + ",\n";
  out += "  \"finished\": " + quoted(report.finished.iso()) + ",\n";
  out += "  \"exitCode\": " + std::to_string(report.exitCode) + ",\n";
  out += "  \"stoppedBy\": " + nullable(report.stoppedBy) + ",\n";
  out += "  \"version\": " + quoted(report.version) + ",\n";
  out += "  \"program\": " + quoted(report.program) + ",\n";
  out += "  \"programVersion\": " + nullable(report.programVersion) + ",\n";
  out += "  \"terminalsFile\": " + quoted(report.terminalsFile) + ",\n";
  out += "  \"terminals\": [";
  for (size_t i = 0; i < report.terminals.size(); ++i) {
    const TerminalReport& t = report.terminals[i];
    std::string switches;
    for (const std::string& s : t.switches) switches += (switches.empty() ? "" : ", ") + quoted(s);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", t.seconds);
    out += i == 0 ? "\n" : ",\n";
    out += "    {\n";
    out += "      \"name\": " + quoted(t.name) + ",\n";
    out += "      \"model\": " + quoted(t.model) + ",\n";
    out += "      \"address\": " + quoted(t.address) + ",\n";
    out += "      \"switches\": [" + switches + "],\n";
    out += "      \"outcome\": " + quoted(t.outcome) + ",\n";
    out += "      \"exitCode\": " + (t.hasExitCode ? std::to_string(t.exitCode) : "null") + ",\n";
    out += "      \"attempts\": " + std::to_string(t.attempts) + ",\n";
    out += "      \"records\": " + number(t.records, t.hasRecords) + ",\n";
    out += "      \"newRecords\": " + number(t.newRecords, t.hasRecords) + ",\n";
    out += "      \"suspectRecords\": " + number(t.suspectRecords, t.hasRecords) + ",\n";
    out += "      \"dataFile\": " + nullable(t.dataFile) + ",\n";
    out += "      \"newFile\": " + nullable(t.newFile) + ",\n";
    out += "      \"logFile\": " + nullable(t.logFile) + ",\n";
    out += "      \"started\": " + (t.ran ? quoted(t.started.iso()) : "null") + ",\n";
    out += "      \"finished\": " + (t.ran ? quoted(t.finished.iso()) : "null") + ",\n";
    out += "      \"seconds\": " + (t.ran ? std::string(seconds) : "null") + ",\n";
    out += "      \"reason\": " + quoted(t.reason) + "\n";
    out += "    }";
  }
  out += report.terminals.empty() ? "]\n" : "\n  ]\n";
  return out + "}\n";
}

std::string terminalLine(const TerminalReport& t) {
  std::string line = t.name + ": " + t.outcome;
  if (t.hasRecords) {
    line += t.records == 0 ? ", no records"
                           : ", " + plural(t.records, "record") + ", " + std::to_string(t.newRecords) + " new";
    if (t.suspectRecords > 0) line += ", " + std::to_string(t.suspectRecords) + " suspect";
  } else if (t.outcome == "failed" && t.attempts > 1) {
    line += " after " + std::to_string(t.attempts) + " attempts";
  }
  return t.reason.empty() ? line : line + ": " + t.reason;
}

std::string summaryLine(const JobReport& report) {
  std::string line = report.day + ":";
  for (size_t k = 0; k < sizeof outcomes / sizeof *outcomes; ++k) {
    const std::string outcome = outcomes[k];
    size_t count = 0;
    std::string names;
    for (const TerminalReport& t : report.terminals) {
      if (t.outcome != outcome) continue;
      ++count;
      // Named where someone has to look: failures, and the lines of the file that were refused.
      const bool named = outcome == "skipped" ? isInvalidLine(t) : k >= 2;
      if (named) names += (names.empty() ? "" : ", ") + t.name;
    }
    line += (k == 0 ? " " : ", ") + std::to_string(count) + " " + outcome;
    if (!names.empty()) line += " (" + names + ")";
  }
  return line + "; exit " + std::to_string(report.exitCode);
}

}  // namespace ZqNightly
