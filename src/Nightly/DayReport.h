// A day's report.json and reports/: what the day's jobs said, read back and written anew. The
// report describes the day, not only the last job: a terminal a job did not read keeps its entry
// from the day's earlier report, every job keeps its own report in reports/, listed in `jobs`, and
// report.json, written last, stays the mark that the night is finished.
#pragma once

#include <string>
#include <vector>

#include "Nightly/DayFolder.h"
#include "Nightly/Report.h"

namespace ZqNightly {

class DayReport {
public:
  explicit DayReport(const DayFolder& day) : day_(day) {}

  // Reads the day's report.json, if there is one. With `keepLegacy`, one written by an earlier
  // version (which kept no history) is kept in reports/ as its job's own.
  bool readEarlier(bool keepLegacy);
  bool hasEarlier() const { return hasEarlier_; }
  const JobReport& earlier() const { return earlier_; }
  // The day's earlier entry of a terminal (any case of its name); null when there is none.
  const TerminalReport* earlierEntry(const std::string& name) const;

  // The day's terminals: `entries` (in their order), then the earlier ones they leave out that
  // are still worth listing (terminals no longer in the file).
  std::vector<TerminalReport> merged(const std::vector<TerminalReport>& entries) const;

  // Writes `own` (a job's own report) into reports/, then `day` (the day's) as report.json with
  // the earlier jobs and this one in `jobs`. `recovery`: a job of another day that completed this
  // one. False, said in `error`, when report.json could not be written.
  bool write(const JobReport& own, JobReport& day, bool recovery, std::string& error);

private:
  const DayFolder& day_;
  JobReport earlier_;
  bool hasEarlier_ = false;
};

}  // namespace ZqNightly
