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

// The program's console and debug log as UTF-8. On Windows it writes its own lines in code page
// 1251 (the weekday of its log's time stamps): such lines are converted, so that the terminal logs
// and the reports hold one encoding; elsewhere it writes UTF-8 already.
std::string programText(const std::string& text);

// From now on every line out() and err() write is also appended to `path` (--log), with the
// platform's line end; its folder is created. False, said in `error`, when it cannot be written.
bool logTo(const std::string& path, std::string& error);

// A line (UTF-8, without its end) on standard output or standard error, flushed at once: the job's
// output is a log read while it runs.
void out(const std::string& line);
void err(const std::string& line);

}  // namespace Console
}  // namespace ZqNightly
