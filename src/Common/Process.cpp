// Only operating-system independent code.
#include "Common/Process.h"

#include "Common/Clock.h"
#include "Common/FileSystem.h"
#include "Common/Stop.h"

namespace Common {

Process::~Process() {
  // A run still going when the job ends is not left behind without its stop.
  if (running_ && !finished()) kill();
  release();
}

}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/Process.inc"
#else
#include "Common/Posix/Process.inc"
#endif
