// Only operating-system independent code.
#include "Nightly/Recovery.h"

#include <algorithm>

#include "Common/Console.h"
#include "Common/Stop.h"
#include "Nightly/DayReport.h"
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

bool Recovery::readLeftover(const DayFolder& day, const std::string& workName, Leftover& left) {
  const std::string folder = day.workFolder(workName);
  if (FileSystem::kindOf(folder) != FileSystem::Kind::Folder) {
    const bool file = FileSystem::kindOf(folder) == FileSystem::Kind::File;
    Output::err("zq-nightly: Error: " + folder + " is " +
                (file ? std::string("a file") : FileSystem::strangeKind(folder)) +
                ", not a working folder of the job's own: left alone");
    return false;
  }
  std::string text;
  std::string ignored;
  const RunRecord& record = left.record;
  left.hasRecord = FileSystem::kindOf(day.runRecord(workName)) == FileSystem::Kind::File &&
                   FileSystem::readOwnFile(day.runRecord(workName), text, ignored) &&
                   RunRecord::read(text, left.record) && foldName(record.terminal.name) == foldName(workName);
  if (left.hasRecord && record.process > 0 && Process::alive(record.process, record.token) &&
      !waitForRun(day, workName, record.process, record.token, record.limit)) {
    return false;
  }
  readLines(day.workFile(workName, DayFolder::consoleName), left.console);
  left.debugLog = readLines(day.workFile(workName, DayFolder::debugLogName), left.log);
  left.dataName = workName + ".txt";
  left.dataPath = day.workFile(workName, left.dataName);
  left.partialPath = day.workFile(workName, "." + left.dataName + ".zq-tmp");
  return true;
}

RunEnding Recovery::Leftover::ending(bool dataFile) const {
  RunEnding ending;
  ending.exited = hasRecord && record.ended && record.exited && !record.killed;
  ending.code = ending.exited ? record.code : 0;
  ending.stopSent = hasRecord && record.stopSent;
  ending.killed = hasRecord && record.killed;
  ending.dataFile = dataFile;
  ending.console = console;
  ending.log = log;
  return ending;
}

void Recovery::judgeLeftover(const DayFolder& day, const std::string& workName, const Leftover& left,
                             TerminalReport& entry) {
  const LocalTime now = Common::localTime();
  entry = left.hasRecord ? left.record.terminal : describe(workName);
  entry.name = workName;
  entry.recovered = true;
  entry.logFile = "logs/" + workName + ".log";
  entry.attempts = left.hasRecord ? left.record.attempt : 0;
  entry.started = left.hasRecord ? left.record.started : std::string();
  entry.finished = now.iso();
  const RunEnding ending = left.ending(FileSystem::kindOf(left.dataPath) == FileSystem::Kind::File);
  entry.hasExitCode = ending.exited;
  entry.exitCode = ending.code;
  const Verdict verdict = judge(ending, left.dataName, hasSwitch(entry, "-c"), hasSwitch(entry, "-u"));
  if (verdict.complete) {
    entry.reason = "its job ended before it had put the run's download in place; recovered by the job of " + jobDay_;
    place(history_, day, left.dataPath, verdict, now, entry);
    return;
  }
  std::string kept;
  std::string error;
  for (const std::string& path : {left.dataPath, left.partialPath}) {
    if (FileSystem::kindOf(path) != FileSystem::Kind::File) continue;
    const std::string where = day.keepStopped(path, workName, error);
    kept += where.empty() ? "" : (kept.empty() ? "" : ", ") + where;
  }
  if (kept.empty() && placedBefore(day, workName, left, entry)) return;
  entry.outcome = left.hasRecord ? Outcome::Stopped : Outcome::NotRun;
  entry.cause = Cause::JobEnded;
  entry.reason = "its job ended before the run was judged; the run had not reported a complete data file" +
                 (kept.empty() ? std::string(", and left none") : "; what it left is kept as " + kept);
}

bool Recovery::placedBefore(const DayFolder& day, const std::string& workName, const Leftover& left,
                            TerminalReport& entry) {
  // Put in place before its job ended, by History's recovery now or by the job itself: the day
  // folder has it, and the run's witnesses say what it did.
  const Verdict was = judge(left.ending(true), left.dataName, hasSwitch(entry, "-c"), hasSwitch(entry, "-u"));
  std::string file;
  bool cleared = was.cleared;
  for (const History::Completed& commit : history_.completed()) {
    if (commit.day != day.day() || commit.name != foldName(workName)) continue;
    file = commit.placed.file;
    cleared = commit.cleared;
  }
  if (file.empty() && left.hasRecord && left.record.ended && was.complete) file = day.lastDataName(workName);
  if (file.empty()) return false;
  fillPlaced(day, file, Common::localTime(), entry);
  entry.cleared = hasSwitch(entry, "-c") ? (cleared ? Step::Done : Step::NotDone) : Step::Unknown;
  entry.clockSet = hasSwitch(entry, "-u") ? (was.clockSet ? Step::Done : Step::NotDone) : Step::Unknown;
  entry.outcome = entry.cleared == Step::NotDone    ? Outcome::NotCleared
                  : entry.clockSet == Step::NotDone ? Outcome::ClockNotSet
                  : entry.records == 0              ? Outcome::Empty
                                                    : Outcome::Complete;
  entry.reason = "its job ended while it put the download in place; completed by the job of " + jobDay_;
  return true;
}

bool Recovery::recoverWork(const DayFolder& day, const std::string& workName, TerminalReport& entry) {
  Leftover left;
  if (!readLeftover(day, workName, left)) return false;
  if (left.hasRecord && left.record.done) {
    // Judged and put in place before its job ended: only its report was missing.
    entry = left.record.terminal;
    day.cleanWork(workName);
    return true;
  }
  judgeLeftover(day, workName, left, entry);
  std::string error;
  const std::string header = "==== zq-nightly " + std::string(ZQ_VERSION) + ": " + workName +
                             ", what a run of a job that ended left, " + "recovered " + Common::localTime().iso() +
                             " by the job of " + jobDay_ +
                             (left.hasRecord ? ": process " + std::to_string(left.record.process) : std::string());
  if (!day.appendLog(workName, attemptLog(header, left.debugLog, left.console, {}, name(entry.outcome)), error)) {
    warn(error);
  }
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
  DayReport report(day);
  report.readEarlier(true);
  if (report.hasEarlier() && entries.empty()) return false;
  // What this job did for the day is a report of its own, as every job's is.
  JobReport own = job_;
  own.day = day.day();
  own.finished = Common::localTime().iso();
  own.recoveredDays.clear();
  for (const auto& recovered : entries) own.terminals.push_back(recovered.second);
  own.exitCode = exitCodeOf(own.terminals, false);
  JobReport whole = report.hasEarlier() ? report.earlier() : own;
  whole.terminals = report.hasEarlier() ? replaced(report.earlier().terminals, entries) : neverRead(entries);
  whole.interrupted = true;
  whole.finished = own.finished;
  whole.dayExitCode = exitCodeOf(whole.terminals, false);
  std::string error;
  if (!report.write(own, whole, true, error)) {
    warn(error);
    return false;
  }
  std::string names;
  for (const auto& recovered : entries) names += (names.empty() ? "" : ", ") + terminalLine(recovered.second);
  Output::out(day.day() + ": completed a night that was interrupted" + (names.empty() ? "" : ": " + names));
  return true;
}

std::vector<TerminalReport> Recovery::neverRead(const std::map<std::string, TerminalReport>& entries) const {
  std::vector<TerminalReport> result;
  for (const Terminal& terminal : terminals_) {
    if (!terminal.valid() || entries.count(foldName(terminal.name)) != 0) continue;
    TerminalReport entry = describe(terminal.name);
    entry.outcome = Outcome::NotRun;
    entry.cause = Cause::JobEnded;
    entry.reason = "the job for this day ended abnormally before it read this terminal";
    result.push_back(entry);
  }
  return replaced(result, entries);
}

std::vector<TerminalReport> Recovery::replaced(const std::vector<TerminalReport>& terminals,
                                               const std::map<std::string, TerminalReport>& entries) {
  std::vector<TerminalReport> result = terminals;
  for (const auto& recovered : entries) {
    const auto same = std::find_if(result.begin(), result.end(), [&recovered](const TerminalReport& terminal) {
      return foldName(terminal.name) == recovered.first;
    });
    if (same != result.end()) {
      *same = recovered.second;
    } else {
      result.push_back(recovered.second);
    }
  }
  return result;
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
