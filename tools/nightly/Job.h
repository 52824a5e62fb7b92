// One night: reads the terminals file, runs one Zq-ReadUtility process per terminal attempt (at
// most -j at once, each in its own working folder, with retries and a time limit), puts complete
// data files and their new records in place, and writes the report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "History.h"
#include "Lock.h"
#include "Options.h"
#include "Process.h"
#include "Report.h"
#include "TerminalList.h"

namespace ZqNightly {

class Job {
public:
  // Returns the job's exit code.
  int run(const std::vector<std::string>& arguments);

private:
  struct Run {
    enum State { Skipped, Queued, Running, Waiting, Done };

    Terminal terminal;
    TerminalReport report;
    State state = Queued;
    std::unique_ptr<Process> process;
    std::string workFolder;
    std::string command;             // the attempt's command line, for the log
    std::vector<std::string> notes;  // what the job did to the attempt, for the log
    int64_t firstStartMs = 0;
    int64_t attemptStartMs = 0;
    int64_t limitMs = 0;  // the stop request is due
    int64_t killMs = 0;   // the end is due (after a stop request)
    int64_t readyMs = 0;  // the next attempt may start
    bool stopSent = false;
    bool killed = false;
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
  // Takes the day's lock (over from a job that is gone); false, said, when another job holds it.
  bool takeTheDay();
  void loop();
  void start(Run& run);
  void requestStop(Run& run, const std::string& cause);
  void end(Run& run);
  // An attempt that failed before it changed anything: the next one after the wait.
  void retryLater(Run& run, const std::string& failure);
  // A run that was stopped, or ended without an exit code of its own.
  void endStopped(Run& run, const Process::Status& status, const std::string& failure);
  void commit(Run& run, const Process::Status& status, const std::vector<std::string>& console,
              const std::string& failure);
  std::string keepStopped(Run& run);
  void appendLog(Run& run, const std::string& debugLog, const std::vector<std::string>& console,
                 const std::string& ending);
  void finishReport();
  void notify(const std::string& reportPath);
  void cleanUp();
  std::string relative(const std::string& path) const;

  Options options_;
  std::string day_;
  std::string outputFolder_;
  std::string dayFolder_;
  std::string program_;
  LocalTime started_;
  JobReport report_;
  std::vector<Run> runs_;
  std::unique_ptr<History> history_;
  Lock lock_;
  bool stopping_ = false;
};

}  // namespace ZqNightly
