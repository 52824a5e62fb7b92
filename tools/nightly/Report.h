// What a night came to: report.json (the importer's and monitoring's contract: stable keys), the
// line printed for each terminal as it ends, the summary line, and the job's exit code.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Clock.h"

namespace ZqNightly {

// A terminal's outcome: complete, empty, clock-not-set, not-cleared, failed, stopped, skipped,
// not-run.
struct TerminalReport {
  std::string name;
  std::string model;
  std::string address;
  std::vector<std::string> switches;
  std::string outcome;
  bool hasExitCode = false;  // the last attempt returned an exit code
  int exitCode = 0;
  int attempts = 0;
  bool hasRecords = false;  // a complete data file was made by this job
  size_t records = 0;
  size_t newRecords = 0;
  size_t suspectRecords = 0;
  // Relative to the day folder with '/'; empty when there is none.
  std::string dataFile;
  std::string newFile;
  std::string logFile;
  bool ran = false;  // started and finished are known
  LocalTime started;
  LocalTime finished;
  double seconds = 0;
  std::string reason;
};

struct JobReport {
  std::string day;
  LocalTime started;
  LocalTime finished;
  int exitCode = 0;
  std::string version;         // zq-nightly's
  std::string program;         // the Zq-ReadUtility that was run
  std::string programVersion;  // what it says with --version; empty when unknown
  std::string terminalsFile;
  std::string stoppedBy;  // what stopped the job; empty when nothing did
  std::vector<TerminalReport> terminals;
};

// 0 every terminal complete or empty (or skipped as complete or not selected); 2 one has no
// complete file (failed, stopped, not run, an invalid line) or the job was stopped; 3 every file
// is complete, but a clock was not set or a memory not cleared.
int exitCodeOf(const std::vector<TerminalReport>& terminals, bool stopped);

std::string toJson(const JobReport& report);
// "entrance: complete, 6 records, 6 new", "gone: failed after 3 attempts: Can't connect ...".
std::string terminalLine(const TerminalReport& terminal);
// "2026-01-31: 1 complete, 1 empty, ... 2 failed (gone, dropped), ...; exit 2".
std::string summaryLine(const JobReport& report);

}  // namespace ZqNightly
