// Judging a run of the program by what it left: its exit status (when the job saw it end), its
// data file, its console lines and its debug log. The program's promise decides: exit code 0 or 3
// with a data file under its own name is a complete download; a run that was ended (no exit code
// of its own) is complete once its console or its log says the file was written.
#pragma once

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

// Why an attempt failed, as the program tells it: its console lines that say what it could not
// do, and the last Error line of its debug log (without time stamp, level and source position).
std::string failureOf(const std::vector<std::string>& console, const std::vector<std::string>& log);

// Lines of a text, without their line ends.
std::vector<std::string> textLines(const std::string& text);

}  // namespace ZqNightly
