// Only operating-system independent code: status.json, the console's table and the metrics.
#include <cstdio>

#include "Nightly/Platform.h"
#include "Nightly/Status.h"

namespace ZqNightly {
namespace {

Json nightJson(const TerminalNight& night) {
  Json out = Json::object();
  const TerminalReport& entry = night.entry;
  out.set("day", night.day);
  out.set("report", night.reported);
  out.set("outcome", night.listed ? Json(name(entry.outcome)) : Json());
  out.set("cause", night.listed ? Json::nullable(name(entry.cause)) : Json());
  out.set("reason", night.listed ? Json(entry.reason) : Json());
  out.set("records", night.listed && entry.hasRecords ? Json(static_cast<unsigned long long>(entry.records)) : Json());
  out.set("newRecords",
          night.listed && entry.hasRecords ? Json(static_cast<unsigned long long>(entry.newRecords)) : Json());
  out.set("held", night.hasHeld ? Json(static_cast<unsigned long long>(night.held)) : Json());
  out.set("cleared", night.listed && entry.cleared != Step::Unknown ? Json(entry.cleared == Step::Done) : Json());
  out.set("firstNight", night.listed && entry.firstNight);
  return out;
}

Json terminalJson(const TerminalStatus& t) {
  Json nights = Json::array();
  for (const TerminalNight& night : t.nights) nights.push(nightJson(night));
  Json last;
  if (!t.lastCompleteDay.empty()) {
    last = Json::object();
    last.set("day", t.lastCompleteDay);
    last.set("finished", Json::nullable(t.lastCompleteTime));
    last.set("records", static_cast<unsigned long long>(t.lastCompleteRecords));
  }
  Json out = Json::object();
  out.set("name", t.name);
  out.set("model", t.model);
  out.set("address", t.address);
  out.set("state", t.state);
  out.set("why", Json::array(t.attention));
  out.set("lastComplete", last);
  out.set("nightsFailing", t.nightsFailing);
  out.set("lastClear", Json::nullable(t.lastClear));
  out.set("recordsHeld", t.hasHeld ? Json(static_cast<unsigned long long>(t.recordsHeld)) : Json());
  out.set("suspectLastNight", static_cast<unsigned long long>(t.suspectLastNight));
  out.set("rerun", Json::nullable(t.rerun));
  out.set("nights", nights);
  return out;
}

// Seconds since 1970 of "YYYY-MM-DDThh:mm:ss+hh:mm"; -1 when it is not one.
long long epochOf(const std::string& iso) {
  LocalTime date;
  int hour = 0, minute = 0, second = 0, offsetHours = 0, offsetMinutes = 0;
  char sign = '+';
  if (iso.size() != 25 || !Common::readDate(iso.substr(0, 10), date) ||
      std::sscanf(iso.c_str() + 10, "T%2d:%2d:%2d%c%2d:%2d", &hour, &minute, &second, &sign, &offsetHours,
                  &offsetMinutes) != 6) {
    return -1;
  }
  const long long offset = (sign == '-' ? -1 : 1) * (offsetHours * 3600LL + offsetMinutes * 60LL);
  return Common::daysFromCivil(date.year, date.month, date.day) * 86400LL + hour * 3600LL + minute * 60LL + second -
         offset;
}

// A label value as the text format wants it: backslash, double quote and line feed escaped.
std::string label(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

void metric(std::string& out, const char* name, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

std::string cell(std::string text, size_t width) {
  if (text.size() > width) text = text.substr(0, width - 1) + "~";
  return text + std::string(width + 2 - text.size(), ' ');
}

}  // namespace

Json toJson(const FleetStatus& status) {
  Json counts = Json::object();
  counts.set("ok", status.ok).set("attention", status.attention).set("failing", status.failing);
  Json terminals = Json::array();
  for (const TerminalStatus& t : status.terminals) terminals.push(terminalJson(t));
  Json former = Json::array();
  for (const TerminalStatus& t : status.former) former.push(terminalJson(t));
  Json days = Json::array();
  for (const DayStatus& day : status.days) {
    Json one = Json::object();
    one.set("day", day.day).set("state", day.state);
    one.set("dayExitCode", day.state == "missing" || day.state == "unfinished" ? Json() : Json(day.dayExitCode));
    days.push(one);
  }
  Json out = Json::object();
  out.set("generated", status.generated);
  out.set("version", status.version);
  out.set("day", status.day);
  out.set("historyDays", status.historyDays);
  out.set("outputFolder", status.outputFolder);
  out.set("terminalsFile", status.terminalsFile);
  out.set("summary", status.summary);
  out.set("exitCode", status.exitCode());
  out.set("counts", counts);
  out.set("terminals", terminals);
  out.set("formerTerminals", former);
  out.set("days", days);
  return out;
}

std::string statusTable(const FleetStatus& status, bool colour) {
  const char* reset = colour ? "\x1b[0m" : "";
  std::string out = status.day + ": " + status.summary + "\n\n";
  out += cell("TERMINAL", 16) + cell("STATE", 9) + cell("LAST COMPLETE", 16) + cell("FAILING", 7) + cell("HELD", 8) +
         "WHY\n";
  for (const TerminalStatus& t : status.terminals) {
    const char* paint = !colour                  ? ""
                        : t.state == "failing"   ? "\x1b[31m"
                        : t.state == "attention" ? "\x1b[33m"
                                                 : "\x1b[32m";
    std::string why;
    for (const std::string& reason : t.attention) why += (why.empty() ? "" : "; ") + reason;
    out += cell(t.name, 16) + paint + cell(t.state, 9) + reset +
           cell(t.lastCompleteDay.empty() ? "-" : t.lastCompleteDay + " " + t.lastCompleteTime.substr(11, 5), 16) +
           cell(std::to_string(t.nightsFailing), 7) + cell(t.hasHeld ? std::to_string(t.recordsHeld) : "-", 8) + why +
           "\n";
    if (t.state == "failing" && !t.rerun.empty()) out += std::string(18, ' ') + "run again: " + t.rerun + "\n";
  }
  std::string missing;
  for (const DayStatus& day : status.days) {
    if (day.state == "missing" || day.state == "unfinished") missing += (missing.empty() ? "" : ", ") + day.day;
  }
  if (!missing.empty()) out += "\nDays without a report: " + missing + "\n";
  return out;
}

std::string metricsText(const FleetStatus& status, int exitCode) {
  std::string out;
  metric(out, "zq_nightly_exit_code", "The exit code of the last job: 0 all complete, 2 failures, 3 a step not done.");
  out += "zq_nightly_exit_code " + std::to_string(exitCode) + "\n";
  struct Figure {
    const char* name;
    const char* help;
  };
  const Figure figures[] = {
      {"zq_nightly_last_complete_timestamp_seconds", "When the terminal's last complete download ended (Unix time)."},
      {"zq_nightly_nights_failing", "Nights in a row without a complete download."},
      {"zq_nightly_records_held", "Records the terminal's memory holds after its last complete download."},
      {"zq_nightly_new_records", "Records last night's download delivered that no earlier one did."},
      {"zq_nightly_attention", "1 when the terminal needs attention or is failing, else 0."},
      {"zq_nightly_failing", "1 when the terminal had no complete download last night, else 0."},
  };
  for (size_t k = 0; k < sizeof figures / sizeof *figures; ++k) {
    metric(out, figures[k].name, figures[k].help);
    for (const TerminalStatus& t : status.terminals) {
      const TerminalNight& last = t.nights.back();
      std::string value;
      switch (k) {
        case 0:
          if (t.lastCompleteDay.empty() || epochOf(t.lastCompleteTime) < 0) continue;
          value = std::to_string(epochOf(t.lastCompleteTime));
          break;
        case 1: value = std::to_string(t.nightsFailing); break;
        case 2:
          if (!t.hasHeld) continue;
          value = std::to_string(t.recordsHeld);
          break;
        case 3: value = std::to_string(last.listed && last.entry.hasRecords ? last.entry.newRecords : 0); break;
        case 4: value = t.state == "ok" ? "0" : "1"; break;
        default: value = t.state == "failing" ? "1" : "0"; break;
      }
      out += std::string(figures[k].name) + "{terminal=\"" + label(t.name) + "\"} " + value + "\n";
    }
  }
  return out;
}

}  // namespace ZqNightly
