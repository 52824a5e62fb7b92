// The application object: command line, debug log start, sockets library and the run.
// Kept as declared from the first version: the destructor is virtual, although nothing derives
// from Application and nothing relies on it.
#pragma once

#include <cstdint>
#include <string>

#include "Common/WSAContext.h"
#include "Zq/Address.h"
#include "Zq/Models.h"
#include "Zq/TerminalRecord.h"

namespace ZqReadUtility {

// The model codes of the command line (the model table is the terminal tier's).
using Zq::Model;
using Zq::Model2210;
using Zq::Model2240;
using Zq::Model730;
using Zq::Model735;
using Zq::Model870;
using Zq::ModelNone;
using Zq::ModelQVK;

// The process exit code: what a script that runs the program learns of the run.
enum ExitCode : int {
  ExitDone = 0,        // everything the command line asked for was done
  ExitNotStarted = 1,  // the console, the command line, the debug log or the sockets library failed
  ExitNoDataFile = 2,  // no complete data file; neither the clock nor the memory was touched
  ExitStepFailed = 3,  // the data file is complete; setting the clock, clearing or disconnecting failed
};

// Bits of Settings::options.
enum Option : uint32_t {
  OptionClear = 1,       // -c
  OptionUpdateTime = 2,  // -u
};

struct Settings {
  Model model = ModelNone;
  int32_t baudRate = 38400;
  std::string ipAddress;
  int32_t port = 1001;
  std::string fileName;
  uint32_t options = 0;
  Zq::CardFormat cardFormat = Zq::CardAsIs;
  bool debug = false;
};

const char* modelName(int32_t model);
// The address readers are the terminal tier's, shared with the nightly job.
using Zq::isDigits;
using Zq::normalizeIpAddress;
// Exactly four decimal numbers 0 to 255 separated by dots; leading zeros allowed.
bool isIpv4Address(const std::string& text);

// The usage text, naming the program as its user types it on this platform.
std::string usageText();

class Application {
public:
  Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  virtual ~Application();

  bool init(int argc, char** argv);
  // Drives one terminal; the result is the process exit code.
  ExitCode run();
  // Download, then the clock and the clearing as asked: ExitNoDataFile when the download
  // failed (nothing else is tried), ExitStepFailed when the clock or the clearing failed.
  ExitCode updateTerminalData(Zq::ITerminal* terminal);
  bool loadSettings(int argc, char** argv);

  bool showUsage = false;
  Settings settings;
  std::string logFileName = "Zq-ReadUtility.log";
  Common::WSAContext wsaContext;

private:
  // Makes, connects and drives the model's terminal.
  ExitCode runDriver(const Zq::ModelEntry& model);
  // --help, -h, /? or --version as the only argument: answered here, true.
  bool answersAlone(int argc, char** argv);
  // The second argument: an address for the network models, a COM port for the serial ones.
  // False, with its message printed, when it is not one.
  bool readAddress(const char* argument);
  // One switch from the fourth argument on; sets `showUsage`, with its message, when invalid.
  void readSwitch(const char* argument);
  // No complete data file: logged and printed, ExitNoDataFile.
  ExitCode dataFileFailed();
  // True, logged, when a stop request leaves out `step` (it has not started).
  bool stopBefore(const char* step);
};

}  // namespace ZqReadUtility
