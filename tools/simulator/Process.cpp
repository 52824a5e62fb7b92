// The simulator process as a whole: how it is stopped, and how it waits.
#include "Process.h"

#include <chrono>
#include <thread>

#include "Common/Console.h"
#include "Common/Stop.h"

namespace Simulator {

void stopOnSignals() {
  // The platform's stop requests: a blocked wait returns at once, and its loop sees the stop.
  Common::Stop::install();
  Console::keepRunningWithoutReader();
}

bool stopRequested() { return Common::Stop::requested(); }

void sleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace Simulator
