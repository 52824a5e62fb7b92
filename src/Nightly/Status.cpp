// Only operating-system independent code.
#include "Nightly/Status.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "Nightly/DayFolder.h"
#include "Nightly/History.h"
#include "Nightly/Platform.h"
#include "Version.h"

namespace ZqNightly {
namespace {

// A held count that grew over this many nights is a memory filling up.
const int growthNights = 7;

std::string nights(int count) { return std::to_string(count) + (count == 1 ? " night" : " nights"); }

// Each report's entries by folded name: a site's terminals are looked up in every night's report.
using Index = std::vector<std::unordered_map<std::string, const TerminalReport*>>;

Index indexOf(const std::vector<JobReport>& reports) {
  Index index(reports.size());
  for (size_t i = 0; i < reports.size(); ++i) {
    for (const TerminalReport& entry : reports[i].terminals) index[i][foldName(entry.name)] = &entry;
  }
  return index;
}

// Its nights over the window, and what its memory held after each.
std::vector<TerminalNight> nightsOf(const std::string& name, const std::vector<std::string>& days, const Index& index,
                                    const std::vector<bool>& reported) {
  const std::string key = foldName(name);
  std::vector<TerminalNight> result;
  for (size_t i = 0; i < days.size(); ++i) {
    TerminalNight night;
    night.day = days[i];
    night.reported = reported[i];
    const auto found = reported[i] ? index[i].find(key) : index[i].end();
    if (found != index[i].end()) {
      night.listed = true;
      night.entry = *found->second;
    }
    if (night.listed && hasCompleteFile(night.entry.outcome) && night.entry.hasRecords) {
      night.hasHeld = true;
      night.held = night.entry.cleared == Step::Done ? 0 : night.entry.records;
    }
    result.push_back(night);
  }
  return result;
}

bool completeNight(const TerminalNight& night) { return night.listed && hasCompleteFile(night.entry.outcome); }

void judgeState(TerminalStatus& status) {
  const TerminalNight& last = status.nights.back();
  if (!completeNight(last)) {
    status.state = "failing";
    status.attention.push_back(!last.reported ? "no report for the night"
                               : !last.listed ? "not in the night's report"
                               : last.entry.reason.empty()
                                   ? std::string(name(last.entry.outcome))
                                   : std::string(name(last.entry.outcome)) + ": " + last.entry.reason);
    return;
  }
  const TerminalReport& entry = last.entry;
  if (entry.outcome == Outcome::NotCleared) status.attention.push_back("not cleared");
  if (entry.outcome == Outcome::ClockNotSet) status.attention.push_back("clock not set");
  if (entry.suspectRecords > 0) status.attention.push_back(std::to_string(entry.suspectRecords) + " suspect records");
  if (entry.firstNight) status.attention.push_back("first night");
  if (entry.stateDamaged) status.attention.push_back("state damaged");
  // A memory that is not cleared and grew over the last nights fills up.
  const size_t from = status.nights.size() > growthNights ? status.nights.size() - growthNights : 0;
  for (size_t i = from; i + 1 < status.nights.size(); ++i) {
    if (!status.nights[i].hasHeld) continue;
    if (status.recordsHeld > status.nights[i].held) status.attention.push_back("records held growing");
    break;
  }
  status.state = status.attention.empty() ? "ok" : "attention";
}

TerminalStatus statusOf(const std::string& name, const std::vector<std::string>& days, const Index& index,
                        const std::vector<bool>& reported) {
  TerminalStatus status;
  status.name = name;
  status.nights = nightsOf(name, days, index, reported);
  std::string lastFailed;
  for (const TerminalNight& night : status.nights) {
    if (night.listed) {
      status.model = night.entry.model;
      status.address = night.entry.address;
    }
    if (completeNight(night)) {
      status.lastCompleteDay = night.day;
      status.lastCompleteTime = night.entry.finished;
      status.lastCompleteRecords = night.entry.records;
      status.nightsFailing = 0;
      status.suspectLastNight = night.entry.suspectRecords;
    } else {
      ++status.nightsFailing;
      lastFailed = night.day;
    }
    if (night.listed && night.entry.cleared == Step::Done) status.lastClear = night.day;
    if (night.hasHeld) {
      status.hasHeld = true;
      status.recordsHeld = night.held;
    }
  }
  if (!completeNight(status.nights.back())) status.suspectLastNight = 0;
  judgeState(status);
  // A terminal that delivered since has delivered what a failed night missed: only a failing one
  // needs reading again.
  if (status.state == "failing") status.rerun = lastFailed;
  return status;
}

int severity(const TerminalStatus& status) {
  return status.state == "failing" ? 0 : status.state == "attention" ? 1 : 2;
}

// "1 <phrase> (name)" in the summary sentence.
std::string phrase(const std::string& reason) {
  if (reason == "records held growing") return "never cleared";
  if (reason == "first night") return "on its first night";
  if (reason == "clock not set") return "with its clock not set";
  if (reason == "state damaged") return "with damaged state";
  if (reason.find("suspect records") != std::string::npos) return "with " + reason;
  return reason;
}

std::string summaryOf(const FleetStatus& status) {
  std::string text = std::to_string(status.terminals.size()) +
                     (status.terminals.size() == 1 ? " terminal: " : " terminals: ") + std::to_string(status.ok) +
                     " fine";
  for (const TerminalStatus& terminal : status.terminals) {
    if (terminal.state == "failing") {
      text += ", 1 failing for " + nights(terminal.nightsFailing) + " (" + terminal.name + ")";
    } else if (terminal.state == "attention") {
      text +=
          ", 1 " + phrase(terminal.attention.front()) + " (" + terminal.name +
          (terminal.hasHeld && terminal.recordsHeld > 0 ? ", holds " + withThousands(terminal.recordsHeld) + " records"
                                                        : std::string()) +
          ")";
    }
  }
  return text;
}

std::string quotedArgument(const std::string& text) {
  return text.find_first_of(" \t\"'&|<>%$") == std::string::npos ? text : "\"" + text + "\"";
}

}  // namespace

int FleetStatus::exitCode() const { return failing > 0 ? 2 : attention > 0 ? 3 : 0; }

std::string withThousands(size_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

std::vector<std::string> windowDays(const std::string& day, int historyDays) {
  LocalTime last;
  std::vector<std::string> days;
  if (!Common::readDate(day, last)) return days;
  const int64_t end = Common::daysFromCivil(last.year, last.month, last.day);
  for (int64_t n = end - historyDays + 1; n <= end; ++n) {
    days.push_back(Common::civilFromDays(n).date());
  }
  return days;
}

FleetStatus computeStatus(const std::vector<std::string>& days, const std::vector<JobReport>& reports,
                          const std::vector<bool>& reported, const std::vector<std::string>& unfinished,
                          const std::vector<Terminal>& terminals, const std::string& outputFolder,
                          const std::string& terminalsFile) {
  FleetStatus status;
  status.outputFolder = outputFolder;
  status.terminalsFile = terminalsFile;
  status.day = days.empty() ? std::string() : days.back();
  status.historyDays = static_cast<int>(days.size());
  const Index index = indexOf(reports);
  std::map<std::string, bool> listed;
  for (const Terminal& terminal : terminals) {
    if (!terminal.valid() || listed.count(foldName(terminal.name)) != 0) continue;
    listed[foldName(terminal.name)] = true;
    TerminalStatus one = statusOf(terminal.name, days, index, reported);
    one.model = terminal.model;
    one.address = terminal.address;
    status.terminals.push_back(one);
  }
  for (size_t i = 0; i < days.size(); ++i) {
    DayStatus day;
    day.day = days[i];
    if (!reported[i]) {
      day.state =
          std::find(unfinished.begin(), unfinished.end(), days[i]) != unfinished.end() ? "unfinished" : "missing";
    } else {
      day.dayExitCode = reports[i].dayExitCode;
      day.state = reports[i].interrupted ? "interrupted" : day.dayExitCode == 0 ? "complete" : "failures";
      for (const TerminalReport& entry : reports[i].terminals) {
        if (entry.outcome == Outcome::Invalid || listed.count(foldName(entry.name)) != 0) continue;
        listed[foldName(entry.name)] = true;
        status.former.push_back(statusOf(entry.name, days, index, reported));
      }
    }
    status.days.push_back(day);
  }
  std::stable_sort(status.terminals.begin(), status.terminals.end(),
                   [](const TerminalStatus& a, const TerminalStatus& b) {
                     if (severity(a) != severity(b)) return severity(a) < severity(b);
                     if (a.nightsFailing != b.nightsFailing) return a.nightsFailing > b.nightsFailing;
                     return a.name < b.name;
                   });
  for (const TerminalStatus& terminal : status.terminals) {
    (terminal.state == "failing" ? status.failing : terminal.state == "attention" ? status.attention : status.ok)++;
  }
  for (std::vector<TerminalStatus>* list : {&status.terminals, &status.former}) {
    for (TerminalStatus& terminal : *list) {
      if (terminal.rerun.empty()) continue;
      terminal.rerun = "zq-nightly -f " + quotedArgument(terminalsFile) + " -o " + quotedArgument(outputFolder) +
                       " -d " + terminal.rerun + " -t " + terminal.name;
    }
  }
  status.summary = summaryOf(status);
  return status;
}

FleetStatus readStatus(const std::string& outputFolder, const std::string& day, int historyDays,
                       const std::vector<Terminal>& terminals, const std::string& terminalsFile) {
  // Nights before the first the job ever ran in this folder are no gaps: the window starts there.
  std::vector<std::string> days = windowDays(day, historyDays);
  const std::vector<std::string> folders = DayFolder::days(outputFolder);
  const std::string first = folders.empty() ? day : std::min(folders.front(), day);
  days.erase(days.begin(), std::lower_bound(days.begin(), days.end(), first));
  std::vector<JobReport> reports(days.size());
  std::vector<bool> reported(days.size(), false);
  std::vector<std::string> unfinished;
  for (size_t i = 0; i < days.size(); ++i) {
    const DayFolder folder(outputFolder, days[i]);
    std::string text;
    std::string error;
    Json value;
    reported[i] = FileSystem::kindOf(folder.reportPath()) == FileSystem::Kind::File &&
                  FileSystem::readOwnFile(folder.reportPath(), text, error) && Json::parse(text, value, error) &&
                  fromJson(value, reports[i]);
    if (!reported[i] && (FileSystem::exists(folder.lockPath()) || folder.hasWork())) unfinished.push_back(days[i]);
  }
  FleetStatus status = computeStatus(days, reports, reported, unfinished, terminals, outputFolder, terminalsFile);
  status.generated = Common::localTime().iso();
  status.version = ZQ_VERSION;
  return status;
}

}  // namespace ZqNightly
