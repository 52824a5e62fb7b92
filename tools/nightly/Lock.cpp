// Only operating-system independent code.
#include "Lock.h"

#include <string>

#include "Process.h"

namespace ZqNightly {
namespace {

// The process id a lock file records, "" when it holds none.
std::string recordedId(const std::string& content) {
  std::string id;
  for (char c : content) {
    if (c < '0' || c > '9') break;
    id += c;
  }
  return id;
}

std::string ownRecord() { return std::to_string(Process::currentId()) + "\n"; }

}  // namespace
}  // namespace ZqNightly

#ifdef _WIN32
#include "Win32/Lock.inc"
#else
#include "Posix/Lock.inc"
#endif
