// Only operating-system independent code.
#include "Job.h"

#include <algorithm>
#include <cstdio>

#include "Console.h"
#include "FileSystem.h"
#include "NightlyVersion.h"
#include "Records.h"
#include "StopRequest.h"

namespace ZqNightly {
namespace {

// A run that had its stop request gets this long to finish the exchange in flight.
const int64_t stopGraceMs = 15000;
// -x is a notification (mail, chat): it must not hold the night's end for long.
const int64_t notifyLimitMs = 60000;
// The program's --version, which a cold Wine prefix takes seconds to start.
const int64_t versionLimitMs = 30000;

const char* const debugLogName = "Zq-ReadUtility.log";
const char* const consoleName = "console.txt";

void warn(const std::string& text) { Console::err("zq-nightly: Warning: " + text); }

std::vector<std::string> textLines(const std::string& text) {
  std::vector<std::string> result;
  for (std::string line : Records::lines(text)) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    result.push_back(line);
  }
  return result;
}

bool contains(const std::vector<std::string>& lines, const std::string& wanted) {
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

// Why an attempt failed, as the program tells it: its console lines that say what it could not
// do, and the last Error line of its debug log (without time stamp and level).
std::string failureOf(const std::vector<std::string>& console, const std::string& debugLog) {
  std::string text;
  for (const std::string& line : console) {
    if (line.compare(0, 6, "Can't ") == 0) text += (text.empty() ? "" : " ") + line;
  }
  std::string lastError;
  for (const std::string& line : textLines(debugLog)) {
    const size_t at = line.find("] [ERROR] ");
    if (at == std::string::npos) continue;
    lastError = line.substr(at + 10);
    // The source position (" at Zq\\Zq870:150") is for developers; the log keeps it.
    const size_t source = lastError.rfind(" at ");
    if (source != std::string::npos && lastError.find(':', source) != std::string::npos &&
        lastError.find(' ', source + 4) == std::string::npos) {
      lastError.erase(source);
    }
  }
  if (!lastError.empty()) text += (text.empty() ? "" : " / ") + lastError;
  return text;
}

std::string endingOf(const Process::Status& status) {
  return status.exited ? "exit code " + std::to_string(status.code) : "ended by " + status.ending;
}

std::string seconds(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

std::string commandText(const std::string& program, const std::vector<std::string>& arguments) {
  std::string text = program;
  for (const std::string& argument : arguments) {
    const bool plain = !argument.empty() && argument.find_first_of(" \t\"'") == std::string::npos;
    text += " " + (plain ? argument : "\"" + argument + "\"");
  }
  return text;
}

}  // namespace

int Job::run(const std::vector<std::string>& arguments) {
  int exitCode = 0;
  if (!prepare(arguments, exitCode)) return exitCode;
  return options_.dryRun ? dryRun() : night();
}

// Everything that can refuse the job before a terminal is contacted; false with the exit code
// (0 for --help and --version, 1 for every refusal).
bool Job::prepare(const std::vector<std::string>& arguments, int& exitCode) {
  started_ = Clock::now();
  exitCode = 1;
  std::string error;
  if (!readOptions(arguments, options_, error)) {
    Console::err("zq-nightly: " + error);
    Console::err("Try \"zq-nightly --help\".");
    return false;
  }
  if (options_.help || options_.version) {
    if (options_.help) {
      for (const std::string& line : textLines(usageText)) Console::out(line);
    } else {
      Console::out(std::string("zq-nightly ") + ZQ_NIGHTLY_VERSION);
    }
    exitCode = 0;
    return false;
  }
  std::vector<Terminal> terminals;
  if (!chooseDay() || !readTerminalList(terminals) || !findTheProgram()) return false;
  outputFolder_ = FileSystem::absolute(options_.outputFolder);
  if (outputFolder_.empty()) {
    Console::err("zq-nightly: cannot read the path " + options_.outputFolder);
    return false;
  }
  setUpRuns(terminals);
  return true;
}

bool Job::chooseDay() {
  LocalTime day;
  if (options_.day.empty()) {
    day_ = started_.date();
  } else if (readDay(options_.day, day)) {
    day_ = options_.day;
  } else {
    Console::err("zq-nightly: -d wants a date that exists, as YYYY-MM-DD, not \"" + options_.day + "\"");
    return false;
  }
  return true;
}

bool Job::readTerminalList(std::vector<Terminal>& terminals) {
  std::string text;
  std::string error;
  if (!FileSystem::readFile(options_.terminalsFile, text, error)) {
    Console::err("zq-nightly: the terminals file: " + error);
    return false;
  }
  terminals = readTerminals(text);
  if (terminals.empty()) {
    Console::err("zq-nightly: no terminal in " + options_.terminalsFile);
    return false;
  }
  for (const std::string& name : options_.names) {
    const bool known = std::any_of(terminals.begin(), terminals.end(),
                                   [&name](const Terminal& terminal) { return terminal.name == name; });
    if (!known) {
      Console::err("zq-nightly: -t " + name + ": no such terminal in " + options_.terminalsFile);
      return false;
    }
  }
  return true;
}

bool Job::findTheProgram() {
  const std::string wanted = options_.program.empty()
                                 ? FileSystem::join(FileSystem::executableDirectory(), "Zq-ReadUtility")
                                 : options_.program;
  program_ = FileSystem::findProgram(wanted);
  if (program_.empty() && options_.program.empty()) program_ = FileSystem::findProgram("Zq-ReadUtility");
  if (program_.empty()) {
    Console::err("zq-nightly: cannot find the program " +
                 (options_.program.empty() ? std::string("Zq-ReadUtility (beside zq-nightly or in PATH)") : wanted));
    return false;
  }
  std::string said;
  std::string error;
  if (!Process::capture(program_, {"--version"}, versionLimitMs, said, error)) {
    if (error.compare(0, 6, "cannot") == 0) {
      Console::err("zq-nightly: " + error);
      return false;
    }
    warn(error);
  }
  const std::vector<std::string> saidLines = textLines(said);
  if (!saidLines.empty() && saidLines[0].compare(0, 15, "Zq-ReadUtility ") == 0) {
    report_.programVersion = saidLines[0].substr(15);
  }
  return true;
}

void Job::setUpRuns(const std::vector<Terminal>& terminals) {
  dayFolder_ = FileSystem::join(outputFolder_, day_);
  report_.day = day_;
  report_.version = ZQ_NIGHTLY_VERSION;
  report_.program = program_;
  report_.terminalsFile = FileSystem::absolute(options_.terminalsFile);
  for (const Terminal& terminal : terminals) {
    Run run;
    run.terminal = terminal;
    run.report.name = terminal.name;
    run.report.model = terminal.model;
    run.report.address = terminal.address;
    run.report.switches = terminal.switches;
    run.workFolder = FileSystem::join(FileSystem::join(dayFolder_, ".work"), terminal.name);
    runs_.push_back(std::move(run));
  }
}

// Which terminals this job reads; the others are skipped with their reason.
void Job::classify(bool lookForCompleteFiles) {
  for (Run& run : runs_) {
    TerminalReport& report = run.report;
    const bool selected = options_.names.empty() || std::find(options_.names.begin(), options_.names.end(),
                                                              run.terminal.name) != options_.names.end();
    const std::string complete = run.terminal.name + ".txt";
    run.state = Run::Skipped;
    report.outcome = "skipped";
    if (!run.terminal.valid()) {
      report.reason = "invalid line " + std::to_string(run.terminal.line) + ": " + run.terminal.invalid;
    } else if (!selected) {
      report.reason = "not selected";
    } else if (lookForCompleteFiles && !options_.again && FileSystem::exists(FileSystem::join(dayFolder_, complete))) {
      report.reason = "already complete";
      report.dataFile = complete;
      if (FileSystem::exists(FileSystem::join(FileSystem::join(dayFolder_, "new"), complete))) {
        report.newFile = "new/" + complete;
      }
    } else {
      run.state = Run::Queued;
      report.outcome.clear();
    }
  }
}

int Job::dryRun() {
  classify(true);
  size_t toRun = 0;
  size_t invalid = 0;
  for (Run& run : runs_) {
    if (run.state == Run::Skipped) {
      Console::out(terminalLine(run.report));
      if (!run.terminal.valid()) ++invalid;
      continue;
    }
    ++toRun;
    std::vector<std::string> arguments = {run.terminal.model, run.terminal.address, run.terminal.name + ".txt"};
    arguments.insert(arguments.end(), run.terminal.switches.begin(), run.terminal.switches.end());
    arguments.push_back("-debug");
    Console::out(run.terminal.name + ": would run " + commandText(program_, arguments) + " in " + run.workFolder);
  }
  Console::out(day_ + ": dry run: " + std::to_string(toRun) + " to read, " +
               std::to_string(runs_.size() - toRun - invalid) + " skipped, " + std::to_string(invalid) +
               " invalid lines");
  return invalid > 0 ? 2 : 0;
}

bool Job::takeTheDay() {
  std::string detail;
  const std::string lockPath = FileSystem::join(dayFolder_, ".zq-nightly.lock");
  switch (lock_.tryTake(lockPath, detail)) {
    case Lock::Held:
      Console::err("zq-nightly: another job (process " + (detail.empty() ? std::string("unknown") : detail) +
                   ") is running for " + dayFolder_);
      return false;
    case Lock::Failed: Console::err("zq-nightly: " + detail); return false;
    case Lock::TakenOver:
      warn("took over " + lockPath + " from process " + detail + ", which is gone (a job that ended abnormally)");
      return true;
    case Lock::Taken: return true;
  }
  return false;
}

int Job::night() {
  std::string error;
  if (!FileSystem::makeDirectories(dayFolder_, error)) {
    Console::err("zq-nightly: " + error);
    return 1;
  }
  StopRequest::install();
  Process::prepare();
  if (!takeTheDay()) return 1;
  // From now on report.json stands for this job, and it is written when the job ends.
  const std::string reportPath = FileSystem::join(dayFolder_, "report.json");
  std::vector<std::string> names;
  for (const Run& run : runs_) {
    if (run.terminal.valid()) names.push_back(run.terminal.name);
  }
  history_.reset(new History(outputFolder_));
  if (!FileSystem::removeFile(reportPath) || !FileSystem::makeDirectories(FileSystem::join(dayFolder_, "new"), error) ||
      !FileSystem::makeDirectories(FileSystem::join(dayFolder_, "logs"), error) || !history_->open(names, error)) {
    Console::err("zq-nightly: " + (error.empty() ? "cannot remove " + reportPath : error));
    return 1;
  }
  report_.started = started_;
  classify(true);
  for (const Run& run : runs_) {
    if (run.state == Run::Skipped) Console::out(terminalLine(run.report));
  }

  loop();

  finishReport();
  if (!FileSystem::writeAtomically(reportPath, toJson(report_), error)) Console::err("zq-nightly: " + error);
  Console::out(summaryLine(report_));
  cleanUp();
  lock_.release();
  StopRequest::finished();
  if (report_.exitCode != 0 && !options_.notify.empty()) notify(reportPath);
  return report_.exitCode;
}

void Job::loop() {
  for (;;) {
    const int64_t now = Clock::monotonicMs();
    if (StopRequest::requested() && !stopping_) {
      stopping_ = true;
      report_.stoppedBy = StopRequest::what();
      warn("stopped by " + report_.stoppedBy + ": no new attempts; running ones get a stop request");
      for (Run& run : runs_) {
        if (run.state == Run::Running && !run.stopSent) requestStop(run, "the job was stopped by " + report_.stoppedBy);
      }
    }
    std::vector<Process*> running;
    int64_t timeout = 1000;
    for (Run& run : runs_) {
      if (run.state != Run::Running) continue;
      if (run.process->finished()) {
        end(run);
        continue;
      }
      if (!run.stopSent && now >= run.limitMs) {
        requestStop(run, "the time limit of " + std::to_string(options_.limitSeconds) + " s was reached");
      } else if (run.stopSent && !run.killed && now >= run.killMs) {
        run.killed = true;
        run.notes.push_back("ended " + std::to_string(stopGraceMs / 1000) + " s after its stop request");
        run.process->kill();
      }
      // Once killed, its end wakes the wait; until then the next deadline does.
      if (!run.killed) timeout = std::min(timeout, (run.stopSent ? run.killMs : run.limitMs) - now);
      running.push_back(run.process.get());
    }
    bool pending = false;
    for (Run& run : runs_) {
      if (stopping_ || (run.state != Run::Queued && run.state != Run::Waiting)) continue;
      pending = true;
      if (run.state == Run::Waiting && now < run.readyMs) {
        timeout = std::min(timeout, run.readyMs - now);
      } else if (running.size() < static_cast<size_t>(options_.jobs)) {
        start(run);
        if (run.state == Run::Running) running.push_back(run.process.get());
        timeout = 0;
      }
    }
    if (running.empty() && !pending) return;
    Process::waitAny(running, std::max<int64_t>(timeout, 0));
  }
}

void Job::start(Run& run) {
  TerminalReport& report = run.report;
  ++report.attempts;
  run.notes.clear();
  run.stopSent = false;
  run.killed = false;
  run.attemptStartMs = Clock::monotonicMs();
  run.attemptStarted = Clock::now();
  if (report.attempts == 1) {
    run.firstStartMs = run.attemptStartMs;
    report.started = run.attemptStarted;
    report.ran = true;
  }
  const std::string dataName = run.terminal.name + ".txt";
  std::vector<std::string> arguments = {run.terminal.model, run.terminal.address, dataName};
  arguments.insert(arguments.end(), run.terminal.switches.begin(), run.terminal.switches.end());
  arguments.push_back("-debug");
  run.command = commandText(program_, arguments);
  std::string error;
  // What an earlier attempt left under the names the job gives is not this attempt's.
  for (const char* name : {dataName.c_str(), debugLogName, consoleName}) {
    FileSystem::removeFile(FileSystem::join(run.workFolder, name));
  }
  run.process.reset(new Process());
  if (!FileSystem::makeDirectories(run.workFolder, error) ||
      !run.process->start(program_, arguments, run.workFolder, FileSystem::join(run.workFolder, consoleName), error)) {
    report.outcome = "failed";
    report.reason = error;
    report.finished = Clock::now();
    report.logFile = "logs/" + run.terminal.name + ".log";
    appendLog(run, std::string(), {}, error);
    run.state = Run::Done;
    Console::out(terminalLine(report));
    return;
  }
  run.limitMs = run.attemptStartMs + static_cast<int64_t>(options_.limitSeconds) * 1000;
  run.state = Run::Running;
}

void Job::requestStop(Run& run, const std::string& cause) {
  run.stopSent = true;
  run.stopCause = cause;
  run.killMs = Clock::monotonicMs() + stopGraceMs;
  std::string error;
  if (run.process->requestStop(error)) {
    run.notes.push_back("stop request sent: " + cause);
  } else {
    run.notes.push_back("stop request not delivered (" + error + "): " + cause);
    warn(run.terminal.name + ": " + error + "; it is ended in " + std::to_string(stopGraceMs / 1000) + " s");
  }
}

void Job::retryLater(Run& run, const std::string& failure) {
  run.report.reason = failure;
  run.state = Run::Waiting;
  run.readyMs = Clock::monotonicMs() + static_cast<int64_t>(options_.waitSeconds) * 1000;
  Console::out(run.terminal.name + ": attempt " + std::to_string(run.report.attempts) + " of " +
               std::to_string(options_.retries + 1) + " failed" + (failure.empty() ? "" : ": " + failure) +
               "; next attempt in " + std::to_string(options_.waitSeconds) + " s");
}

void Job::endStopped(Run& run, const Process::Status& status, const std::string& failure) {
  TerminalReport& report = run.report;
  report.outcome = run.stopSent ? "stopped" : "failed";
  const std::string kept = keepStopped(run);
  report.dataFile = kept;
  const std::string separator = run.stopSent ? ", " : "";
  report.reason = (run.stopSent ? run.stopCause : std::string()) +
                  (run.killed ? separator + "ended " + std::to_string(stopGraceMs / 1000) + " s after its stop request"
                              : separator + endingOf(status)) +
                  (failure.empty() ? "" : ": " + failure) +
                  (kept.empty() ? "" : "; what it left in its data file is kept as " + kept);
}

void Job::end(Run& run) {
  const Process::Status status = run.process->status();
  TerminalReport& report = run.report;
  std::string console;
  std::string debugLog;
  std::string ignored;
  FileSystem::readFile(FileSystem::join(run.workFolder, consoleName), console, ignored);
  FileSystem::readFile(FileSystem::join(run.workFolder, debugLogName), debugLog, ignored);
  const std::vector<std::string> consoleLines = textLines(console);
  const std::string dataFile = FileSystem::join(run.workFolder, run.terminal.name + ".txt");
  const bool reported = contains(consoleLines, "Data file \"" + run.terminal.name + ".txt\" written successfully.") &&
                        FileSystem::exists(dataFile);
  const bool returned = status.exited && !run.killed;
  std::string failure = failureOf(consoleLines, debugLog);

  appendLog(run, debugLog, consoleLines, endingOf(status));
  report.finished = Clock::now();
  report.seconds = static_cast<double>(Clock::monotonicMs() - run.firstStartMs) / 1000.0;
  report.hasExitCode = returned;
  report.exitCode = returned ? status.code : 0;
  report.logFile = "logs/" + run.terminal.name + ".log";

  if (reported && (!returned || status.code == 0 || status.code == 3)) {
    // Complete, also when the run was ended after it saved the file: with -c its records may be
    // gone from the terminal, so the file is the only copy.
    commit(run, status, consoleLines, failure);
  } else if (returned && status.code == 2 && !run.stopSent && !stopping_ && report.attempts <= options_.retries) {
    // Nothing was saved and nothing was changed on the terminal: trying again is safe.
    FileSystem::removeFile(dataFile);
    retryLater(run, failure);
    return;
  } else if (!returned || run.stopSent) {
    endStopped(run, status, failure);
  } else {
    FileSystem::removeFile(dataFile);
    report.outcome = "failed";
    report.reason = failure.empty() ? endingOf(status) : failure;
    if (status.code == 0 || status.code == 3) report.reason += ", but no data file";
  }
  run.state = Run::Done;
  Console::out(terminalLine(report));
}

void Job::commit(Run& run, const Process::Status& status, const std::vector<std::string>& console,
                 const std::string& failure) {
  TerminalReport& report = run.report;
  const Terminal& terminal = run.terminal;
  const bool cleared = contains(console, "Data cleared successfully.");
  const bool clockSet = contains(console, "Date/time updated successfully.");
  const std::string dataFile = FileSystem::join(run.workFolder, terminal.name + ".txt");
  History::Placed placed;
  std::string error;
  if (!history_->commit(terminal.name, day_, dataFile, cleared, placed, error)) {
    report.outcome = "failed";
    const std::string kept = keepStopped(run);
    report.dataFile = kept;
    report.reason =
        "the complete data file could not be put in place: " + error + (kept.empty() ? "" : "; it is kept as " + kept);
    return;
  }
  report.hasRecords = true;
  report.records = placed.records;
  report.newRecords = placed.newRecords;
  report.suspectRecords = Records::suspect(placed.data, started_);
  report.dataFile = placed.file;
  report.newFile = "new/" + placed.file;
  const bool done = status.exited && !run.killed && status.code == 0;
  if (!done && terminal.has("-c") && !cleared) {
    report.outcome = "not-cleared";
  } else if (!done && terminal.has("-u") && !clockSet) {
    report.outcome = "clock-not-set";
  } else {
    report.outcome = placed.records == 0 ? "empty" : "complete";
  }
  // A run that did everything has nothing to report, whatever its log says on the way.
  std::string reason = done ? std::string() : failure;
  if (!status.exited || run.killed) {
    reason =
        (run.stopSent ? run.stopCause + ", " : std::string()) +
        (run.killed ? "ended after its data file was written" : endingOf(status) + " after its data file was written") +
        (failure.empty() ? "" : ": " + failure);
  }
  report.reason = reason;
}

// Moves what an ended run left under its data file's name to stopped/, under a name no earlier
// one has: never deleted, as its records may be the only copy. Returns its relative path.
std::string Job::keepStopped(Run& run) {
  const std::string dataFile = FileSystem::join(run.workFolder, run.terminal.name + ".txt");
  if (!FileSystem::exists(dataFile)) return std::string();
  const std::string folder = FileSystem::join(dayFolder_, "stopped");
  std::string error;
  if (!FileSystem::makeDirectories(folder, error)) {
    warn(error);
    return relative(dataFile);
  }
  std::string name = run.terminal.name + ".txt";
  for (int n = 2;; ++n) {
    if (!FileSystem::exists(FileSystem::join(folder, name)) &&
        FileSystem::placeFile(dataFile, FileSystem::join(folder, name), error)) {
      return "stopped/" + name;
    }
    if (!FileSystem::exists(dataFile)) return std::string();
    if (n > 1000) {
      warn(error);
      return relative(dataFile);
    }
    name = run.terminal.name + "." + std::to_string(n) + ".txt";
  }
}

// Every attempt of a terminal in logs/<name>.log: a header line, the program's debug log as it
// wrote it, its console lines and how it ended.
void Job::appendLog(Run& run, const std::string& debugLog, const std::vector<std::string>& console,
                    const std::string& ending) {
  const std::string eol = FileSystem::lineEnd();
  std::string text = "==== zq-nightly " + std::string(ZQ_NIGHTLY_VERSION) + ": " + run.terminal.name + ", attempt " +
                     std::to_string(run.report.attempts) + " of " + std::to_string(options_.retries + 1) + ", " +
                     run.attemptStarted.iso() + ": " + run.command + eol;
  text += debugLog;
  if (!debugLog.empty() && debugLog.back() != '\n') text += eol;
  for (const std::string& line : console) text += "==== console: " + line + eol;
  for (const std::string& note : run.notes) text += "==== " + note + eol;
  text += "==== " + Clock::now().iso() + ": " + ending + " after " +
          seconds(Clock::monotonicMs() - run.attemptStartMs) + eol;
  std::string error;
  if (!FileSystem::appendFile(FileSystem::join(FileSystem::join(dayFolder_, "logs"), run.terminal.name + ".log"), text,
                              error)) {
    warn(error);
  }
}

void Job::finishReport() {
  for (Run& run : runs_) {
    TerminalReport& report = run.report;
    if (run.state == Run::Queued) {
      report.outcome = "not-run";
      report.reason = "the job was stopped by " + report_.stoppedBy + " first";
    } else if (run.state == Run::Waiting) {
      report.outcome = "failed";
      report.reason += (report.reason.empty() ? "" : "; ") +
                       std::string("no further attempt: the job was stopped by ") + report_.stoppedBy;
    } else {
      continue;
    }
    run.state = Run::Done;
    Console::out(terminalLine(report));
  }
  for (const Run& run : runs_) report_.terminals.push_back(run.report);
  report_.exitCode = exitCodeOf(report_.terminals, stopping_);
  report_.finished = Clock::now();
}

void Job::notify(const std::string& reportPath) {
  Process command;
  std::string error;
  if (!command.startShell(options_.notify, reportPath, error)) {
    Console::err("zq-nightly: -x: " + error);
    return;
  }
  const int64_t deadline = Clock::monotonicMs() + notifyLimitMs;
  while (!command.finished()) {
    const int64_t left = deadline - Clock::monotonicMs();
    if (left <= 0) {
      warn("-x command still running after " + std::to_string(notifyLimitMs / 1000) + " s: ended");
      command.kill();
      while (!command.finished()) Process::waitAny({&command}, 100);
      return;
    }
    Process::waitAny({&command}, std::min<int64_t>(left, 1000));
  }
  if (!command.status().exited || command.status().code != 0) {
    warn("-x command: " + endingOf(command.status()));
  }
}

// The working folders go once the job no longer needs them; what the program left there under
// other names is its own, and keeps its folder.
void Job::cleanUp() {
  for (const Run& run : runs_) {
    if (run.report.attempts == 0) continue;
    FileSystem::removeFile(FileSystem::join(run.workFolder, consoleName));
    FileSystem::removeFile(FileSystem::join(run.workFolder, debugLogName));
    FileSystem::removeEmptyDirectory(run.workFolder);
  }
  FileSystem::removeEmptyDirectory(FileSystem::join(dayFolder_, ".work"));
}

std::string Job::relative(const std::string& path) const {
  std::string text = path.compare(0, dayFolder_.size() + 1, dayFolder_ + FileSystem::separator()) == 0
                         ? path.substr(dayFolder_.size() + 1)
                         : path;
  for (char& c : text) {
    if (c == FileSystem::separator()) c = '/';
  }
  return text;
}

}  // namespace ZqNightly
