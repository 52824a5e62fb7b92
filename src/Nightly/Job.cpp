// Only operating-system independent code.
#include "Nightly/Job.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "Common/Console.h"
#include "Common/SerialPort.h"
#include "Common/Stop.h"
#include "Nightly/Output.h"
#include "Nightly/Platform.h"
#include "Nightly/Records.h"
#include "Nightly/Recovery.h"
#include "Nightly/Status.h"
#include "Nightly/Verdict.h"
#include "Version.h"
#include "Zq/Models.h"

namespace ZqNightly {
namespace {

// A run that had its stop request gets this long to finish the exchange in flight.
const int64_t stopGraceMs = 15000;
// -x is a notification (mail, chat): it must not hold the night's end for long.
const int64_t notifyLimitMs = 60000;
// The program's --version, which a cold Wine prefix takes seconds to start.
const int64_t versionLimitMs = 30000;

void warn(const std::string& text) { Output::err("zq-nightly: Warning: " + text); }

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

// The name of a terminal's lock file in .state: "tcp 127.0.0.1:1001" -> "terminal-tcp-127.0.0.1-1001.lock".
std::string terminalLockName(const std::string& key) {
  std::string name = "terminal-" + foldName(key) + ".lock";
  for (char& c : name) {
    if (c == ' ' || c == ':') c = '-';
  }
  return name;
}

// The value of a "key value" line of a lock's record.
std::string recordValue(const std::string& record, const std::string& key) {
  for (const std::string& line : textLines(record)) {
    if (line.compare(0, key.size() + 1, key + " ") == 0) return line.substr(key.size() + 1);
  }
  return std::string();
}

// How long the program waits for the terminal's connection: a failure well within it was a refusal.
int64_t connectWaitOf(const Terminal& terminal) {
  const Zq::ModelEntry* entry = Zq::findModel(terminal.model);
  return entry != nullptr && entry->transport == Zq::Transport::Tcp
             ? entry->endpoint(std::string(), 0).settings.connectTimeoutMs
             : 0;
}

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

}  // namespace

Job::Job() = default;
Job::~Job() = default;

int Job::run(const std::vector<std::string>& arguments) {
  int exitCode = 0;
  if (!prepare(arguments, exitCode)) return exitCode;
  if (options_.status) return showStatus();
  return options_.dryRun ? dryRun() : night();
}

// Everything that can refuse the job before a terminal is contacted; false with the exit code
// (0 for --help and --version, 1 for every refusal).
bool Job::prepare(const std::vector<std::string>& arguments, int& exitCode) {
  started_ = Common::localTime();
  exitCode = 1;
  std::string error;
  if (!readOptions(arguments, options_, error)) {
    Output::err("zq-nightly: " + error);
    Output::err("Try \"zq-nightly --help\".");
    return false;
  }
  if (!options_.logFile.empty() && !Output::logTo(options_.logFile, error)) {
    Output::err("zq-nightly: --log: " + error);
    return false;
  }
  if (options_.help || options_.version) {
    if (options_.help) {
      for (const std::string& line : textLines(usageText)) Output::out(line);
    } else {
      Output::out(std::string("zq-nightly ") + ZQ_VERSION);
    }
    exitCode = 0;
    return false;
  }
  if (!started_.valid()) {
    // The day folder and the reports follow the local time, as the clock that -u sends does: a TZ
    // that names no zone would make them UTC without a word.
    const std::string tz = FileSystem::environment("TZ");
    Output::err("zq-nightly: the local time cannot be read" +
                (tz.empty() ? std::string() : ": TZ \"" + tz + "\" names no time zone (set a zone, or unset TZ)"));
    return false;
  }
  outputFolder_ = FileSystem::absolute(options_.outputFolder);
  if (outputFolder_.empty()) {
    Output::err("zq-nightly: cannot read the path " + options_.outputFolder);
    return false;
  }
  // The status reads the reports only: it needs no program, and the terminals file is its choice.
  if (options_.status) return chooseDay() && (options_.terminalsFile.empty() || readTerminalList(terminals_));
  if (!chooseDay() || !readTerminalList(terminals_) || !findTheProgram()) return false;
  setUpRuns(terminals_);
  return true;
}

bool Job::chooseDay() {
  LocalTime day;
  if (options_.day.empty()) {
    day_ = started_.date();
  } else if (Common::readDate(options_.day, day)) {
    day_ = options_.day;
  } else {
    Output::err("zq-nightly: -d wants a date that exists, as YYYY-MM-DD, not \"" + options_.day + "\"");
    return false;
  }
  return true;
}

bool Job::readTerminalList(std::vector<Terminal>& terminals) {
  std::string text;
  std::string error;
  if (!FileSystem::readFile(options_.terminalsFile, text, error)) {
    Output::err("zq-nightly: the terminals file: " + error);
    return false;
  }
  terminals = readTerminals(text);
  if (terminals.empty()) {
    Output::err("zq-nightly: no terminal in " + options_.terminalsFile);
    return false;
  }
  // A name is one name whatever its case, on -t as in the file.
  for (std::string& name : options_.names) {
    const auto known = std::find_if(terminals.begin(), terminals.end(), [&name](const Terminal& terminal) {
      return foldName(terminal.name) == foldName(name);
    });
    if (known == terminals.end()) {
      Output::err("zq-nightly: -t " + name + ": no such terminal in " + options_.terminalsFile);
      return false;
    }
    name = known->name;
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
    Output::err("zq-nightly: cannot find the program " +
                (options_.program.empty() ? std::string("Zq-ReadUtility (beside zq-nightly or in PATH)") : wanted));
    return false;
  }
  std::string said;
  std::string error;
  if (!Process::capture(program_, {"--version"}, versionLimitMs, said, error)) {
    if (error.compare(0, 6, "cannot") == 0) {
      Output::err("zq-nightly: " + error);
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
  folder_.reset(new DayFolder(outputFolder_, day_));
  dayReport_.reset(new DayReport(*folder_));
  report_.day = day_;
  report_.version = ZQ_VERSION;
  report_.program = program_;
  report_.terminalsFile = FileSystem::absolute(options_.terminalsFile);
  for (const Terminal& terminal : terminals) {
    Run run;
    run.terminal = terminal;
    // A serial terminal's port, as the program will open it: a missing device is then named.
    if (terminal.valid() && terminal.key.compare(0, 3, "COM") == 0) {
      run.device = terminal.key + " is " + Common::SerialPort::devicePath(terminal.key);
    }
    run.report.name = terminal.name;
    run.report.model = terminal.model;
    run.report.address = terminal.address;
    run.report.switches = terminal.switches;
    runs_.push_back(std::move(run));
  }
}

std::string Job::noteOf(const Run& run) const {
  if (!run.kept) return std::string();
  return day_ == Common::localTime().date() ? "earlier today" : "earlier";
}

bool Job::keepEarlier(Run& run) {
  const TerminalReport* entry = dayReport_->earlierEntry(run.terminal.name);
  if (entry == nullptr) return false;
  run.report = *entry;
  run.report.name = run.terminal.name;
  run.kept = true;
  return true;
}

// Which terminals this job reads. The others keep what the day's earlier report says of them, or
// are skipped with their reason.
void Job::classify(bool lookForCompleteFiles) {
  for (Run& run : runs_) {
    TerminalReport& report = run.report;
    const bool selected = options_.names.empty() || report.selected(options_.names);
    const std::string complete = run.terminal.name + ".txt";
    run.state = Run::Skipped;
    if (!run.terminal.valid()) {
      report.outcome = Outcome::Invalid;
      report.cause = Cause::Invalid;
      report.reason = "line " + std::to_string(run.terminal.line) + ": " + run.terminal.invalid;
    } else if (run.recovered && (hasCompleteFile(report.outcome) || report.outcome == Outcome::Pending) &&
               !(options_.again && selected)) {
      // What a run of an earlier job left for the day is this terminal's download of the day.
      run.state = Run::Done;
    } else if (!selected) {
      if (!keepEarlier(run)) {
        report.outcome = Outcome::Skipped;
        report.reason = "not selected";
      }
    } else if (lookForCompleteFiles && !options_.again && FileSystem::exists(folder_->file(complete))) {
      if (!keepEarlier(run)) {
        report.outcome = Outcome::Skipped;
        report.reason = "already complete";
        report.dataFile = complete;
        if (FileSystem::exists(folder_->newPath(complete))) report.newFile = "new/" + complete;
      }
    } else {
      run.state = Run::Queued;
    }
  }
}

int Job::dryRun() {
  dayReport_->readEarlier(false);
  classify(true);
  size_t toRun = 0;
  size_t invalid = 0;
  for (Run& run : runs_) {
    if (run.state != Run::Queued) {
      Output::out(terminalLine(run.report, noteOf(run)));
      if (!run.terminal.valid()) ++invalid;
      continue;
    }
    ++toRun;
    std::vector<std::string> arguments = {run.terminal.model, run.terminal.address, run.terminal.name + ".txt"};
    arguments.insert(arguments.end(), run.terminal.switches.begin(), run.terminal.switches.end());
    arguments.push_back("-debug");
    Output::out(run.terminal.name + ": would run " + commandText(program_, arguments) + " in " +
                folder_->workFolder(run.terminal.name) + (run.device.empty() ? "" : " (" + run.device + ")"));
  }
  Output::out(day_ + ": dry run: " + std::to_string(toRun) + " to read, " +
              std::to_string(runs_.size() - toRun - invalid) + " skipped, " + std::to_string(invalid) +
              " invalid lines");
  return invalid > 0 ? 2 : 0;
}

bool Job::takeTheDay() {
  std::string previous;
  const std::string lockPath = folder_->lockPath();
  switch (lock_.tryTake(lockPath, Lock::ownRecord(), previous)) {
    case Lock::Held: {
      const std::string holder = Lock::recordedId(previous);
      Output::err("zq-nightly: another job (process " + (holder.empty() ? std::string("unknown") : holder) +
                  ") is running for " + folder_->path());
      return false;
    }
    case Lock::Failed: Output::err("zq-nightly: " + previous); return false;
    case Lock::TakenOver: {
      // The lock was free: its holder ended without letting go. The id it names may belong to
      // another process by now, so it is only reported.
      const std::string holder = Lock::recordedId(previous);
      warn("took over " + lockPath + ": no job held it, though it named " +
           (holder.empty() ? std::string("no process") : "process " + holder) +
           " (a job for the day that ended abnormally)");
      report_.interrupted = true;
      return true;
    }
    case Lock::Taken: return true;
  }
  return false;
}

int Job::night() {
  // nightly.log (and the journal) show where each job begins and ends.
  const std::string who = " zq-nightly " + std::string(ZQ_VERSION) + ": " + day_ + ": ";
  Output::out(Common::localTime().iso() + who + "started, process " + std::to_string(Process::currentId()));
  const int exitCode = nightOfTheDay();
  Output::out(Common::localTime().iso() + who + "ended, exit " + std::to_string(exitCode));
  return exitCode;
}

int Job::nightOfTheDay() {
  std::string error;
  if (!FileSystem::makeDirectories(outputFolder_, error) || !folder_->prepare(error)) {
    Output::err("zq-nightly: " + error);
    return 1;
  }
  Common::Stop::install();
  Process::prepare();
  if (!takeTheDay()) return 1;
  // From now on report.json stands for this job, and it is written when the job ends; what the
  // day's earlier jobs said is kept in it and in reports/.
  dayReport_->readEarlier(true);
  const std::string reportPath = folder_->reportPath();
  history_.reset(new History(outputFolder_));
  if (!FileSystem::removeOwnFile(reportPath) || !history_->open(error)) {
    Output::err("zq-nightly: " + (error.empty() ? "cannot remove " + reportPath : error));
    return 1;
  }
  for (const std::string& problem : history_->problems()) {
    Output::err("zq-nightly: Error: " + problem);
    stateProblems_ = true;
  }
  report_.started = started_.iso();
  recovery_.reset(new Recovery(outputFolder_, day_, *history_, terminals_, report_));
  recoverEarlierJobs();
  classify(true);
  for (const Run& run : runs_) {
    if (run.state == Run::Skipped || run.state == Run::Done) Output::out(terminalLine(run.report, noteOf(run)));
  }

  loop();

  finishReport();
  if (!writeReports(error)) Output::err("zq-nightly: " + error);
  writeStatus();
  Output::out(summaryLine(report_));
  cleanUp();
  lock_.release();
  Common::Stop::runEnded();
  if (report_.exitCode != 0 && !options_.notify.empty()) notify(reportPath);
  return report_.exitCode;
}

void Job::recoverEarlierJobs() {
  std::set<std::string> days;
  for (const std::string& day : DayFolder::days(outputFolder_)) {
    const DayFolder other(outputFolder_, day);
    if (day != day_ && (FileSystem::exists(other.lockPath()) || other.hasWork())) days.insert(day);
  }
  for (const History::Completed& commit : history_->completed()) {
    if (commit.day != day_) days.insert(commit.day);
  }
  for (const std::string& day : days) {
    if (Common::Stop::requested()) break;
    const DayFolder other(outputFolder_, day);
    Lock lock;
    std::string previous;
    const Lock::Result taken = lock.tryTake(other.lockPath(), Lock::ownRecord(), previous);
    // A job that runs for that day completes it itself.
    if (taken == Lock::Held) continue;
    if (taken == Lock::Failed) {
      Output::err("zq-nightly: Error: " + previous);
      stateProblems_ = true;
      continue;
    }
    if (recovery_->completeDay(other)) report_.recoveredDays.push_back(day);
  }
  for (const auto& recovered : recovery_->recoverDay(*folder_)) {
    report_.interrupted = true;
    bool matched = false;
    for (Run& run : runs_) {
      if (!run.terminal.valid() || foldName(run.terminal.name) != recovered.first) continue;
      run.report = recovered.second;
      run.report.name = run.terminal.name;
      run.recovered = true;
      matched = true;
    }
    if (!matched) extraEntries_.push_back(recovered.second);
  }
}

void Job::loop() {
  for (;;) {
    const int64_t now = Common::monotonicMs();
    if (Common::Stop::requested() && !stopping_) {
      stopping_ = true;
      report_.stoppedBy = Common::Stop::requestName();
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

std::string Job::unreadable(const Run& run) const {
  const std::string& name = run.terminal.name;
  std::string error;
  if (!history_->check(name, error)) return error;
  const std::string log = folder_->logPath(name);
  const FileSystem::Kind kind = FileSystem::kindOf(log);
  if (kind == FileSystem::Kind::Folder || kind == FileSystem::Kind::Other) {
    return log + " is " + (kind == FileSystem::Kind::Folder ? std::string("a folder") : FileSystem::strangeKind(log)) +
           ", not a log of the job's own: refused";
  }
  // The program's own files in its working folder must fit the platform's path length: a run
  // that cannot start there may write elsewhere, and clear a terminal whose file nobody finds.
  const std::string longest = folder_->workFile(name, "." + name + ".txt.zq-tmp");
  if (longest.size() > FileSystem::longestPath()) {
    return "the working folder " + folder_->workFolder(name) + " is too long for this system's paths (" +
           std::to_string(longest.size()) + " characters with the program's files, at most " +
           std::to_string(FileSystem::longestPath()) + "): use a shorter output folder";
  }
  return std::string();
}

bool Job::recoverTerminalLeftover(Run& run, const std::string& day, const std::string& name) {
  if (day == day_) {
    TerminalReport entry;
    if (!recovery_->recoverWork(*folder_, name, entry)) return false;
    report_.interrupted = true;
    for (Run& other : runs_) {
      if (!other.terminal.valid() || foldName(other.terminal.name) != foldName(name)) continue;
      if (&other == &run && !(hasCompleteFile(entry.outcome) || entry.outcome == Outcome::Pending)) return true;
      other.report = entry;
      other.report.name = other.terminal.name;
      other.recovered = true;
      if (&other == &run) {
        run.terminalLock.reset();
        run.state = Run::Done;
        Output::out(terminalLine(run.report));
      }
      return true;
    }
    extraEntries_.push_back(entry);
    return true;
  }
  const DayFolder other(outputFolder_, day);
  Lock lock;
  std::string previous;
  const Lock::Result taken = lock.tryTake(other.lockPath(), Lock::ownRecord(), previous);
  if (taken == Lock::Held || taken == Lock::Failed) return false;
  if (recovery_->completeDay(other)) report_.recoveredDays.push_back(day);
  return true;
}

bool Job::takeTerminal(Run& run) {
  const std::string path =
      FileSystem::join(FileSystem::join(outputFolder_, ".state"), terminalLockName(run.terminal.key));
  run.terminalLock.reset(new Lock());
  std::string previous;
  const std::string record = Lock::ownRecord() + "day " + day_ + "\nname " + run.terminal.name + "\n";
  switch (run.terminalLock->tryTake(path, record, previous)) {
    case Lock::Held: {
      const std::string holder = Lock::recordedId(previous);
      endUnstarted(run, Outcome::Busy, Cause::Busy,
                   "another job is reading the terminal (process " + (holder.empty() ? "unknown" : holder) + ")", true);
      return false;
    }
    case Lock::Failed: endUnstarted(run, Outcome::Failed, Cause::File, previous, false); return false;
    case Lock::TakenOver: {
      // Its last reader ended abnormally: what it read is put in place before the terminal is read
      // again, or the order of the downloads would be lost.
      const std::string day = recordValue(previous, "day");
      const std::string name = recordValue(previous, "name");
      if (!DayFolder::isDayName(day) || !isPlainName(name)) return true;
      const DayFolder left(outputFolder_, day);
      if (FileSystem::kindOf(left.workFolder(name)) == FileSystem::Kind::Absent) return true;
      if (!recoverTerminalLeftover(run, day, name)) {
        endUnstarted(run, Outcome::Busy, Cause::Busy,
                     "a job that ended left a download of this terminal in " + day + ", whose job still runs", true);
        return false;
      }
      return run.state != Run::Done;
    }
    case Lock::Taken: return true;
  }
  return true;
}

void Job::start(Run& run) {
  TerminalReport& report = run.report;
  ++report.attempts;
  run.notes.clear();
  run.stopSent = false;
  run.killed = false;
  run.attemptStartMs = Common::monotonicMs();
  run.attemptStarted = Common::localTime();
  if (report.attempts == 1) {
    run.firstStartMs = run.attemptStartMs;
    report.started = run.attemptStarted.iso();
  }
  const std::string& name = run.terminal.name;
  const std::string dataName = name + ".txt";
  std::vector<std::string> arguments = {run.terminal.model, run.terminal.address, dataName};
  arguments.insert(arguments.end(), run.terminal.switches.begin(), run.terminal.switches.end());
  arguments.push_back("-debug");
  run.command = commandText(program_, arguments);
  const std::string problem = unreadable(run);
  if (!problem.empty()) {
    endUnstarted(run, Outcome::Failed, Cause::File, problem, false);
    return;
  }
  if (!takeTerminal(run)) return;
  std::string error;
  run.process.reset(new Process());
  if (!folder_->prepareWork(name, error) ||
      !run.process->start(program_, arguments, folder_->workFolder(name),
                          folder_->workFile(name, DayFolder::consoleName), run.terminalLock->handle(), error)) {
    endUnstarted(
        run, Outcome::Failed,
        FileSystem::kindOf(folder_->workFolder(name)) == FileSystem::Kind::Folder ? Cause::Program : Cause::File, error,
        false);
    return;
  }
  run.limitMs = run.attemptStartMs + static_cast<int64_t>(options_.limitSeconds) * 1000;
  run.state = Run::Running;
  run.record = RunRecord();
  run.record.process = run.process->id();
  run.record.token = run.process->token();
  run.record.job = Process::currentId();
  run.record.attempt = report.attempts;
  run.record.limit = Common::epochSeconds() + options_.limitSeconds;
  run.record.started = run.attemptStarted.iso();
  run.record.terminal = report;
  saveRecord(run);
}

void Job::saveRecord(Run& run) {
  std::string error;
  if (!FileSystem::writeAtomically(folder_->runRecord(run.terminal.name), run.record.text(), error)) warn(error);
}

void Job::endUnstarted(Run& run, Outcome outcome, Cause cause, const std::string& reason, bool retry) {
  run.terminalLock.reset();
  if (run.state == Run::Done) return;
  run.report.cause = cause;
  appendLog(run, std::string(), {}, reason);
  if (retry && !stopping_ && run.report.attempts <= options_.retries) {
    run.report.outcome = outcome;
    retryLater(run, reason);
    return;
  }
  run.report.outcome = outcome;
  run.report.reason = reason;
  run.report.finished = Common::localTime().iso();
  run.report.logFile = "logs/" + run.terminal.name + ".log";
  run.state = Run::Done;
  Output::out(terminalLine(run.report));
}

void Job::requestStop(Run& run, const std::string& cause) {
  run.stopSent = true;
  run.stopCause = cause;
  run.killMs = Common::monotonicMs() + stopGraceMs;
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
  run.readyMs = Common::monotonicMs() + static_cast<int64_t>(options_.waitSeconds) * 1000;
  Output::out(run.terminal.name + ": attempt " + std::to_string(run.report.attempts) + " of " +
              std::to_string(options_.retries + 1) + " failed" + (failure.empty() ? "" : ": " + failure) +
              "; next attempt in " + std::to_string(options_.waitSeconds) + " s");
}

void Job::endStopped(Run& run, const Process::Status& status, const std::string& failure) {
  TerminalReport& report = run.report;
  report.outcome = run.stopSent ? Outcome::Stopped : Outcome::Failed;
  if (run.stopSent) report.cause = stopping_ ? Cause::Stopped : Cause::TimeLimit;
  if (report.cause == Cause::None) report.cause = Cause::Program;
  std::string kept;
  std::string error;
  const std::string dataFile = folder_->workFile(run.terminal.name, run.terminal.name + ".txt");
  if (FileSystem::kindOf(dataFile) == FileSystem::Kind::File) {
    kept = folder_->keepStopped(dataFile, run.terminal.name, error);
    // Never deleted: where it could not be moved, it stays in the working folder for the next job.
    if (kept.empty()) {
      warn(error);
      run.keepWork = true;
      kept = folder_->relative(dataFile);
    }
  }
  report.dataFile = kept;
  const std::string separator = run.stopSent ? ", " : "";
  report.reason = (run.stopSent ? run.stopCause : std::string()) +
                  (run.killed ? separator + "ended " + std::to_string(stopGraceMs / 1000) + " s after its stop request"
                              : separator + endingOf(status)) +
                  (failure.empty() ? "" : ": " + failure) +
                  (kept.empty() ? "" : "; what it left in its data file is kept as " + kept);
}

RunEnding Job::runEnding(Run& run, std::string& debugLog) {
  const Process::Status& status = run.process->status();
  const std::string& name = run.terminal.name;
  std::string console;
  std::string ignored;
  FileSystem::readOwnFile(folder_->workFile(name, DayFolder::consoleName), console, ignored);
  FileSystem::readOwnFile(folder_->workFile(name, DayFolder::debugLogName), debugLog, ignored);
  debugLog = ::Console::programTextToUtf8(debugLog);
  RunEnding ending;
  ending.exited = status.exited && !run.killed;
  ending.code = status.code;
  ending.stopSent = run.stopSent;
  ending.killed = run.killed;
  ending.dataFile = FileSystem::kindOf(folder_->workFile(name, name + ".txt")) == FileSystem::Kind::File;
  ending.console = textLines(::Console::programTextToUtf8(console));
  ending.log = textLines(debugLog);
  ending.runMs = Common::monotonicMs() - run.attemptStartMs;
  ending.connectWaitMs = connectWaitOf(run.terminal);
  ending.device = run.device;
  return ending;
}

void Job::end(Run& run) {
  const Process::Status status = run.process->status();
  TerminalReport& report = run.report;
  std::string debugLog;
  const RunEnding ending = runEnding(run, debugLog);
  // How it ended goes on record first: a job that dies from here on leaves the next one the same
  // verdict.
  run.record.ended = true;
  run.record.exited = ending.exited;
  run.record.code = status.code;
  run.record.ending = endingOf(status);
  run.record.stopSent = run.stopSent;
  run.record.killed = run.killed;
  saveRecord(run);
  const std::string dataFile = folder_->workFile(run.terminal.name, run.terminal.name + ".txt");
  const Verdict verdict = judge(ending, run.terminal.name + ".txt", run.terminal.has("-c"), run.terminal.has("-u"));
  report.cause = verdict.cause;
  appendLog(run, debugLog, ending.console, endingOf(status));
  report.finished = Common::localTime().iso();
  report.seconds = static_cast<double>(Common::monotonicMs() - run.firstStartMs) / 1000.0;
  report.hasExitCode = ending.exited;
  report.exitCode = ending.exited ? status.code : 0;
  report.logFile = "logs/" + run.terminal.name + ".log";
  if (verdict.complete) {
    // Complete, also when the run was ended after it saved the file: with -c its records may be
    // gone from the terminal, so the file is the only copy.
    commit(run, verdict, status, verdict.reason);
  } else if (verdict.cleanFailure && !stopping_ && report.attempts <= options_.retries) {
    // Nothing was saved and nothing was changed on the terminal: trying again is safe.
    FileSystem::removeOwnFile(dataFile);
    run.terminalLock.reset();
    retryLater(run, verdict.reason);
    return;
  } else if (!ending.exited || run.stopSent) {
    endStopped(run, status, verdict.reason);
  } else {
    endFailed(run, status, verdict.reason);
  }
  run.record.done = !run.keepWork;
  run.record.terminal = report;
  saveRecord(run);
  run.terminalLock.reset();
  run.state = Run::Done;
  Output::out(terminalLine(report));
}

void Job::endFailed(Run& run, const Process::Status& status, const std::string& failure) {
  TerminalReport& report = run.report;
  // A failed download's file (empty, or the 870's whole lines) cleared nothing.
  FileSystem::removeOwnFile(folder_->workFile(run.terminal.name, run.terminal.name + ".txt"));
  report.outcome = Outcome::Failed;
  report.reason = failure.empty() ? endingOf(status) : failure;
  if (status.code == 0 || status.code == 3) {
    report.reason += ", but no data file";
    report.cause = Cause::File;
  }
  if (report.cause == Cause::None) report.cause = Cause::Program;
}

void Job::commit(Run& run, const Verdict& verdict, const Process::Status& status, const std::string& failure) {
  TerminalReport& report = run.report;
  // A run that did everything has nothing to report, whatever its log says on the way.
  report.reason = verdict.everythingDone ? std::string() : failure;
  if (verdict.everythingDone) report.cause = Cause::None;
  if (run.stopSent && !verdict.everythingDone) report.cause = stopping_ ? Cause::Stopped : Cause::TimeLimit;
  if (!status.exited || run.killed) {
    report.reason =
        (run.stopSent ? run.stopCause + ", " : std::string()) +
        (run.killed ? "ended after its data file was written" : endingOf(status) + " after its data file was written") +
        (failure.empty() ? "" : ": " + failure);
  }
  const std::string dataFile = folder_->workFile(run.terminal.name, run.terminal.name + ".txt");
  if (!Recovery::place(*history_, *folder_, dataFile, verdict, started_, report)) run.keepWork = true;
  if (report.cause == Cause::None && report.outcome != Outcome::Complete && report.outcome != Outcome::Empty) {
    report.cause = Cause::Program;
  }
}

// Every attempt of a terminal in logs/<name>.log.
void Job::appendLog(Run& run, const std::string& debugLog, const std::vector<std::string>& console,
                    const std::string& ending) {
  const std::string header = "==== zq-nightly " + std::string(ZQ_VERSION) + ": " + run.terminal.name + ", attempt " +
                             std::to_string(run.report.attempts) + " of " + std::to_string(options_.retries + 1) +
                             ", " + run.attemptStarted.iso() + ": " + run.command +
                             (run.device.empty() ? "" : " (" + run.device + ")");
  std::string error;
  const std::string text = Recovery::attemptLog(
      header, debugLog, console, run.notes, ending + " after " + seconds(Common::monotonicMs() - run.attemptStartMs));
  if (!folder_->appendLog(run.terminal.name, text, error)) warn(error);
}

void Job::finishReport() {
  for (Run& run : runs_) {
    TerminalReport& report = run.report;
    if (run.state == Run::Queued) {
      report.outcome = Outcome::NotRun;
      report.cause = Cause::Stopped;
      report.reason = "the job was stopped by " + report_.stoppedBy + " first";
    } else if (run.state == Run::Waiting) {
      if (report.outcome != Outcome::Busy) report.outcome = Outcome::Failed;
      report.reason += (report.reason.empty() ? "" : "; ") +
                       std::string("no further attempt: the job was stopped by ") + report_.stoppedBy;
    } else {
      continue;
    }
    run.state = Run::Done;
    Output::out(terminalLine(report));
  }
  // The job's own exit code counts what it did; the day's counts every terminal of the day.
  std::vector<TerminalReport> entries;
  for (const Run& run : runs_) {
    entries.push_back(run.report);
    if (!run.kept) ownTerminals_.push_back(run.report);
  }
  for (const TerminalReport& extra : extraEntries_) {
    entries.push_back(extra);
    ownTerminals_.push_back(extra);
  }
  report_.terminals = dayReport_->merged(entries);
  report_.exitCode = exitCodeOf(ownTerminals_, stopping_);
  if (stateProblems_ && report_.exitCode == 0) report_.exitCode = 2;
  report_.dayExitCode = worseExitCode(exitCodeOf(report_.terminals, false), report_.exitCode);
  report_.finished = Common::localTime().iso();
}

bool Job::writeReports(std::string& error) {
  JobReport own = report_;
  own.terminals = ownTerminals_;
  return dayReport_->write(own, report_, false, error);
}

void Job::writeStatus() {
  const FleetStatus status = readStatus(outputFolder_, day_, options_.historyDays, terminals_, report_.terminalsFile);
  std::string error;
  // Written whole or not at all, like every file a reader may open at any moment.
  if (!FileSystem::writeAtomically(FileSystem::join(outputFolder_, "status.json"), toJson(status).dump(), error) ||
      !FileSystem::writeAtomically(FileSystem::join(outputFolder_, "status.html"), statusPage(status), error) ||
      (!options_.metricsFile.empty() && !FileSystem::writeAtomically(FileSystem::absolute(options_.metricsFile),
                                                                     metricsText(status, report_.exitCode), error))) {
    warn(error);
  }
}

int Job::showStatus() {
  std::string day = options_.day;
  std::string terminalsFile =
      options_.terminalsFile.empty() ? std::string() : FileSystem::absolute(options_.terminalsFile);
  std::vector<Terminal> terminals = terminals_;
  // Without -d: the last night that has a report, up to today; without -f: that night's file.
  if (day.empty()) {
    day = day_;
    const std::vector<std::string> days = DayFolder::days(outputFolder_);
    for (auto at = days.rbegin(); at != days.rend(); ++at) {
      if (*at > day_ || FileSystem::kindOf(DayFolder(outputFolder_, *at).reportPath()) != FileSystem::Kind::File) {
        continue;
      }
      day = *at;
      break;
    }
  }
  if (terminalsFile.empty()) {
    DayFolder folder(outputFolder_, day);
    DayReport last(folder);
    if (last.readEarlier(false)) {
      // The terminals that night's report lists: the file may have changed since.
      terminalsFile = last.earlier().terminalsFile;
      for (const TerminalReport& entry : last.earlier().terminals) {
        if (entry.outcome == Outcome::Invalid) continue;
        Terminal terminal;
        terminal.name = entry.name;
        terminal.model = entry.model;
        terminal.address = entry.address;
        terminal.switches = entry.switches;
        terminals.push_back(terminal);
      }
    }
  }
  const FleetStatus status = readStatus(outputFolder_, day, options_.historyDays, terminals, terminalsFile);
  std::string table = statusTable(status, ::Console::isTerminal(stdout));
  for (const std::string& line : textLines(table)) Output::out(line);
  return status.exitCode();
}

void Job::notify(const std::string& reportPath) {
  Process command;
  std::string error;
  if (!command.startShell(options_.notify, reportPath, error)) {
    Output::err("zq-nightly: -x: " + error);
    return;
  }
  const int64_t deadline = Common::monotonicMs() + notifyLimitMs;
  while (!command.finished()) {
    const int64_t left = deadline - Common::monotonicMs();
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
// other names is its own, and keeps its folder. A download that waits to be put in place keeps
// its folder, record and witnesses for the next job.
void Job::cleanUp() {
  for (const Run& run : runs_) {
    if (run.report.attempts == 0 || run.keepWork || !run.terminal.valid()) continue;
    folder_->cleanWork(run.terminal.name);
  }
}

}  // namespace ZqNightly
