// Only operating-system independent code.
#include "Common/Lock.h"

#include <string>

#include "Common/Clock.h"
#include "Common/FileSystem.h"
#include "Common/Process.h"
#include "Common/Stop.h"

namespace Common {

std::string Lock::recordedId(const std::string& content) {
  std::string id;
  for (char c : content) {
    if (c < '0' || c > '9') break;
    id += c;
  }
  return id;
}

std::string Lock::ownRecord() { return std::to_string(Process::currentId()) + "\n"; }

bool Lock::take(const std::string& path, int64_t timeoutMs, std::string& error) {
  // Polled rather than blocked on: a stop request must end the wait, and so must a holder that
  // never lets go.
  const int64_t deadline = monotonicMs() + timeoutMs;
  for (;;) {
    std::string previous;
    switch (tryTake(path, ownRecord(), previous)) {
      case Taken:
      case TakenOver: return true;
      case Failed: error = previous; return false;
      case Held: break;
    }
    if (Stop::requested()) {
      error = "stopped while waiting for " + path;
      return false;
    }
    if (monotonicMs() >= deadline) {
      error = path + " is still held by process " + (previous.empty() ? "unknown" : recordedId(previous)) + " after " +
              std::to_string(timeoutMs / 1000) + " s";
      return false;
    }
    Process::waitAny({}, 20);
  }
}

}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/Lock.inc"
#else
#include "Common/Posix/Lock.inc"
#endif
