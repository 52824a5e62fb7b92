// Judging a run of the program by what it left: its exit status (when the job saw it end), its
// data file, its console lines and its debug log. The program's promise decides: exit code 0 or 3
// with a data file under its own name is a complete download; a run that was ended (no exit code
// of its own) is complete once its console or its log says the file was written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ZqNightly {

struct RunEnding {
  bool exited = false;  // it returned an exit code (the job saw it, or recorded it)
  int code = 0;
  bool stopSent = false;             // the job sent it a stop request
  bool killed = false;               // the job ended it outright
  bool dataFile = false;             // a file under the data file's own name is in its working folder
  std::vector<std::string> console;  // its console lines, without line ends
  std::vector<std::string> log;      // its debug log's lines, without line ends
};

struct Verdict {
  bool complete = false;  // the data file holds the whole download
  bool cleared = false;   // the terminal's memory was emptied (or had nothing to clear)
  bool clockSet = false;
  bool everythingDone = false;  // it ended with 0 of its own: all it was asked to do was done
  // It ended with 2 of its own without a stop: nothing was changed on the terminal, and an
  // attempt again is safe.
  bool cleanFailure = false;
};

Verdict judge(const RunEnding& ending, const std::string& dataName, bool wantsClear, bool wantsClock);

// Why a run failed, as its console and debug log tell it. `reason` starts with the innermost cause
// (the first Error line of a driver or a transport, or the Warning that kept the clearing from
// being sent), followed by the console lines that say what the run could not do; the program's
// generic wrap-up lines are left out. `cause` is one word a monitoring rule can switch on:
//
//   refused, unreachable, timeout, disconnected  the connection: refused at once, no route, a
//                     terminal (or a connection) that stays silent, a connection the terminal closed
//   no-device, permission, port-busy   the serial port cannot be opened
//   protocol          a reply that makes no sense (garbage, a bad count, a record out of step)
//   terminal-error    the terminal refused a command (an error reply)
//   out-of-step       the clearing was not sent: a reply went missing or bytes came unasked
//   punched-during-run  the clearing was not sent: records were punched during the run
//   time-zone         -u was refused: TZ names no time zone
//   file              the data file or its disk
//   stopped           the program was stopped (the job also says time-limit)
//   program           anything else
//
// Empty when the run failed at nothing. `runMs` is how long the run took: a refused connection
// and one that timed out read the same in the log, but only the refusal comes within the connect
// wait. `device`, when the terminal is on a serial port, names the device it resolves to.
struct Diagnosis {
  std::string cause;
  std::string reason;
};
Diagnosis diagnose(const std::vector<std::string>& console, const std::vector<std::string>& log, int64_t runMs,
                   const std::string& device);

// The program's connect wait: a connection that fails sooner was refused.
extern const int64_t connectWaitMs;

// Lines of a text, without their line ends.
std::vector<std::string> textLines(const std::string& text);

}  // namespace ZqNightly
