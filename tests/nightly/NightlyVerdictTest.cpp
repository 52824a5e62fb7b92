// Judging a run by what it left: the program's exit code where the job saw one, else what its
// console and its debug log say; what was done to the terminal from the same witnesses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Nightly/Verdict.h"

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

// The log lines each fault of a terminal leaves (as the program writes them), and what the report
// makes of them: the innermost cause first, the program's generic wrap-up left out.
struct CauseRow {
  const char* what;
  int code;  // the run's exit code
  std::vector<std::string> console;
  std::vector<std::string> log;
  int64_t runMs;
  const char* cause;
  const char* reasonStart;
};

std::string line(const char* level, const std::string& message) {
  return "[Sat, 31.01.2026 04:30:01] [" + std::string(level) + "] " + message;
}

TEST(VerdictTest, EveryFaultIsNamedByItsInnermostCause) {
  const std::string notWritten = "Can't write data file \"t.txt\".";
  const std::string wrapUp870 = line("ERROR", "Can't update terminal 870 data at Application:253");
  const std::string wrapUpFile = line("ERROR", "Can't write data file \"t.txt\" mode 0 at Application:272");
  const std::string timeout = line("WARNING", "Socket::canRead(): Read timeout (192 msec) at Common\\Socket:239");
  const CauseRow rows[] = {
      {"garbage in a 735 reply",
       2,
       {notWritten},
       {line("ERROR", "Zq735::cmd_g(): err => 0, , RPL=E2 8D 9B 98 DD 0D at Zq\\Zq735:111"),
        line("ERROR", "Zq735::dumpRecord(): Empty record at Zq\\Zq735:267"), wrapUpFile},
       200,
       "protocol",
       "Zq735::cmd_g(): err => 0, , RPL=E2 8D 9B 98 DD 0D / Can't write data file"},
      {"an 870 that closed the connection",
       2,
       {notWritten},
       {line("ERROR", "Zq870::dump(): Can't read terminal response at Zq\\Zq870:181"), wrapUpFile, wrapUp870},
       200,
       "disconnected",
       "Zq870::dump(): Can't read terminal response / Can't write"},
      {"a 735 that closed the connection inside a reply",
       2,
       {notWritten},
       {line("ERROR", "Zq735::cmd_g(): Invalid terminal response, RPL=02 41 31 2C 30 at Zq\\Zq735:123"),
        line("ERROR", "Zq735::dump(): Can't get record 0 at Zq\\Zq735:253"), wrapUpFile},
       200,
       "disconnected",
       "Zq735::cmd_g(): Invalid terminal response"},
      {"an 870 that fell silent",
       2,
       {notWritten},
       {timeout, timeout, line("ERROR", "Zq870::dump(): Can't read terminal response at Zq\\Zq870:102"), wrapUpFile},
       1200,
       "timeout",
       "Zq870::dump(): Can't read terminal response"},
      {"a 735 that refused the clearing",
       3,
       {"Data file \"t.txt\" written successfully.", "Can't clean up the data."},
       {line("ERROR",
             "Zq735::cmd_e(): err => 7, Command failed (hardware problem or invalid internal data), RPL=02 "
             "4E 30 37 0D at Zq\\Zq735:111"),
        line("ERROR", "Can't clean up the data at Application:317")},
       200,
       "terminal-error",
       "Zq735::cmd_e(): err => 7, Command failed"},
      {"an 870 that refused the clearing",
       3,
       {"Data file \"t.txt\" written successfully.", "Can't clean up the data."},
       {line("ERROR", "Zq870::reset(): Can't clean up data at Zq\\Zq870:281"),
        line("ERROR", "Can't clean up the data at Application:317")},
       200,
       "terminal-error",
       "Zq870::reset(): Can't clean up data / Can't clean up the data."},
      {"an 870 that sent more than it announced",
       3,
       {"Data file \"t.txt\" written successfully.", "Can't clean up the data."},
       {line("WARNING", "Zq870::reset(): Dropped 130 bytes that came unasked: 30 30 41 at Zq\\Terminal:74"),
        line("WARNING",
             "Zq870::reset(): The connection is out of step: no clearing request is sent at Zq\\Terminal:87"),
        line("ERROR", "Can't clean up the data at Application:317")},
       200,
       "out-of-step",
       "Zq870::reset(): The connection is out of step: no clearing request is sent (Zq870::reset(): Dropped 130 "
       "bytes that came unasked)"},
      {"records punched during the run",
       3,
       {"Data file \"t.txt\" written successfully.", "Can't clean up the data."},
       {line("WARNING", "Zq735::reset(): 22 records stored, 19 saved: nothing is cleared at Zq\\Zq735:209"),
        line("ERROR", "Can't clean up the data at Application:317")},
       200,
       "punched-during-run",
       "Zq735::reset(): 22 records stored, 19 saved: nothing is cleared"},
      {"a 735 that refused the clock",
       3,
       {"Data file \"t.txt\" written successfully.", "Can't update the date/time."},
       {line("ERROR", "Zq735::cmd_s(): err => 7, Command failed, RPL=02 4E 30 37 0D at Zq\\Zq735:111"),
        line("ERROR", "Can't update the date/time at Application:304")},
       200,
       "terminal-error",
       "Zq735::cmd_s(): err => 7"},
      {"a closed port, refused at once",
       2,
       {"Can't connect to the terminal 870."},
       {line("ERROR", "Socket::connect(): Connection timeout to 127.0.0.1:9, err => 115 at Common\\Socket:82"),
        line("ERROR", "TCPConnection::connect(): Can't connect to 127.0.0.1:9 at Zq\\Terminal:49")},
       30,
       "refused",
       "Socket::connect(): Connection timeout to 127.0.0.1:9, err => 115 / Can't connect"},
      {"a terminal that never answers the connection",
       2,
       {"Can't connect to the terminal 870."},
       {line("ERROR", "Socket::connect(): Connection timeout to 127.0.0.1:9, err => 115 at Common\\Socket:82")},
       2600,
       "timeout",
       "Socket::connect(): Connection timeout"},
      {"a missing COM port",
       2,
       {"Can't connect to the terminal 2210."},
       {line("ERROR",
             "SerialPort::open(): Can't open COM3 port, err => 2 (No such file or directory) at "
             "Common\\SerialPort:87"),
        line("ERROR", "COMConnection::connect(): Can't create serial port COM3 at Zq\\Terminal:110")},
       30,
       "no-device",
       "SerialPort::open(): Can't open COM3 port, err => 2 (No such file or directory) (COM3 is /dev/zq/COM3)"},
      {"a data file that is no regular file",
       2,
       {notWritten},
       {line("ERROR", "Application::run(): t.txt is no regular file at Application:230"), wrapUpFile},
       30,
       "file",
       "Can't write data file"},
  };
  for (const CauseRow& row : rows) {
    RunEnding ending = returned(row.code, row.code == 3, row.console);
    ending.log = row.log;
    ending.runMs = row.runMs;
    ending.connectWaitMs = 2500;
    ending.device = "COM3 is /dev/zq/COM3";
    const Verdict verdict = judge(ending, "t.txt", true, true);
    EXPECT_EQ(std::string(ZqNightly::name(verdict.cause)), row.cause) << row.what;
    EXPECT_EQ(verdict.reason.compare(0, std::string(row.reasonStart).size(), row.reasonStart), 0)
        << row.what << ": " << verdict.reason;
    EXPECT_EQ(verdict.reason.find("Application"), std::string::npos) << row.what;
    EXPECT_EQ(verdict.reason.find("Can't update terminal"), std::string::npos) << row.what;
  }
  // A run that did all it was asked has nothing to say, whatever its log says on the way.
  const Verdict clean = judge(returned(0, true, {"Data file \"t.txt\" written successfully."}), "t.txt", true, true);
  EXPECT_EQ(clean.cause, ZqNightly::Cause::None);
  EXPECT_EQ(clean.reason, "");
  EXPECT_EQ(ZqNightly::textLines("one\r\ntwo\nthree"), (std::vector<std::string>{"one", "two", "three"}));
}

}  // namespace
