// Judging a run by what it left: the program's exit code where the job saw one, else what its
// console and its debug log say; what was done to the terminal from the same witnesses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Verdict.h"

using ZqNightly::judge;
using ZqNightly::RunEnding;
using ZqNightly::Verdict;

namespace {

const std::string written = "Data file \"hall.txt\" written successfully.";
const std::string logWritten =
    "[Sat, 31.01.2026 04:30:01] [INFO] Zq870::dump(): 3 records written to hall.txt at Zq\\Zq870:150";
const std::string logCleared = "[Sat, 31.01.2026 04:30:02] [INFO] Zq870::reset(): Records cleared at Zq\\Zq870:278";
const std::string logNothing = "[Sat, 31.01.2026 04:30:02] [INFO] Zq870::reset(): Nothing to clear at Zq\\Terminal:31";
const std::string logClock =
    "[Sat, 31.01.2026 04:30:02] [INFO] Zq870::updateDateTime(): Date/time set to 31.01.2026 04:30:02 (UTC+01:00) at "
    "Zq\\Zq870:264";

RunEnding returned(int code, bool dataFile, std::vector<std::string> console = {}) {
  RunEnding ending;
  ending.exited = true;
  ending.code = code;
  ending.dataFile = dataFile;
  ending.console = console;
  return ending;
}

// A run whose job ended before it: no exit code, only what it wrote.
RunEnding leftover(bool dataFile, std::vector<std::string> console, std::vector<std::string> log = {}) {
  RunEnding ending;
  ending.dataFile = dataFile;
  ending.console = console;
  ending.log = log;
  return ending;
}

struct Row {
  const char* what;
  RunEnding ending;
  bool complete, cleared, clockSet, cleanFailure;
};

TEST(VerdictTest, EveryWayARunCanEnd) {
  RunEnding stoppedAfterSave =
      returned(3, true, {written, "Date/time updated successfully.", "Can't clean up the data."});
  stoppedAfterSave.stopSent = true;
  RunEnding killedAfterSave = leftover(true, {written});
  killedAfterSave.stopSent = killedAfterSave.killed = true;
  RunEnding stoppedEarly = returned(2, false);
  stoppedEarly.stopSent = true;
  const Row rows[] = {
      {"exit 0 with an empty console (stdout on a full disk)", returned(0, true), true, true, true, false},
      {"exit 3, the clearing refused",
       returned(3, true, {written, "Date/time updated successfully.", "Can't clean up the data."}), true, false, true,
       false},
      {"exit 3 after a stop request, the clearing not started", stoppedAfterSave, true, false, true, false},
      {"exit 0 without its data file", returned(0, false, {written}), false, false, false, false},
      {"exit 2, a connection that failed", returned(2, false), false, false, false, true},
      {"exit 2 with the 870's whole lines", returned(2, true), false, false, false, true},
      {"exit 2 after a stop request", stoppedEarly, false, false, false, false},
      {"ended after its save point, the console says so", killedAfterSave, true, false, false, false},
      {"left by a job that ended: console says written and cleared",
       leftover(true, {written, "Date/time updated successfully.", "Data cleared successfully."}), true, true, true,
       false},
      {"left by a job that ended: no console, the log says all", leftover(true, {}, {logWritten, logClock, logCleared}),
       true, true, true, false},
      {"left by a job that ended: nothing to clear", leftover(true, {}, {logWritten, logNothing}), true, true, false,
       false},
      {"left by a job that ended: written, nothing after it", leftover(true, {written}), true, false, false, false},
      {"left by a job that ended: a file but no word of it", leftover(true, {}), false, false, false, false},
      {"left by a job that ended: another file's line",
       leftover(true, {"Data file \"hall.2.txt\" written successfully."}), false, false, false, false},
  };
  for (const Row& row : rows) {
    const Verdict verdict = judge(row.ending, "hall.txt", true, true);
    EXPECT_EQ(verdict.complete, row.complete) << row.what;
    EXPECT_EQ(verdict.cleared, row.cleared) << row.what;
    EXPECT_EQ(verdict.clockSet, row.clockSet) << row.what;
    EXPECT_EQ(verdict.cleanFailure, row.cleanFailure) << row.what;
  }
}

TEST(VerdictTest, OnlyWhatWasAskedForIsDone) {
  const Verdict verdict = judge(returned(0, true, {written}), "hall.txt", false, false);
  EXPECT_TRUE(verdict.complete);
  EXPECT_FALSE(verdict.cleared);
  EXPECT_FALSE(verdict.clockSet);
}

TEST(VerdictTest, TheReasonIsWhatTheProgramSaid) {
  EXPECT_EQ(ZqNightly::failureOf(
                {"Can't connect to the terminal 870."},
                {"[Sat, 31.01.2026 04:30:01] [ERROR] TCPConnection::connect(): Can't connect at Zq\\Terminal:50",
                 logWritten}),
            "Can't connect to the terminal 870. / TCPConnection::connect(): Can't connect");
  EXPECT_EQ(ZqNightly::textLines("one\r\ntwo\nthree"), (std::vector<std::string>{"one", "two", "three"}));
}

}  // namespace
