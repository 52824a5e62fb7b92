// Only operating-system independent code.
#include "Nightly/Recovery.h"

#include "Common/Console.h"
#include "Common/Stop.h"
#include "Nightly/Output.h"
#include "Nightly/Platform.h"
#include "Nightly/Records.h"
#include "Nightly/RunRecord.h"
#include "Nightly/Verdict.h"
#include "Version.h"

namespace ZqNightly {
namespace {

// A run that had its stop request gets this long to finish the exchange in flight.
const int64_t stopGraceSeconds = 15;

void warn(const std::string& text) { Output::err("zq-nightly: Warning: " + text); }

bool hasSwitch(const TerminalReport& terminal, const char* option) {
  for (const std::string& s : terminal.switches) {
    if (s == option) return true;
  }
  return false;
}

std::string readLines(const std::string& path, std::vector<std::string>& lines) {
  std::string text;
  std::string ignored;
  if (FileSystem::kindOf(path) == FileSystem::Kind::File) FileSystem::readOwnFile(path, text, ignored);
  text = ::Console::programTextToUtf8(text);
  lines = textLines(text);
  return text;
}

// The entry's files and counts from a download already in place under `file`.
void fillPlaced(const DayFolder& day, const std::string& file, const LocalTime& now, TerminalReport& entry) {
  std::string data;
  std::string fresh;
  std::string ignored;
  FileSystem::readOwnFile(day.file(file), data, ignored);
  FileSystem::readOwnFile(day.newPath(file), fresh, ignored);
  entry.hasRecords = true;
  entry.records = Records::lines(data).size();
  entry.newRecords = Records::lines(fresh).size();
  entry.suspectRecords = Records::suspect(data, now);
  entry.dataFile = file;
  entry.newFile = "new/" + file;
}

}  // namespace

bool Recovery::place(History& history, const DayFolder& day, const std::string& workFile, const Verdict& verdict,
                     const LocalTime& now, TerminalReport& entry) {
  History::Placed placed;
  std::string error;
  entry.cleared = hasSwitch(entry, "-c") ? (verdict.cleared ? Step::Done : Step::NotDone) : Step::Unknown;
  entry.clockSet = hasSwitch(entry, "-u") ? (verdict.clockSet ? Step::Done : Step::NotDone) : Step::Unknown;
  if (!history.commit(entry.name, day.day(), workFile, verdict.cleared, placed, error)) {
    // Complete, and perhaps the only copy of its records: it stays where the next job finds it.
    entry.outcome = Outcome::Pending;
    entry.cause = Cause::File;
    entry.reason = "the complete data file could not be put in place: " + error + "; it stays in " +
                   day.relative(workFile) + " and the next job puts it in place";
    return false;
  }
  entry.hasRecords = true;
  entry.records = placed.records;
  entry.newRecords = placed.newRecords;
  entry.suspectRecords = Records::suspect(placed.data, now);
  entry.dataFile = placed.file;
  entry.newFile = "new/" + placed.file;
  entry.firstNight = placed.knowledge == History::Knowledge::FirstNight;
  entry.stateDamaged = placed.knowledge == History::Knowledge::Damaged;
  if (!placed.note.empty()) warn(entry.name + ": " + placed.note);
  if (entry.cleared == Step::NotDone) {
    entry.outcome = Outcome::NotCleared;
  } else if (entry.clockSet == Step::NotDone) {
    entry.outcome = Outcome::ClockNotSet;
  } else {
    entry.outcome = placed.records == 0 ? Outcome::Empty : Outcome::Complete;
  }
  if (entry.stateDamaged) {
    entry.reason += (entry.reason.empty() ? "" : "; ") + placed.note;
    if (entry.cause == Cause::None) entry.cause = Cause::State;
  }
  return true;
}

Recovery::Recovery(const std::string& outputFolder, const std::string& jobDay, History& history,
                   const std::vector<Terminal>& terminals, const JobReport& job)
    : outputFolder_(outputFolder), jobDay_(jobDay), history_(history), terminals_(terminals), job_(job) {}

TerminalReport Recovery::describe(const std::string& name) const {
  TerminalReport entry;
  entry.name = name;
  for (const Terminal& terminal : terminals_) {
    if (terminal.valid() && foldName(terminal.name) == foldName(name)) {
      entry.model = terminal.model;
      entry.address = terminal.address;
      entry.switches = terminal.switches;
    }
  }
  return entry;
}

bool Recovery::waitForRun(const DayFolder& day, const std::string& workName, long process, const std::string& token,
                          int64_t limit) {
  warn(day.day() + " " + workName + ": the run of a job that ended (process " + std::to_string(process) +
       ") is still going: waiting for it" + (limit > 0 ? " until its time limit" : ""));
  const int64_t stopAt = limit > 0 ? limit : Common::epochSeconds() + 1800;
  int64_t killAt = 0;
  int64_t giveUpAt = 0;
  while (Process::alive(process, token)) {
    if (Common::Stop::requested()) return false;
    const int64_t now = Common::epochSeconds();
    if (killAt == 0 && now >= stopAt) {
      Process::requestStopOf(process, token);
      killAt = now + stopGraceSeconds;
    } else if (killAt != 0 && giveUpAt == 0 && now >= killAt) {
      Process::killOf(process, token);
      giveUpAt = now + 10;
    } else if (giveUpAt != 0 && now >= giveUpAt) {
      warn(day.day() + " " + workName + ": process " + std::to_string(process) + " does not end: left for later");
      return false;
    }
    Process::waitAny({}, 200);
  }
  return true;
}

bool Recovery::recoverWork(const DayFolder& day, const std::string& workName, TerminalReport& entry) {
  const std::string folder = day.workFolder(workName);
  if (FileSystem::kindOf(folder) != FileSystem::Kind::Folder) {
    Output::err("zq-nightly: Error: " + folder + " is " +
                (FileSystem::kindOf(folder) == FileSystem::Kind::File ? std::string("a file")
                                                                      : FileSystem::strangeKind(folder)) +
                ", not a working folder of the job's own: left alone");
    return false;
  }
  RunRecord record;
  std::string text;
  std::string ignored;
  const bool hasRecord = FileSystem::kindOf(day.runRecord(workName)) == FileSystem::Kind::File &&
                         FileSystem::readOwnFile(day.runRecord(workName), text, ignored) &&
                         RunRecord::read(text, record) && foldName(record.terminal.name) == foldName(workName);
  if (hasRecord && record.process > 0 && Process::alive(record.process, record.token) &&
      !waitForRun(day, workName, record.process, record.token, record.limit)) {
    return false;
  }
  const LocalTime now = Common::localTime();
  std::vector<std::string> console;
  std::vector<std::string> log;
  readLines(day.workFile(workName, DayFolder::consoleName), console);
  const std::string debugLog = readLines(day.workFile(workName, DayFolder::debugLogName), log);
  const std::string dataName = workName + ".txt";
  const std::string dataPath = day.workFile(workName, dataName);
  const std::string partialPath = day.workFile(workName, "." + dataName + ".zq-tmp");

  if (hasRecord && record.done) {
    // Judged and put in place before its job ended: only its report was missing.
    entry = record.terminal;
    day.cleanWork(workName);
    return true;
  }
  entry = hasRecord ? record.terminal : describe(workName);
  entry.name = workName;
  entry.recovered = true;
  entry.logFile = "logs/" + workName + ".log";
  entry.attempts = hasRecord ? record.attempt : 0;
  entry.started = hasRecord ? record.started : std::string();
  entry.finished = now.iso();
  entry.hasExitCode = hasRecord && record.ended && record.exited && !record.killed;
  entry.exitCode = entry.hasExitCode ? record.code : 0;

  RunEnding ending;
  ending.exited = entry.hasExitCode;
  ending.code = entry.exitCode;
  ending.stopSent = hasRecord && record.stopSent;
  ending.killed = hasRecord && record.killed;
  ending.dataFile = FileSystem::kindOf(dataPath) == FileSystem::Kind::File;
  ending.console = console;
  ending.log = log;
  const Verdict verdict = judge(ending, dataName, hasSwitch(entry, "-c"), hasSwitch(entry, "-u"));
  const std::string how = "its job ended before it had put the run's download in place";
  if (verdict.complete) {
    entry.reason = how + "; recovered by the job of " + jobDay_;
    place(history_, day, dataPath, verdict, now, entry);
  } else {
    std::string kept;
    std::string error;
    for (const std::string& left : {dataPath, partialPath}) {
      if (FileSystem::kindOf(left) != FileSystem::Kind::File) continue;
      const std::string where = day.keepStopped(left, workName, error);
      kept += where.empty() ? "" : (kept.empty() ? "" : ", ") + where;
    }
    // Put in place before its job ended, by History's recovery now or by the job itself: the
    // day folder has it.
    RunEnding placedEnding = ending;
    placedEnding.dataFile = true;
    const Verdict wasComplete = judge(placedEnding, dataName, hasSwitch(entry, "-c"), hasSwitch(entry, "-u"));
    bool completed = false;
    for (const History::Completed& commit : history_.completed()) {
      if (commit.day != day.day() || commit.name != foldName(workName)) continue;
      completed = true;
      fillPlaced(day, commit.placed.file, now, entry);
      entry.cleared = hasSwitch(entry, "-c") ? (commit.cleared ? Step::Done : Step::NotDone) : Step::Unknown;
      entry.clockSet = hasSwitch(entry, "-u") ? (wasComplete.clockSet ? Step::Done : Step::NotDone) : Step::Unknown;
    }
    const std::string last = day.lastDataName(workName);
    if (!completed && hasRecord && record.ended && wasComplete.complete && kept.empty() && !last.empty()) {
      completed = true;
      fillPlaced(day, last, now, entry);
      entry.cleared = hasSwitch(entry, "-c") ? (wasComplete.cleared ? Step::Done : Step::NotDone) : Step::Unknown;
      entry.clockSet = hasSwitch(entry, "-u") ? (wasComplete.clockSet ? Step::Done : Step::NotDone) : Step::Unknown;
    }
    if (completed) {
      entry.outcome = entry.cleared == Step::NotDone    ? Outcome::NotCleared
                      : entry.clockSet == Step::NotDone ? Outcome::ClockNotSet
                      : entry.records == 0              ? Outcome::Empty
                                                        : Outcome::Complete;
      entry.reason = "its job ended while it put the download in place; completed by the job of " + jobDay_;
    } else {
      entry.outcome = hasRecord ? Outcome::Stopped : Outcome::NotRun;
      entry.cause = Cause::JobEnded;
      entry.reason = "its job ended before the run was judged; the run had not reported a complete data file" +
                     (kept.empty() ? std::string(", and left none") : "; what it left is kept as " + kept);
    }
  }
  std::string error;
  const std::string header = "==== zq-nightly " + std::string(ZQ_VERSION) + ": " + workName +
                             ", what a run of a job that ended left, recovered " + now.iso() + " by the job of " +
                             jobDay_ + (hasRecord ? ": process " + std::to_string(record.process) : std::string());
  if (!day.appendLog(workName, attemptLog(header, debugLog, console, {}, name(entry.outcome)), error)) warn(error);
  if (entry.outcome != Outcome::Pending) day.cleanWork(workName);
  return true;
}

std::map<std::string, TerminalReport> Recovery::recoverDay(const DayFolder& day) {
  std::map<std::string, TerminalReport> entries;
  for (const std::string& workName : day.workNames()) {
    TerminalReport entry;
    if (recoverWork(day, workName, entry)) entries[foldName(workName)] = entry;
  }
  for (const History::Completed& commit : history_.completed()) {
    if (commit.day != day.day() || entries.count(commit.name) != 0) continue;
    TerminalReport entry = describe(commit.name);
    entry.recovered = true;
    fillPlaced(day, commit.placed.file, Common::localTime(), entry);
    entry.cleared = commit.cleared ? Step::Done : Step::Unknown;
    entry.outcome = commit.placed.records == 0 ? Outcome::Empty : Outcome::Complete;
    entry.reason = "its job ended while it put the download in place; completed by the job of " + jobDay_;
    entries[commit.name] = entry;
  }
  return entries;
}

bool Recovery::completeDay(const DayFolder& day) {
  const std::map<std::string, TerminalReport> entries = recoverDay(day);
  JobReport report;
  std::string text;
  std::string error;
  Json value;
  const bool earlier = FileSystem::kindOf(day.reportPath()) == FileSystem::Kind::File &&
                       FileSystem::readOwnFile(day.reportPath(), text, error) && Json::parse(text, value, error) &&
                       fromJson(value, report);
  if (earlier && entries.empty()) return false;
  if (!earlier) {
    report = job_;
    report.day = day.day();
    report.terminals.clear();
    report.recoveredDays.clear();
    for (const Terminal& terminal : terminals_) {
      if (!terminal.valid() || entries.count(foldName(terminal.name)) != 0) continue;
      TerminalReport entry = describe(terminal.name);
      entry.outcome = Outcome::NotRun;
      entry.cause = Cause::JobEnded;
      entry.reason = "the job for this day ended abnormally before it read this terminal";
      report.terminals.push_back(entry);
    }
  }
  for (const auto& recovered : entries) {
    bool replaced = false;
    for (TerminalReport& terminal : report.terminals) {
      if (foldName(terminal.name) != recovered.first) continue;
      terminal = recovered.second;
      replaced = true;
    }
    if (!replaced) report.terminals.push_back(recovered.second);
  }
  report.interrupted = true;
  report.finished = Common::localTime().iso();
  report.dayExitCode = exitCodeOf(report.terminals, false);
  if (!earlier) report.exitCode = report.dayExitCode;
  // What this job did for the day is a report of its own, as every job's is.
  JobReport own = job_;
  own.day = day.day();
  own.finished = report.finished;
  own.recoveredDays.clear();
  own.jobs = Json::array();
  for (const auto& recovered : entries) own.terminals.push_back(recovered.second);
  own.exitCode = exitCodeOf(own.terminals, false);
  const std::string name = "reports/" + jobReportName(own.started, std::to_string(Process::currentId()));
  const bool kept = FileSystem::makeOwnFolder(day.file("reports"), error) &&
                    FileSystem::writeAtomically(day.file(name), toJson(own).dump(), error);
  report.jobs.push(jobEntry(own, kept ? name : std::string(), true));
  if (!FileSystem::writeAtomically(day.reportPath(), toJson(report).dump(), error)) {
    warn(error);
    return false;
  }
  std::string names;
  for (const auto& recovered : entries) names += (names.empty() ? "" : ", ") + terminalLine(recovered.second);
  Output::out(day.day() + ": completed a night that was interrupted" + (names.empty() ? "" : ": " + names));
  return true;
}

std::string Recovery::attemptLog(const std::string& header, const std::string& debugLog,
                                 const std::vector<std::string>& console, const std::vector<std::string>& notes,
                                 const std::string& ending) {
  const std::string eol = FileSystem::lineEnd();
  std::string text = header + eol + debugLog;
  if (!debugLog.empty() && debugLog.back() != '\n') text += eol;
  for (const std::string& line : console) text += "==== console: " + line + eol;
  for (const std::string& note : notes) text += "==== " + note + eol;
  return text + "==== " + Common::localTime().iso() + ": " + ending + eol;
}

}  // namespace ZqNightly
