// The simulator process as a whole: how it is stopped, and how it waits.
#include "Process.h"

#include <signal.h>

#include <chrono>
#include <thread>

namespace Simulator {

namespace {

volatile sig_atomic_t stopFlag = 0;

void onSignal(int) { stopFlag = 1; }

}  // namespace

void stopOnSignals() {
  // Without SA_RESTART: a blocked wait returns at once, and its loop sees the stop.
  struct sigaction action {};
  action.sa_handler = onSignal;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

bool stopRequested() { return stopFlag != 0; }

void sleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace Simulator
