// zq-nightly's command line.
#pragma once

#include <string>
#include <vector>

namespace ZqNightly {

struct Options {
  std::string terminalsFile;       // -f
  std::string outputFolder;        // -o
  std::string program;             // -p ("" : beside zq-nightly, then PATH)
  std::string day;                 // -d ("" : today)
  int jobs = 4;                    // -j
  std::vector<std::string> names;  // -t
  bool again = false;              // -a
  int retries = 2;                 // -r
  int waitSeconds = 60;            // -w
  int limitSeconds = 1800;         // -l
  std::string notify;              // -x
  std::string logFile;             // --log
  std::string metricsFile;         // --metrics
  int historyDays = 31;            // --history
  bool status = false;             // --status
  bool dryRun = false;             // -n
  bool help = false;
  bool version = false;
};

// Reads the arguments (after the program's name); false with `error` set when they are wrong.
bool readOptions(const std::vector<std::string>& arguments, Options& options, std::string& error);

extern const char* const usageText;

}  // namespace ZqNightly
