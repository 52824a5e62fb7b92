// Only operating-system independent code.
#include "Application.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "Common/Console.h"
#include "Common/File.h"
#include "Common/Log.h"
#include "Common/Stop.h"
#include "Version.h"
#include "Zq/Command.h"
#include "Zq/Zq2210.h"
#include "Zq/Zq735.h"
#include "Zq/Zq870.h"

#define LOG_SOURCE "Application"

namespace ZqReadUtility {

// The usage text names the program as its user types it. The descriptions start in column 25
// and the second synopsis line under "Model", whatever the name's length.
#ifdef _WIN32
#define ZQ_USAGE_NAME "Zq-ReadUtility.exe"
#define ZQ_USAGE_GAP "      "
#define ZQ_USAGE_INDENT "                     "
#else
#define ZQ_USAGE_NAME "Zq-ReadUtility"
#define ZQ_USAGE_GAP "          "
#define ZQ_USAGE_INDENT "                 "
#endif

// The text is laid out as it is printed.
// clang-format off
const char* const usageText =
    ZQ_USAGE_NAME ZQ_USAGE_GAP "Предназначена для чтения данных с терминалов учёта\n"
    "                        рабочего времени.\n"
    "\n"
    "Использование:\n"
    "\n"
    "  " ZQ_USAGE_NAME " Model COMPort/IP[:port] [Full_path]FileName\n"
    ZQ_USAGE_INDENT "[-c][-u][-n0/1/2][-debug]\n"
    "\n"
    "Параметры:\n"
    "\n"
    "  Model                 Номер модели аппарата: 730, 735, 2210, 2240, 870, QVK\n"
    "\n"
    "  COMPort/IP[:port]     Номер COM-порта.\n"
    "\n"
    "                        Для моделей 730 и 2210 указывается номер COM-порта\n"
    "                        (от 1 до 255). Скорость COM-порта всегда фиксированная\n"
    "                        38400bps, поэтому не указывается. Для остальных\n"
    "                        моделей указывается IP-адрес аппарата. Если IP-порт\n"
    "                        используется не по умолчанию (1001), то нужно указать\n"
    "                        IP-порт через двоеточие.\n"
    "\n"
    "  [Full_path]FileName   Полный путь к файлу и имя файла, куда будет сохранена\n"
    "                        считанная информация из устройства база записей.\n"
    "                        Существующий файл будет перезаписан.\n"
    "\n"
    "  [-c]                  Очищение данных из терминала.\n"
    "\n"
    "  [-u]                  Обновление времени. Берется системное время ПК.\n"
    "\n"
    "  [-n0/1/2]             Формат выходных данных номера карточки.\n"
    "\n"
    "                        0 - будут выгружены максимально возможные данные,\n"
    "                        1 - номер карточки в 10-ном формате,\n"
    "                        2 - номер карточки в HEX формате (8 байт).\n"
    "\n"
    "  [-debug]              Создать лог файл Zq-ReadUtility.log.\n";
// clang-format on

const char* modelName(int32_t model) {
  switch (model) {
    case Model730: return "730";
    case Model735: return "735";
    case Model2210: return "2210";
    case Model2240: return "2240";
    case Model870: return "870";
    case ModelQVK: return "QVK";
    default: return "undefined";
  }
}

bool isIpv4Address(const std::string& text) {
  const std::vector<std::string> octets = Zq::split(text, ".");
  if (octets.size() != 4) return false;
  for (const std::string& octet : octets) {
    // Leading zeros are allowed, so the value decides, not the length (the reading saturates).
    if (octet.empty() || !isDigits(octet.c_str()) || Zq::readDecimal(octet.c_str()) > 255) return false;
  }
  return true;
}

bool isDigits(const char* text) {
  if (text == nullptr) return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

std::string normalizeIpAddress(const std::string& text) {
  int32_t octets[4] = {0, 0, 0, 0};
  size_t position = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t dot = text.find('.', position);
    if (dot == std::string::npos) {
      octets[i] = Zq::readDecimal(text.c_str() + position);
    } else {
      octets[i] = Zq::readDecimal(text.substr(position, dot - position).c_str());
      position = dot + 1;
    }
    if (octets[i] < 0 || octets[i] > 255) octets[i] = 0;
    if (dot == std::string::npos) break;
  }
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%d.%d.%d.%d", static_cast<int>(octets[0]), static_cast<int>(octets[1]),
                static_cast<int>(octets[2]), static_cast<int>(octets[3]));
  return buffer;
}

namespace {

Model modelFromKeyword(const char* keyword) {
  const size_t length = std::strlen(keyword);
  if (length == 3) {
    if (std::strcmp(keyword, "730") == 0) return Model730;
    if (std::strcmp(keyword, "735") == 0) return Model735;
    if (std::strcmp(keyword, "870") == 0) return Model870;
    if (std::strcmp(keyword, "QVK") == 0) return ModelQVK;
  } else if (length == 4) {
    if (std::strcmp(keyword, "2210") == 0) return Model2210;
    if (std::strcmp(keyword, "2240") == 0) return Model2240;
  }
  return ModelNone;
}

}  // namespace

Application::Application() = default;

Application::~Application() { wsaContext.cleanUp(); }

bool Application::loadSettings(int argc, char** argv) {
  if (answersAlone(argc, argv)) return true;
  for (int i = 1; i < argc && !showUsage; ++i) {
    const char* argument = argv[i] != nullptr ? argv[i] : "";
    if (i == 1) {
      settings.model = modelFromKeyword(argument);
      if (settings.model == ModelNone) {
        Console::print("Неверно указан номер модели аппарата %s.\n\n", argument);
        showUsage = true;
      }
    } else if (i == 2) {
      if (!readAddress(argument)) showUsage = true;
    } else if (i == 3) {
      settings.fileName = argument;
    } else {
      readSwitch(argument);
    }
  }

  // Every model but 730, which has nothing to do, needs its address and its data file; the
  // file name comes after the address, so an empty one means either may be missing.
  if (!showUsage) {
    if (settings.model == ModelNone || (settings.model != Model730 && settings.fileName.empty())) showUsage = true;
  }
  if (showUsage) {
    Console::write(usageText);
    return false;
  }
  return true;
}

bool Application::answersAlone(int argc, char** argv) {
  // Asked for on their own, the usage text and the version are answers, not errors: the
  // command line is valid and leaves no terminal to drive.
  if (argc != 2 || argv[1] == nullptr) return false;
  const std::string request = argv[1];
  if (request == "--help" || request == "-h" || request == "/?") {
    Console::write(usageText);
    return true;
  }
  if (request == "--version") {
    Console::print("Zq-ReadUtility %s\n", ZQ_VERSION);
    return true;
  }
  return false;
}

void Application::readSwitch(const char* argument) {
  const size_t length = std::strlen(argument);
  if (length == 2 && std::strcmp(argument, "-c") == 0) {
    settings.options |= OptionClear;
  } else if (length == 2 && std::strcmp(argument, "-u") == 0) {
    settings.options |= OptionUpdateTime;
  } else if (length == 2 && std::strcmp(argument, "/?") == 0) {
    showUsage = true;
  } else if (length == 3 && std::strncmp(argument, "-n", 2) == 0) {
    const int32_t format = isDigits(argument + 2) ? Zq::readDecimal(argument + 2) : -1;
    if (format < 0 || format > 2) {
      Console::print("Неверно указан формат выходных данных %s.\n\n", argument);
      showUsage = true;
    } else {
      settings.cardFormat = static_cast<Zq::CardFormat>(format);
    }
  } else if (length == 6 && std::strcmp(argument, "-debug") == 0) {
    settings.debug = true;
  } else {
    Console::print("Неверный параметр %s.\n\n", argument);
    showUsage = true;
  }
}

bool Application::readAddress(const char* argument) {
  // Strictly read, so that a typing error never reaches another terminal than the one meant.
  if (settings.model == Model730 || settings.model == Model2210) {
    settings.port = *argument != '\0' && isDigits(argument) ? Zq::readDecimal(argument) : 0;
    if (settings.port >= 1 && settings.port <= 255) return true;
    Console::print("Неверно указан COM порт %s.\n\n", argument);
    return false;
  }
  const std::string text(argument);
  const size_t colon = text.find(':');
  const bool hasPort = colon != std::string::npos;
  const std::string host = text.substr(0, colon);
  const std::string port = hasPort ? text.substr(colon + 1) : std::string();
  if (!isIpv4Address(host) || (hasPort && (port.empty() || !isDigits(port.c_str())))) {
    Console::print("Неверно указан IP адрес %s.\n\n", argument);
    return false;
  }
  settings.ipAddress = normalizeIpAddress(host);
  if (!hasPort) return true;
  settings.port = Zq::readDecimal(port.c_str());
  if (settings.port >= 1 && settings.port <= 65535) return true;
  Console::print("Неверно указан IP порт %d.\n\n", static_cast<int>(settings.port));
  return false;
}

bool Application::init(int argc, char** argv) {
  if (!loadSettings(argc, argv)) {
    LOG(LogError, "Can't load settings");
    return false;
  }
  if (settings.debug && !openLog(logFileName.c_str())) return false;
  return wsaContext.startUp();
}

template <class Driver, class ConnectionSettings>
ExitCode Application::runDriver(const ConnectionSettings& connection) {
  const char* model = modelName(settings.model);
  // A directory, a FIFO or a device can never hold the records: refused before the terminal is
  // contacted, like a file that cannot be opened.
  if (!Common::isRegularOrAbsent(settings.fileName)) {
    LOG(LogError, "Application::run(): %s is no regular file", settings.fileName.c_str());
    return dataFileFailed();
  }
  std::unique_ptr<Driver> driver(new (std::nothrow) Driver());
  if (!driver) {
    Console::print("Can't allocate memory for connection to the terminal %s.", model);
    return ExitNoDataFile;
  }
  if (!driver->connect(connection)) {
    Console::print("Can't connect to the terminal %s.\n", model);
    return ExitNoDataFile;
  }
  const ExitCode result = updateTerminalData(driver.get());
  if (result == ExitNoDataFile) {
    LOG(LogError, "Can't update terminal %s data", model);
    return result;
  }
  if (!driver->disconnect()) {
    Console::print("Can't disconnect from terminal %s.\n", model);
    return ExitStepFailed;
  }
  return result;
}

namespace {

// The waits every terminal gets: five receive attempts of 192 ms, 2.5 s to connect.
void setWaits(Zq::ConnectionSettings& connection, int32_t port) {
  connection.port = port;
  connection.blocking = false;
  connection.recvAttempts = 5;
  connection.connectTimeoutMs = 2500;
  connection.sendTimeoutMs = 192;
  connection.recvTimeoutMs = 192;
}

}  // namespace

ExitCode Application::run() {
  switch (settings.model) {
    case Model735:
    case Model870:
    case ModelQVK: {
      Zq::TCPSettings connection;
      setWaits(connection, settings.port);
      connection.host = settings.ipAddress;
      if (settings.model == Model735) return runDriver<Zq::Zq735>(connection);
      return runDriver<Zq::Zq870>(connection);
    }
    case Model2210: {
      Zq::COMSettings connection;
      setWaits(connection, settings.port);
      connection.baudRate = static_cast<uint32_t>(settings.baudRate);
      return runDriver<Zq::Zq2210>(connection);
    }
    default:
      // 730, 2240: accepted, nothing to drive.
      return ExitDone;
  }
}

ExitCode Application::dataFileFailed() {
  const char* fileName = settings.fileName.c_str();
  LOG(LogError, "Can't write data file \"%s\" mode %d", fileName, static_cast<int>(settings.cardFormat));
  Console::print("Can't write data file \"%s\".\n", fileName);
  return ExitNoDataFile;
}

bool Application::stopBefore(const char* step) {
  if (!Common::Stop::requested()) return false;
  LOG(LogWarning, "Application::updateTerminalData(): Stop requested: %s", step);
  return true;
}

ExitCode Application::updateTerminalData(Zq::ITerminal* terminal) {
  if (terminal == nullptr) {
    LOG(LogError, "Application::updateTerminalData(): NULL == pITerminal");
    return ExitNoDataFile;
  }
  const char* fileName = settings.fileName.c_str();
  if (!terminal->dump(settings.fileName, settings.cardFormat)) return dataFileFailed();
  // The file is complete and may be the only copy of the records: a stop request no longer ends an
  // exchange halfway, it only leaves out the steps not yet started.
  Common::Stop::letExchangesFinish();
  Console::print("Data file \"%s\" written successfully.\n", fileName);

  ExitCode result = ExitDone;
  if (settings.options & OptionUpdateTime) {
    if (stopBefore("the clock is not set")) {
      LOG(LogError, "Can't update the date/time");
      Console::print("Can't update the date/time.\n");
      result = ExitStepFailed;
    } else if (terminal->updateDateTime()) {
      Console::print("Date/time updated successfully.\n");
    } else {
      LOG(LogError, "Can't update the date/time");
      Console::print("Can't update the date/time.\n");
      result = ExitStepFailed;
    }
  }
  if (settings.options & OptionClear) {
    if (stopBefore("the records are not cleared")) {
      LOG(LogError, "Can't clean up the data");
      Console::print("Can't clean up the data.\n");
      result = ExitStepFailed;
    } else if (terminal->reset()) {
      Console::print("Data cleared successfully.\n");
    } else {
      LOG(LogError, "Can't clean up the data");
      Console::print("Can't clean up the data.\n");
      result = ExitStepFailed;
    }
  }
  return result;
}

}  // namespace ZqReadUtility
