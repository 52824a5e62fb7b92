// The job's own stop: SIGINT, SIGTERM and SIGHUP; on Windows Ctrl+C, Ctrl+Break and the console's
// closing. The job then starts no new attempt, passes the stop on to its running ones, writes its
// report and ends.
#pragma once

#include <string>

namespace ZqNightly {
namespace StopRequest {

void install();
bool requested();
// What stopped the job ("SIGTERM", "Ctrl+Break", ...).
std::string what();
// The job is about to end: a console that is closing may go (Windows holds its handler until then).
void finished();

}  // namespace StopRequest
}  // namespace ZqNightly
