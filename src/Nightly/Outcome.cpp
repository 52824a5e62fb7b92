// Only operating-system independent code.
#include "Nightly/Outcome.h"

namespace ZqNightly {

const Outcome allOutcomes[11] = {Outcome::Complete, Outcome::Empty,   Outcome::ClockNotSet, Outcome::NotCleared,
                                 Outcome::Pending,  Outcome::Failed,  Outcome::Busy,        Outcome::Stopped,
                                 Outcome::Skipped,  Outcome::Invalid, Outcome::NotRun};

const char* name(Outcome outcome) {
  switch (outcome) {
    case Outcome::Complete: return "complete";
    case Outcome::Empty: return "empty";
    case Outcome::ClockNotSet: return "clock-not-set";
    case Outcome::NotCleared: return "not-cleared";
    case Outcome::Pending: return "pending";
    case Outcome::Failed: return "failed";
    case Outcome::Busy: return "busy";
    case Outcome::Stopped: return "stopped";
    case Outcome::Skipped: return "skipped";
    case Outcome::Invalid: return "invalid";
    case Outcome::NotRun: return "not-run";
  }
  return "failed";
}

bool outcomeNamed(const std::string& word, Outcome& outcome) {
  for (Outcome candidate : allOutcomes) {
    if (word == name(candidate)) {
      outcome = candidate;
      return true;
    }
  }
  return false;
}

bool hasCompleteFile(Outcome outcome) {
  return outcome == Outcome::Complete || outcome == Outcome::Empty || outcome == Outcome::ClockNotSet ||
         outcome == Outcome::NotCleared;
}

bool isIncomplete(Outcome outcome) {
  return outcome == Outcome::Pending || outcome == Outcome::Failed || outcome == Outcome::Busy ||
         outcome == Outcome::Stopped || outcome == Outcome::NotRun || outcome == Outcome::Invalid;
}

bool isStepFailed(Outcome outcome) { return outcome == Outcome::ClockNotSet || outcome == Outcome::NotCleared; }

const Cause allCauses[21] = {Cause::None,         Cause::Refused,       Cause::Unreachable, Cause::Timeout,
                             Cause::Disconnected, Cause::NoDevice,      Cause::Permission,  Cause::PortBusy,
                             Cause::Protocol,     Cause::TerminalError, Cause::OutOfStep,   Cause::PunchedDuringRun,
                             Cause::TimeZone,     Cause::File,          Cause::State,       Cause::Stopped,
                             Cause::TimeLimit,    Cause::Busy,          Cause::JobEnded,    Cause::Invalid,
                             Cause::Program};

const char* name(Cause cause) {
  switch (cause) {
    case Cause::None: return "";
    case Cause::Refused: return "refused";
    case Cause::Unreachable: return "unreachable";
    case Cause::Timeout: return "timeout";
    case Cause::Disconnected: return "disconnected";
    case Cause::NoDevice: return "no-device";
    case Cause::Permission: return "permission";
    case Cause::PortBusy: return "port-busy";
    case Cause::Protocol: return "protocol";
    case Cause::TerminalError: return "terminal-error";
    case Cause::OutOfStep: return "out-of-step";
    case Cause::PunchedDuringRun: return "punched-during-run";
    case Cause::TimeZone: return "time-zone";
    case Cause::File: return "file";
    case Cause::State: return "state";
    case Cause::Stopped: return "stopped";
    case Cause::TimeLimit: return "time-limit";
    case Cause::Busy: return "busy";
    case Cause::JobEnded: return "job-ended";
    case Cause::Invalid: return "invalid";
    case Cause::Program: return "program";
  }
  return "program";
}

bool causeNamed(const std::string& word, Cause& cause) {
  for (Cause candidate : allCauses) {
    if (word == name(candidate)) {
      cause = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace ZqNightly
