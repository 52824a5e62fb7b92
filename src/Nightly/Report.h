// What a night came to: report.json (the importer's and monitoring's contract: stable keys), the
// line printed for each terminal as it ends, the summary line, and the job's exit code.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Nightly/Json.h"
#include "Nightly/Outcome.h"

namespace ZqNightly {

// Whether a step was done: unknown without a complete download.
enum class Step { Unknown, Done, NotDone };

struct TerminalReport {
  std::string name;
  std::string model;
  std::string address;
  std::vector<std::string> switches;
  Outcome outcome = Outcome::NotRun;
  bool hasExitCode = false;  // the last attempt returned an exit code
  int exitCode = 0;
  int attempts = 0;
  bool hasRecords = false;  // a complete data file was made
  size_t records = 0;
  size_t newRecords = 0;
  size_t suspectRecords = 0;
  // Relative to the day folder with '/'; empty when there is none.
  std::string dataFile;
  std::string newFile;
  std::string logFile;
  // Local time with its offset (LocalTime::iso()); empty when nothing ran.
  std::string started;
  std::string finished;
  double seconds = 0;
  std::string reason;
  Cause cause = Cause::None;      // one word for monitoring; None when all is well
  Step cleared = Step::Unknown;   // the memory was emptied (or had nothing to clear)
  Step clockSet = Step::Unknown;  // the clock was set
  bool firstNight = false;        // the terminal's first download: its new/ file is its whole memory
  bool stateDamaged = false;      // the job's state of it was damaged: the download counts as new in full
  bool recovered = false;         // completed by a later job from what its run left

  bool selected(const std::vector<std::string>& names) const;
};

struct JobReport {
  std::string day;
  std::string started;
  std::string finished;
  int exitCode = 0;
  std::string version;         // zq-nightly's
  std::string program;         // the Zq-ReadUtility that was run
  std::string programVersion;  // what it says with --version; empty when unknown
  std::string terminalsFile;
  std::string stoppedBy;                   // what stopped the job; empty when nothing did
  bool interrupted = false;                // a job for the day ended without finishing it; a later one did
  std::vector<std::string> recoveredDays;  // other days this job completed
  // The day (report.json): the worst state of all its terminals as an exit code, and every job
  // that ran for it, oldest first, each with its own report in reports/.
  int dayExitCode = 0;
  Json jobs = Json::array();
  std::vector<TerminalReport> terminals;
};

// 0 every terminal complete or empty (or skipped as complete or not selected); 2 one has no
// complete file in place (failed, pending, busy, stopped, not run, invalid) or the job was
// stopped; 3 every file is complete, but a clock was not set, a memory not cleared, or a download
// had to count as new in full.
int exitCodeOf(const std::vector<TerminalReport>& terminals, bool stopped);

// The worse of two of those exit codes: 2 before 3 before 0.
int worseExitCode(int one, int other);

Json toJson(const TerminalReport& terminal);
Json toJson(const JobReport& report);
// A report as an earlier job wrote it; false when it is not one.
bool fromJson(const Json& value, TerminalReport& terminal);
bool fromJson(const Json& value, JobReport& report);

// The name of a job's own report in the day's reports/: "job-20261209T043000-1234.json" (its start
// and its process id, when known).
std::string jobReportName(const std::string& started, const std::string& id);
// A job's entry in report.json's "jobs": when it ran, how it ended, and its own report.
Json jobEntry(const JobReport& report, const std::string& file, bool recovery);

// "entrance: complete, 6 records, 6 new", "gone: failed after 3 attempts: Can't connect ..."; `note`
// follows the outcome ("office: not-cleared (earlier today), ...").
std::string terminalLine(const TerminalReport& terminal, const std::string& note = std::string());
// "2026-01-31: 1 complete, 1 empty, ... 2 failed (gone, dropped), ...; exit 2".
std::string summaryLine(const JobReport& report);

}  // namespace ZqNightly
