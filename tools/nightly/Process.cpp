// Only operating-system independent code.
#include "Process.h"

#include "Clock.h"
#include "FileSystem.h"

namespace ZqNightly {

Process::~Process() {
  // A run still going when the job ends is not left behind without its stop.
  if (running_ && !finished()) kill();
  release();
}

}  // namespace ZqNightly

#ifdef _WIN32
#include "Win32/Process.inc"
#else
#include "Posix/Process.inc"
#endif
