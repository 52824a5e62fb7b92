// Only operating-system independent code.
#include "Nightly/Options.h"

namespace ZqNightly {

const char* const usageText =
    "Usage: zq-nightly -f TERMINALS -o DIR [-p PROGRAM] [-d YYYY-MM-DD] [-j N] [-t NAME]...\n"
    "                  [-a] [-r RETRIES] [-w SECONDS] [-l SECONDS] [-x COMMAND] [-n]\n"
    "                  [--log FILE] [--metrics FILE] [--history DAYS]\n"
    "       zq-nightly --status -o DIR [-f TERMINALS] [-d YYYY-MM-DD] [--history DAYS]\n"
    "       zq-nightly --help | --version\n"
    "\n"
    "Downloads every terminal of TERMINALS with Zq-ReadUtility into DIR/YYYY-MM-DD/:\n"
    "<name>.txt (complete data files), new/<name>.txt (the records no earlier download\n"
    "delivered), logs/<name>.log, stopped/<name>.txt and report.json, written last;\n"
    "then DIR/status.json and DIR/status.html, the state of every terminal.\n"
    "\n"
    "  -f TERMINALS  the terminals file: \"name model address [switches]\" a line\n"
    "  -o DIR        the output folder; the day's folder is created in it\n"
    "  -p PROGRAM    Zq-ReadUtility to run (default: the one beside zq-nightly, then PATH)\n"
    "  -d DATE       the day, YYYY-MM-DD (default: today, local time)\n"
    "  -j N          terminals read at once, 1 to 64 (default 4)\n"
    "  -t NAME       read only this terminal (repeatable, in any case)\n"
    "  -a            also read terminals that have a complete file for the day\n"
    "                (the next download becomes <name>.2.txt, <name>.3.txt, ...)\n"
    "  -r RETRIES    attempts again after a failed connection or download (default 2)\n"
    "  -w SECONDS    wait before each new attempt (default 60)\n"
    "  -l SECONDS    time limit of one attempt: then a stop request, and 15 s later\n"
    "                the end (default 1800)\n"
    "  -x COMMAND    after a night that ends with 2 or 3, run COMMAND with the report's\n"
    "                path appended (also in ZQ_REPORT)\n"
    "  -n            dry run: check the terminals file, show what would run\n"
    "  --log FILE    also append every line the job prints to FILE (its folder is\n"
    "                created), so that a scheduler needs no redirection\n"
    "  --metrics FILE  also write the status as metrics (Prometheus text format)\n"
    "  --history DAYS  the days the status looks back over, 1 to 3660 (default 31)\n"
    "  --status      print the state of every terminal from DIR's reports, and exit\n"
    "                0 all ok, 3 some need attention, 2 some are failing; writes nothing\n"
    "\n"
    "Exit codes: 0 every terminal complete; 1 nothing was run; 2 a terminal has no\n"
    "complete file in place (failed, pending, busy, stopped, not run, or an invalid\n"
    "line); 3 every file is complete, but a clock was not set, a memory not cleared,\n"
    "or a download counted as new in full.\n";

namespace {

bool readNumber(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 9) return false;
  long number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  if (number < low || number > high) return false;
  value = static_cast<int>(number);
  return true;
}

const char* wanted(char option) {
  switch (option) {
    case 'j': return "a number from 1 to 64";
    case 'r': return "a number from 0 to 100";
    case 'w': return "a number of seconds from 0 to 86400";
    case 'l': return "a number of seconds from 1 to 604800";
    default: return "a value";
  }
}

// One option that takes a value; false when the value is not one it takes.
bool setOption(char letter, const std::string& value, Options& options) {
  switch (letter) {
    case 'f': options.terminalsFile = value; break;
    case 'o': options.outputFolder = value; break;
    case 'p': options.program = value; break;
    case 'd': options.day = value; break;
    case 't': options.names.push_back(value); break;
    case 'x': options.notify = value; break;
    case 'j': return readNumber(value, 1, 64, options.jobs);
    case 'r': return readNumber(value, 0, 100, options.retries);
    case 'w': return readNumber(value, 0, 86400, options.waitSeconds);
    case 'l': return readNumber(value, 1, 604800, options.limitSeconds);
  }
  return !value.empty();
}

// --log, --metrics and --history with their value at `i` + 1.
bool readLongOption(const std::vector<std::string>& arguments, size_t& i, Options& options, std::string& error) {
  const std::string& option = arguments[i];
  if (option != "--log" && option != "--metrics" && option != "--history") {
    error = "unknown option " + option;
    return false;
  }
  const bool days = option == "--history";
  if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
    error = option + (days ? " wants a number of days from 1 to 3660" : " wants a file");
    return false;
  }
  const std::string& value = arguments[++i];
  if (option == "--log") options.logFile = value;
  if (option == "--metrics") options.metricsFile = value;
  if (days && !readNumber(value, 1, 3660, options.historyDays)) {
    error = "--history wants a number of days from 1 to 3660, not \"" + value + "\"";
    return false;
  }
  return true;
}

}  // namespace

bool readOptions(const std::vector<std::string>& arguments, Options& options, std::string& error) {
  if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "/?")) {
    options.help = true;
    return true;
  }
  if (arguments.size() == 1 && arguments[0] == "--version") {
    options.version = true;
    return true;
  }
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "-a") {
      options.again = true;
      continue;
    }
    if (option == "-n") {
      options.dryRun = true;
      continue;
    }
    if (option == "--status") {
      options.status = true;
      continue;
    }
    if (option.compare(0, 2, "--") == 0) {
      if (!readLongOption(arguments, i, options, error)) return false;
      continue;
    }
    static const std::string withValue = "fopdjtrwlx";
    if (option.size() != 2 || option[0] != '-' || withValue.find(option[1]) == std::string::npos) {
      error = "unknown option " + option;
      return false;
    }
    if (i + 1 >= arguments.size()) {
      error = option + " wants a value";
      return false;
    }
    const std::string& value = arguments[++i];
    if (!setOption(option[1], value, options)) {
      error = option + " wants " + wanted(option[1]) + ", not \"" + value + "\"";
      return false;
    }
  }
  if (options.outputFolder.empty() || (options.terminalsFile.empty() && !options.status)) {
    error = options.status ? "--status wants -o DIR" : "-f TERMINALS and -o DIR are required";
    return false;
  }
  return true;
}

}  // namespace ZqNightly
