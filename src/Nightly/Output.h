// The job's own lines: standard output for what happened, standard error for its warnings and
// errors, each also appended to the --log file when one is given.
#pragma once

#include <string>

namespace ZqNightly {
namespace Output {

// From now on every line is also appended to `path`, with the platform's line end; its folder is
// created. False, said in `error`, when it cannot be written.
bool logTo(const std::string& path, std::string& error);

// A line (UTF-8, without its end), flushed at once: the job's output is a log read while it runs.
void out(const std::string& line);
void err(const std::string& line);

}  // namespace Output
}  // namespace ZqNightly
