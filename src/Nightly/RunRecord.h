// The record a job keeps of each run in the run's working folder (.work/<name>/zq-nightly.run):
// the process, its terminal, how it ended, and once it is put in place the terminal's entry of
// the report. A job that ended abnormally leaves it behind, and the next job learns from it which
// process to wait for and how to judge what the run left.
#pragma once

#include <cstdint>
#include <string>

#include "Nightly/Report.h"

namespace ZqNightly {

struct RunRecord {
  long process = 0;
  std::string token;  // tells the process from a later one with its id
  long job = 0;
  int attempt = 0;
  int64_t limit = 0;  // seconds since 1970 when its time limit ends
  std::string started;
  TerminalReport terminal;  // name, model, address, switches; once `done`, the whole entry
  bool ended = false;       // the job saw it end:
  bool exited = false;      // with an exit code of its own
  int code = 0;
  std::string ending;  // else how it ended
  bool stopSent = false;
  bool killed = false;
  bool done = false;  // the job has put its download in place (or kept what it left)

  std::string text() const;
  static bool read(const std::string& text, RunRecord& record);
};

}  // namespace ZqNightly
