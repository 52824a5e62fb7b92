// What became of one terminal in a night, and why: the report's `outcome` and `cause`, the
// console's words for them, and what they mean for the job's exit code.
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

// One word a monitoring rule can switch on; None for a clean result (null in the report).
enum class Cause {
  None,
  Refused,           // the connection was refused at once
  Unreachable,       // no route to the terminal
  Timeout,           // the terminal did not answer within the program's waits
  Disconnected,      // the terminal closed the connection inside a reply
  NoDevice,          // the serial port's device does not exist
  Permission,        // no right to the serial port
  PortBusy,          // the serial port is in use
  Protocol,          // a reply that makes no sense
  TerminalError,     // the terminal refused a command
  OutOfStep,         // no clearing sent: a reply went missing or bytes came unasked
  PunchedDuringRun,  // no clearing sent: records were punched during the run
  TimeZone,          // -u refused: TZ names no time zone
  File,              // the data file, its disk, or a path the job refused
  State,             // the job's memory of the terminal was damaged beyond rebuilding
  Stopped,           // the job was stopped
  TimeLimit,         // the attempt reached -l
  Busy,              // another job was reading the terminal
  JobEnded,          // the job that read it ended abnormally before the run was judged
  Invalid,           // its line of the terminals file was refused
  Program,           // anything else
};

extern const Cause allCauses[21];

// "" for Cause::None.
const char* name(Cause cause);
bool causeNamed(const std::string& word, Cause& cause);

}  // namespace ZqNightly
