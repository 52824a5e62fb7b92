// The job's command line and its standard output and error.
#pragma once

#include <string>
#include <vector>

namespace ZqNightly {
namespace Console {

// Makes sure standard input, output and error are open (on the null device if need be), so that
// no file the job opens becomes one of them and receives its output.
void prepare();

// The arguments after the program's name, as UTF-8. Windows: read from the wide command line, so
// that a path outside the code page is never replaced by a look-alike.
std::vector<std::string> arguments(int argc, char** argv);

// A line (UTF-8, without its end) on standard output or standard error, flushed at once: the job's
// output is a log read while it runs.
void out(const std::string& line);
void err(const std::string& line);

}  // namespace Console
}  // namespace ZqNightly
