// The morning view: what the nights' reports say of each terminal, computed over the last days
// (31 by default): its state now, its last complete download, the nights it has failed in a row,
// its last confirmed clear, the records it holds, and night by night what became of it. Written as
// DIR/status.json (the contract for scripts and monitoring), DIR/status.html (one self-contained
// page), a plain table for the console, and the Prometheus text format for a metrics collector.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Nightly/Json.h"
#include "Nightly/Report.h"
#include "Nightly/TerminalList.h"

namespace ZqNightly {

// One night of one terminal: its entry in that day's report, if any.
struct TerminalNight {
  std::string day;
  bool reported = false;  // the day has a report.json
  bool listed = false;    // and the terminal is in it
  TerminalReport entry;
  bool hasHeld = false;  // what its memory held after that night is known
  size_t held = 0;
};

struct TerminalStatus {
  std::string name;
  std::string model;
  std::string address;
  std::string state;                   // "ok", "attention" or "failing"
  std::vector<std::string> attention;  // why it needs attention, or why it fails
  std::string lastCompleteDay;         // "" when there is none in the window
  std::string lastCompleteTime;        // when that download ended (local time with offset)
  size_t lastCompleteRecords = 0;
  int nightsFailing = 0;
  std::string lastClear;  // the day of its last confirmed clear, "" when none in the window
  bool hasHeld = false;   // what its memory holds now is known
  size_t recordsHeld = 0;
  size_t suspectLastNight = 0;
  std::string rerun;                  // the command that reads it again for its last failed day
  std::vector<TerminalNight> nights;  // every day of the window, oldest first
};

struct DayStatus {
  std::string day;
  // "complete", "failures" (a terminal failed or needs attention), "interrupted" (a job ended
  // abnormally and a later one completed the day), "unfinished" (no report, but a job's lock or
  // working folders: a job runs, or one ended and nothing has completed it yet), "missing" (no
  // report: no job ran, a gap).
  std::string state;
  int dayExitCode = 0;
};

struct FleetStatus {
  std::string generated;  // when, local time with offset
  std::string version;
  std::string day;  // the last day of the window
  int historyDays = 31;
  std::string outputFolder;
  std::string terminalsFile;
  std::vector<TerminalStatus> terminals;  // of the terminals file, worst first
  std::vector<TerminalStatus> former;     // in the reports, no longer in the file
  std::vector<DayStatus> days;            // every day of the window, oldest first
  std::string summary;                    // "12 terminals: 10 fine, 1 failing for 3 nights (office), ..."
  int ok = 0;
  int attention = 0;
  int failing = 0;

  // 0 when every terminal is ok, 3 when some need attention, 2 when some are failing.
  int exitCode() const;
};

// "1,958": counts as the summary and the page show them.
std::string withThousands(size_t value);

// The window's days, oldest first: `historyDays` calendar days up to `day`.
std::vector<std::string> windowDays(const std::string& day, int historyDays);

// The status from the day folders of `outputFolder` (read only).
FleetStatus readStatus(const std::string& outputFolder, const std::string& day, int historyDays,
                       const std::vector<Terminal>& terminals, const std::string& terminalsFile);

// The status from reports already read: `reports[i]` is day `days[i]`'s, when `reported[i]`;
// `unfinished`, the days without a report that hold a job's lock or working folders.
FleetStatus computeStatus(const std::vector<std::string>& days, const std::vector<JobReport>& reports,
                          const std::vector<bool>& reported, const std::vector<std::string>& unfinished,
                          const std::vector<Terminal>& terminals, const std::string& outputFolder,
                          const std::string& terminalsFile);

Json toJson(const FleetStatus& status);
// The plain table of --status, with ANSI colours only when `colour`.
std::string statusTable(const FleetStatus& status, bool colour);
// One self-contained page: inline CSS and SVG, no script, nothing fetched.
std::string statusPage(const FleetStatus& status);
// The Prometheus text exposition format: the night's exit code and each terminal's figures.
std::string metricsText(const FleetStatus& status, int exitCode);

}  // namespace ZqNightly
