// One night: reads the terminals file, completes what earlier jobs left unfinished, runs one
// Zq-ReadUtility process per terminal attempt (at most -j at once, each in its own working
// folder, holding the terminal's lock, with retries and a time limit), puts complete data files
// and their new records in place, and writes the report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Nightly/DayFolder.h"
#include "Nightly/DayReport.h"
#include "Nightly/History.h"
#include "Nightly/Options.h"
#include "Nightly/Platform.h"
#include "Nightly/Report.h"
#include "Nightly/RunRecord.h"
#include "Nightly/TerminalList.h"
#include "Nightly/Verdict.h"

namespace ZqNightly {

class Recovery;

class Job {
public:
  Job();
  ~Job();
  // Returns the job's exit code.
  int run(const std::vector<std::string>& arguments);

private:
  struct Run {
    enum State { Skipped, Queued, Running, Waiting, Done };

    Terminal terminal;
    TerminalReport report;
    State state = Queued;
    std::unique_ptr<Process> process;
    std::unique_ptr<Lock> terminalLock;
    RunRecord record;
    std::string command;             // the attempt's command line, for the log
    std::vector<std::string> notes;  // what the job did to the attempt, for the log
    int64_t firstStartMs = 0;
    int64_t attemptStartMs = 0;
    int64_t limitMs = 0;  // the stop request is due
    int64_t killMs = 0;   // the end is due (after a stop request)
    int64_t readyMs = 0;  // the next attempt may start
    bool stopSent = false;
    bool killed = false;
    bool keepWork = false;   // its working folder holds a complete download that waits to be put in place
    bool recovered = false;  // its entry comes from what an earlier job's run left
    bool kept = false;       // its entry comes from the day's earlier report: this job did not read it
    std::string device;      // a serial terminal: "COM3 is /dev/ttyS2"
    std::string stopCause;
    LocalTime attemptStarted;
  };

  bool prepare(const std::vector<std::string>& arguments, int& exitCode);
  // The parts of prepare; each says what is wrong on standard error and is false then.
  bool chooseDay();
  bool readTerminalList(std::vector<Terminal>& terminals);
  bool findTheProgram();
  void setUpRuns(const std::vector<Terminal>& terminals);
  void classify(bool lookForCompleteFiles);
  int dryRun();
  int night();
  int nightOfTheDay();
  // "(earlier today)" for an entry kept from the day's earlier report.
  std::string noteOf(const Run& run) const;
  // Takes the day's lock (over from a job that is gone); false, said, when another job holds it.
  bool takeTheDay();
  // Completes other days that a job left unfinished, then this day's leftovers.
  void recoverEarlierJobs();
  void loop();
  void start(Run& run);
  // Takes the terminal's lock for an attempt; false (the attempt ends, said) when it cannot.
  bool takeTerminal(Run& run);
  // A leftover that the last holder of the terminal's lock left in `day`'s .work/<name>: false
  // when it cannot be recovered now (another job holds that day).
  bool recoverTerminalLeftover(Run& run, const std::string& day, const std::string& name);
  // Why the terminal cannot be read now ("" when it can): something planted, a path too long.
  std::string unreadable(const Run& run) const;
  void requestStop(Run& run, const std::string& cause);
  void end(Run& run);
  // How the run ended, and its debug log (UTF-8), as the job reads it from the working folder.
  RunEnding runEnding(Run& run, std::string& debugLog);
  // A run that returned 2 (or 0 or 3 without its file), for good.
  void endFailed(Run& run, const Process::Status& status, const std::string& failure);
  // An attempt that failed before it changed anything: the next one after the wait.
  void retryLater(Run& run, const std::string& failure);
  // The attempt ends without a run, for `reason`, as `outcome`; with `retry`, tried again later.
  void endUnstarted(Run& run, Outcome outcome, Cause cause, const std::string& reason, bool retry);
  // A run that was stopped, or ended without an exit code of its own.
  void endStopped(Run& run, const Process::Status& status, const std::string& failure);
  void commit(Run& run, const struct Verdict& verdict, const Process::Status& status, const std::string& failure);
  void saveRecord(Run& run);
  void appendLog(Run& run, const std::string& debugLog, const std::vector<std::string>& console,
                 const std::string& ending);
  // The entry this job leaves for a terminal it does not read: the day's earlier one, if any.
  bool keepEarlier(Run& run);
  void finishReport();
  bool writeReports(std::string& error);
  void notify(const std::string& reportPath);
  // DIR/status.json, DIR/status.html and the --metrics file, at the end of every night.
  void writeStatus();
  // --status: the state of every terminal on the console; its exit code.
  int showStatus();
  void cleanUp();

  Options options_;
  std::string day_;
  std::string outputFolder_;
  std::unique_ptr<DayFolder> folder_;
  std::string program_;
  LocalTime started_;
  JobReport report_;
  std::unique_ptr<DayReport> dayReport_;
  std::vector<Terminal> terminals_;
  std::vector<Run> runs_;
  std::vector<TerminalReport> extraEntries_;  // recovered terminals that are no longer in the file
  std::vector<TerminalReport> ownTerminals_;  // the entries this job made
  std::unique_ptr<History> history_;
  std::unique_ptr<Recovery> recovery_;
  Lock lock_;
  bool stopping_ = false;
  bool stateProblems_ = false;
};

}  // namespace ZqNightly
