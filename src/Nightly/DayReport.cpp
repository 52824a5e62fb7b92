// Only operating-system independent code.
#include "Nightly/DayReport.h"

#include <algorithm>

#include "Nightly/History.h"
#include "Nightly/Platform.h"

namespace ZqNightly {

bool DayReport::readEarlier(bool keepLegacy) {
  std::string text;
  std::string error;
  Json value;
  const std::string path = day_.reportPath();
  hasEarlier_ = FileSystem::kindOf(path) == FileSystem::Kind::File && FileSystem::readOwnFile(path, text, error) &&
                Json::parse(text, value, error) && fromJson(value, earlier_);
  if (!hasEarlier_ || !earlier_.jobs.items().empty() || !keepLegacy) return hasEarlier_;
  const std::string name = "reports/" + jobReportName(earlier_.started, std::string());
  if (FileSystem::makeOwnFolder(day_.file("reports"), error) &&
      FileSystem::writeAtomically(day_.file(name), text, error)) {
    earlier_.jobs.push(jobEntry(earlier_, name, false));
  }
  return true;
}

const TerminalReport* DayReport::earlierEntry(const std::string& name) const {
  if (!hasEarlier_) return nullptr;
  for (const TerminalReport& entry : earlier_.terminals) {
    if (foldName(entry.name) == foldName(name) && entry.outcome != Outcome::Invalid) return &entry;
  }
  return nullptr;
}

std::vector<TerminalReport> DayReport::merged(const std::vector<TerminalReport>& entries) const {
  std::vector<TerminalReport> result = entries;
  if (!hasEarlier_) return result;
  for (const TerminalReport& entry : earlier_.terminals) {
    const bool listed = std::any_of(result.begin(), result.end(), [&entry](const TerminalReport& t) {
      return foldName(t.name) == foldName(entry.name);
    });
    // A refused line is the terminals file's of that moment, not a terminal.
    if (!listed && entry.outcome != Outcome::Invalid) result.push_back(entry);
  }
  return result;
}

bool DayReport::write(const JobReport& own, JobReport& day, bool recovery, std::string& error) {
  JobReport ownReport = own;
  ownReport.jobs = Json::array();
  const std::string name = "reports/" + jobReportName(own.started, std::to_string(Process::currentId()));
  const bool kept = FileSystem::makeOwnFolder(day_.file("reports"), error) &&
                    FileSystem::writeAtomically(day_.file(name), toJson(ownReport).dump(), error);
  day.jobs = hasEarlier_ ? earlier_.jobs : Json::array();
  day.jobs.push(jobEntry(own, kept ? name : std::string(), recovery));
  if (hasEarlier_ && earlier_.interrupted) day.interrupted = true;
  std::string reportError;
  // report.json last: its presence means the night is finished.
  if (!FileSystem::writeAtomically(day_.reportPath(), toJson(day).dump(), reportError)) {
    error = reportError;
    return false;
  }
  return kept;
}

}  // namespace ZqNightly
