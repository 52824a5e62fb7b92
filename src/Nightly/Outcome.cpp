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

}  // namespace ZqNightly
