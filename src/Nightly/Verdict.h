// Judging a run of the program by what it left: its exit status (when the job saw it end, or
// recorded it), its data file, its console lines and its debug log. The program's promise decides:
// exit code 0 or 3 with a data file under its own name is a complete download; a run that was ended
// (no exit code of its own) is complete once its console or its log says the file was written.
// What failed is told by the innermost cause the program logged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Nightly/Outcome.h"

namespace ZqNightly {

// How a run ended, as far as anyone can tell.
struct RunEnding {
  bool exited = false;  // it returned an exit code (the job saw it, or recorded it)
  int code = 0;
  bool stopSent = false;             // the job sent it a stop request
  bool killed = false;               // the job ended it outright
  bool dataFile = false;             // a file under the data file's own name is in its working folder
  std::vector<std::string> console;  // its console lines, without line ends
  std::vector<std::string> log;      // its debug log's lines, without line ends
  // How long it ran: a refused connection and one that timed out read the same in the log, but
  // only the refusal comes within the connect wait. -1 when unknown.
  int64_t runMs = -1;
  int64_t connectWaitMs = 0;  // the program's connect wait for the terminal's model
  std::string device;         // a serial terminal: "COM3 is /dev/ttyS2"
};

struct Verdict {
  bool complete = false;  // the data file holds the whole download
  bool cleared = false;   // the terminal's memory was emptied (or had nothing to clear)
  bool clockSet = false;
  bool everythingDone = false;  // it ended with 0 of its own: all it was asked to do was done
  // It ended with 2 of its own without a stop: nothing was changed on the terminal, and an
  // attempt again is safe.
  bool cleanFailure = false;
  // Why it failed at something: `reason` starts with the innermost cause (the first Error line of
  // a driver or a transport, or the Warning that kept the clearing from being sent), followed by
  // the console lines that say what the run could not do; the program's generic wrap-up lines are
  // left out. Cause::None and "" when it failed at nothing.
  Cause cause = Cause::None;
  std::string reason;
};

Verdict judge(const RunEnding& ending, const std::string& dataName, bool wantsClear, bool wantsClock);

// Lines of a text, without their line ends.
std::vector<std::string> textLines(const std::string& text);

}  // namespace ZqNightly
