// The application object: command line, debug log start, sockets library and the run.
#pragma once

#include <cstdint>
#include <string>

#include "Common/WSAContext.h"

namespace Zq {
class ITerminal;
}

namespace ZqReadUtility {

enum Model : int32_t {
  ModelNone = 0,
  Model730 = 1,
  Model735 = 2,
  Model2210 = 3,
  Model2240 = 4,
  Model870 = 5,
  ModelQVK = 6,
};

// Bits of Settings::options.
enum Option : uint32_t {
  OptionClear = 1,       // -c
  OptionUpdateTime = 2,  // -u
};

struct Settings {
  int32_t model = ModelNone;
  int32_t baudRate = 38400;
  std::string ipAddress;
  int32_t port = 1001;
  std::string fileName;
  uint32_t options = 0;
  int32_t cardFormat = 0;
  bool debug = false;
};

const char* modelName(int32_t model);
std::string normalizeIpAddress(const std::string& text);
bool isDigits(const char* text);

extern const char* const usageText;

class Application {
public:
  Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  virtual ~Application();

  bool init(int argc, char** argv);
  void run();
  bool updateTerminalData(Zq::ITerminal* terminal);
  bool loadSettings(int argc, char** argv);

  bool showUsage = false;
  Settings settings;
  std::string logFileName = "Zq-ReadUtility.log";
  Common::WSAContext wsaContext;

private:
  template <class Driver, class ConnectionSettings>
  void runDriver(const ConnectionSettings& connection);
};

}  // namespace ZqReadUtility
