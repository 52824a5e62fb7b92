// Only operating-system independent code; the per-OS part is included at the end.
#include "Common/Stop.h"

#include <atomic>

namespace Common {
namespace Stop {

namespace {

// Written by a signal handler (POSIX) or the console's handler thread (Windows): lock-free atomics
// are safe in both.
std::atomic<int> requestedBy{0};
std::atomic<bool> finishing{false};
std::atomic<bool> stoppedBeforeSave{false};
std::atomic<void (*)()> wakeUp{nullptr};

// The name of what requested a stop, by the code the handler recorded.
const char* nameOf(int signal);

}  // namespace

void request(int signal) {
  int none = 0;
  requestedBy.compare_exchange_strong(none, signal == 0 ? -1 : signal);
  if (!finishing.load()) stoppedBeforeSave.store(true);
  if (void (*wake)() = wakeUp.load()) wake();
}

void setWakeUp(void (*wake)()) { wakeUp.store(wake); }

std::string requestName() { return requested() ? nameOf(requestedBy.load()) : ""; }

void reset() {
  requestedBy.store(0);
  finishing.store(false);
  stoppedBeforeSave.store(false);
}

bool requested() { return requestedBy.load() != 0; }

void letExchangesFinish() { finishing.store(true); }

bool endsExchanges() { return requested() && !finishing.load(); }

bool interruptedRun() { return stoppedBeforeSave.load() && !finishing.load(); }

}  // namespace Stop
}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/Stop.inc"
#else
#include "Common/Posix/Stop.inc"
#endif
