// Only operating-system independent code.
#include "StopRequest.h"

#include <atomic>

#include "Process.h"

namespace ZqNightly {
namespace StopRequest {
namespace {

// Set by a signal handler or the console control thread; lock-free, so safe in both.
std::atomic<int> received{0};

void record(int event) {
  int expected = 0;
  received.compare_exchange_strong(expected, event);
  Process::wakeUp();
}

const char* nameOf(int event);

}  // namespace

bool requested() { return received.load() != 0; }
std::string what() { return requested() ? nameOf(received.load()) : ""; }

}  // namespace StopRequest
}  // namespace ZqNightly

#ifdef _WIN32
#include "Win32/StopRequest.inc"
#else
#include "Posix/StopRequest.inc"
#endif
