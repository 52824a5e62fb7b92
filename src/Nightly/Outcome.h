// What became of one terminal in a night: the report's `outcome`, the console's word for it, and
// what it means for the job's exit code.
#pragma once

#include <string>

namespace ZqNightly {

enum class Outcome {
  Complete,     // a complete data file, everything asked for done
  Empty,        // the same, and the terminal had no records
  ClockNotSet,  // complete, but -u failed
  NotCleared,   // complete, but -c failed: its records come again
  Pending,      // complete, but not yet put in place (a full disk): the next job finishes it
  Failed,       // no complete data file
  Busy,         // another job was reading the terminal, so this one did not
  Stopped,      // its run was stopped (time limit, the job's stop, the job's end)
  Skipped,      // not read: already complete, or not selected
  Invalid,      // its line of the terminals file was refused
  NotRun,       // the job was stopped, or ended, before it started
};

// Every outcome in the order the summary line counts them.
extern const Outcome allOutcomes[11];

const char* name(Outcome outcome);
// False for a word that names no outcome.
bool outcomeNamed(const std::string& word, Outcome& outcome);

// A complete data file is in place: complete, empty, clock-not-set, not-cleared.
bool hasCompleteFile(Outcome outcome);
// The terminal's records of the night are not (yet) in a new/ file, or its line was refused: the
// night is not done.
bool isIncomplete(Outcome outcome);
// Complete, but a step the terminals file asked for was not done.
bool isStepFailed(Outcome outcome);

}  // namespace ZqNightly
