// Stop requests: SIGINT, SIGTERM and SIGHUP on POSIX systems; Ctrl+C, Ctrl+Break and closing the
// console on Windows. A request only raises a flag: the transports' waits look at it, and the run
// decides what it still finishes.
#pragma once

#include <string>

namespace Common {
namespace Stop {

// Installs the handlers; a signal the process was started with ignored (nohup) stays ignored.
void install();
// True once a stop was requested.
bool requested();
// What requested it, "SIGTERM", "Ctrl+Break", "the console's closing", ...; "" before a request.
std::string requestName();
// `wake` is called (from the signal handler, or the console's handler thread) after each request:
// a process that sleeps in a wait of its own (the nightly job) wakes at once. It must be safe there.
void setWakeUp(void (*wake)());
// Until the data file is saved a stop request ends the exchange in flight at once. Once it is
// saved the records may exist nowhere else: from then on exchanges finish, and only the steps not
// yet started are left out.
void letExchangesFinish();
// True when a stop request is to end the exchange in flight now.
bool endsExchanges();
// True when the run was stopped before its data file was saved: the process is then to end as an
// interrupted one.
bool interruptedRun();
// Ends the process as an interrupted process ends on this platform: by the same signal (a calling
// shell sees the interruption), or on Windows with the status of a console control event.
[[noreturn]] void endProcess();
// The run is over: a handler waiting for it (Windows, the console being closed) may let go.
void runEnded();

// What a handler does, for tests; `reset` forgets every request.
void request(int signal);
void reset();

}  // namespace Stop
}  // namespace Common
