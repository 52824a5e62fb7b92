// Only operating-system independent code.
#include "Nightly/Report.h"

#include <cmath>

namespace ZqNightly {
namespace {

Json number(size_t value, bool known) { return known ? Json(static_cast<unsigned long long>(value)) : Json(); }

Json stepJson(Step step) { return step == Step::Unknown ? Json() : Json(step == Step::Done); }

Step stepOf(const Json& value) {
  return value.type() != Json::Bool ? Step::Unknown : value.asBool() ? Step::Done : Step::NotDone;
}

std::string plural(size_t count, const char* word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

}  // namespace

bool TerminalReport::selected(const std::vector<std::string>& names) const {
  for (const std::string& wanted : names) {
    if (wanted == name) return true;
  }
  return false;
}

int exitCodeOf(const std::vector<TerminalReport>& terminals, bool stopped) {
  bool incomplete = stopped;
  bool stepFailed = false;
  for (const TerminalReport& terminal : terminals) {
    if (isIncomplete(terminal.outcome)) incomplete = true;
    if (isStepFailed(terminal.outcome) || (terminal.stateDamaged && hasCompleteFile(terminal.outcome))) {
      stepFailed = true;
    }
  }
  return incomplete ? 2 : stepFailed ? 3 : 0;
}

int worseExitCode(int one, int other) {
  if (one == 2 || other == 2) return 2;
  return one == 3 || other == 3 ? 3 : 0;
}

Json toJson(const TerminalReport& t) {
  const bool ran = !t.started.empty();
  Json out = Json::object();
  out.set("name", t.name);
  out.set("model", t.model);
  out.set("address", t.address);
  out.set("switches", Json::array(t.switches));
  out.set("outcome", name(t.outcome));
  out.set("exitCode", t.hasExitCode ? Json(t.exitCode) : Json());
  out.set("attempts", t.attempts);
  out.set("records", number(t.records, t.hasRecords));
  out.set("newRecords", number(t.newRecords, t.hasRecords));
  out.set("suspectRecords", number(t.suspectRecords, t.hasRecords));
  out.set("dataFile", Json::nullable(t.dataFile));
  out.set("newFile", Json::nullable(t.newFile));
  out.set("logFile", Json::nullable(t.logFile));
  out.set("started", Json::nullable(t.started));
  out.set("finished", ran ? Json::nullable(t.finished) : Json());
  out.set("seconds", ran ? Json(std::round(t.seconds * 10) / 10) : Json());
  out.set("reason", t.reason);
  out.set("cause", Json::nullable(name(t.cause)));
  out.set("cleared", stepJson(t.cleared));
  out.set("clockSet", stepJson(t.clockSet));
  out.set("firstNight", t.firstNight);
  out.set("stateDamaged", t.stateDamaged);
  out.set("recovered", t.recovered);
  return out;
}

Json toJson(const JobReport& report) {
  Json terminals = Json::array();
  for (const TerminalReport& t : report.terminals) terminals.push(toJson(t));
  Json out = Json::object();
  out.set("day", report.day);
  out.set("started", report.started);
  out.set("finished", report.finished);
  out.set("exitCode", report.exitCode);
  out.set("dayExitCode", report.dayExitCode);
  out.set("stoppedBy", Json::nullable(report.stoppedBy));
  out.set("version", report.version);
  out.set("program", report.program);
  out.set("programVersion", Json::nullable(report.programVersion));
  out.set("terminalsFile", report.terminalsFile);
  out.set("interrupted", report.interrupted);
  out.set("recoveredDays", Json::array(report.recoveredDays));
  out.set("jobs", report.jobs);
  out.set("terminals", terminals);
  return out;
}

bool fromJson(const Json& value, TerminalReport& t) {
  if (value.type() != Json::Object || value["name"].type() != Json::String ||
      !outcomeNamed(value["outcome"].asString(), t.outcome)) {
    return false;
  }
  t.name = value["name"].asString();
  t.model = value["model"].asString();
  t.address = value["address"].asString();
  t.switches = value["switches"].texts();
  t.hasExitCode = value["exitCode"].type() == Json::Number;
  t.exitCode = static_cast<int>(value["exitCode"].asInteger());
  t.attempts = static_cast<int>(value["attempts"].asInteger());
  t.hasRecords = value["records"].type() == Json::Number;
  t.records = static_cast<size_t>(value["records"].asInteger());
  t.newRecords = static_cast<size_t>(value["newRecords"].asInteger());
  t.suspectRecords = static_cast<size_t>(value["suspectRecords"].asInteger());
  t.dataFile = value["dataFile"].asString();
  t.newFile = value["newFile"].asString();
  t.logFile = value["logFile"].asString();
  t.started = value["started"].asString();
  t.finished = value["finished"].asString();
  t.seconds = value["seconds"].asNumber();
  t.reason = value["reason"].asString();
  t.cause = Cause::None;
  causeNamed(value["cause"].asString(), t.cause);
  t.cleared = stepOf(value["cleared"]);
  t.clockSet = stepOf(value["clockSet"]);
  t.firstNight = value["firstNight"].asBool();
  t.stateDamaged = value["stateDamaged"].asBool();
  t.recovered = value["recovered"].asBool();
  return true;
}

bool fromJson(const Json& value, JobReport& report) {
  if (value.type() != Json::Object || value["day"].type() != Json::String) return false;
  report.day = value["day"].asString();
  report.started = value["started"].asString();
  report.finished = value["finished"].asString();
  report.exitCode = static_cast<int>(value["exitCode"].asInteger());
  report.dayExitCode = static_cast<int>(value["dayExitCode"].asInteger(report.exitCode));
  report.jobs = value["jobs"].type() == Json::Array ? value["jobs"] : Json::array();
  report.stoppedBy = value["stoppedBy"].asString();
  report.version = value["version"].asString();
  report.program = value["program"].asString();
  report.programVersion = value["programVersion"].asString();
  report.terminalsFile = value["terminalsFile"].asString();
  report.interrupted = value["interrupted"].asBool();
  report.recoveredDays = value["recoveredDays"].texts();
  report.terminals.clear();
  for (const Json& item : value["terminals"].items()) {
    TerminalReport terminal;
    if (fromJson(item, terminal)) report.terminals.push_back(terminal);
  }
  return true;
}

std::string jobReportName(const std::string& started, const std::string& id) {
  std::string stamp;
  for (size_t i = 0; i < started.size() && i < 19; ++i) {
    if ((started[i] >= '0' && started[i] <= '9') || started[i] == 'T') stamp += started[i];
  }
  return "job-" + stamp + (id.empty() ? "" : "-" + id) + ".json";
}

Json jobEntry(const JobReport& report, const std::string& file, bool recovery) {
  Json entry = Json::object();
  entry.set("started", report.started);
  entry.set("finished", report.finished);
  entry.set("exitCode", report.exitCode);
  entry.set("stoppedBy", Json::nullable(report.stoppedBy));
  entry.set("version", report.version);
  entry.set("recovery", recovery);
  entry.set("report", Json::nullable(file));
  return entry;
}

std::string terminalLine(const TerminalReport& t, const std::string& note) {
  std::string line = t.name + ": " + name(t.outcome) + (note.empty() ? "" : " (" + note + ")");
  if (t.hasRecords) {
    line += t.records == 0 ? ", no records"
                           : ", " + plural(t.records, "record") + ", " + std::to_string(t.newRecords) + " new";
    if (t.suspectRecords > 0) line += ", " + std::to_string(t.suspectRecords) + " suspect";
  } else if ((t.outcome == Outcome::Failed || t.outcome == Outcome::Busy) && t.attempts > 1) {
    line += " after " + std::to_string(t.attempts) + " attempts";
  }
  if (t.recovered) line += " (recovered)";
  return t.reason.empty() ? line : line + ": " + t.reason;
}

std::string summaryLine(const JobReport& report) {
  std::string line = report.day + ":";
  bool first = true;
  for (Outcome outcome : allOutcomes) {
    size_t count = 0;
    std::string names;
    for (const TerminalReport& t : report.terminals) {
      if (t.outcome != outcome) continue;
      ++count;
      // Named where someone has to look: failures, and the lines of the file that were refused.
      const bool named = isIncomplete(outcome) || isStepFailed(outcome);
      if (named) names += (names.empty() ? "" : ", ") + t.name;
    }
    line += (first ? " " : ", ") + std::to_string(count) + " " + name(outcome);
    if (!names.empty()) line += " (" + names + ")";
    first = false;
  }
  return line + "; exit " + std::to_string(report.exitCode);
}

}  // namespace ZqNightly
