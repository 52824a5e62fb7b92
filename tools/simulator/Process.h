// The simulator process as a whole: how it is stopped, and how it waits.
#pragma once

namespace Simulator {

// SIGINT, SIGTERM and SIGHUP ask the simulator to stop; a program that goes away mid-reply does
// not end it.
void stopOnSignals();
// True once a stop was asked for: every loop ends at its next turn.
bool stopRequested();
// Sleeps `ms` milliseconds; nothing for 0 or less.
void sleepMs(int ms);

}  // namespace Simulator
