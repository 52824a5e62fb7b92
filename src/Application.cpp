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
#include "Common/RunTexts.h"
#include "Common/Stop.h"
#include "Version.h"
#include "Zq/Address.h"
#include "Zq/Command.h"
#include "Zq/Models.h"

#define LOG_SOURCE ZQ_SOURCE_APPLICATION

namespace ZqReadUtility {

namespace {

// The usage text as it is printed; the program's name, the model list and the padding that keeps
// the columns aligned (descriptions start in column 25, the second synopsis line under "Model")
// are filled in.
// clang-format off
const char* const usageTemplate =
    "{name}{gap}Предназначена для чтения данных с терминалов учёта\n"
    "                        рабочего времени.\n"
    "\n"
    "Использование:\n"
    "\n"
    "  {name} Model COMPort/IP[:port] [Full_path]FileName\n"
    "{indent}[-c][-u][-n0/1/2][-debug]\n"
    "\n"
    "Параметры:\n"
    "\n"
    "  Model                 Номер модели аппарата: {models}\n"
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

void fill(std::string& text, const std::string& field, const std::string& value) {
  for (size_t at = text.find(field); at != std::string::npos; at = text.find(field, at + value.size())) {
    text.replace(at, field.size(), value);
  }
}

}  // namespace

std::string usageText() {
  const std::string name = std::string("Zq-ReadUtility") + Console::executableSuffix();
  std::string text = usageTemplate;
  fill(text, "{gap}", std::string(24 - name.size(), ' '));
  fill(text, "{indent}", std::string(name.size() + 3, ' '));
  fill(text, "{models}", Zq::modelKeywords());
  fill(text, "{name}", name);
  return text;
}

const char* modelName(int32_t model) {
  const Zq::ModelEntry* entry = Zq::findModel(model);
  return entry != nullptr ? entry->keyword : "undefined";
}

bool isIpv4Address(const std::string& text) { return !normalizeIpAddress(text).empty(); }

Application::Application() = default;

Application::~Application() { wsaContext.cleanUp(); }

bool Application::loadSettings(int argc, char** argv) {
  if (answersAlone(argc, argv)) return true;
  for (int i = 1; i < argc && !showUsage; ++i) {
    const char* argument = argv[i] != nullptr ? argv[i] : "";
    if (i == 1) {
      const Zq::ModelEntry* entry = Zq::findModel(argument);
      settings.model = entry != nullptr ? entry->model : ModelNone;
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
    const Zq::ModelEntry* entry = Zq::findModel(settings.model);
    if (entry == nullptr || (entry->needsFile && settings.fileName.empty())) showUsage = true;
  }
  if (showUsage) {
    Console::write(usageText());
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
    Console::write(usageText());
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
  if (Zq::findModel(settings.model)->transport == Zq::Transport::Serial) {
    settings.port = Zq::readComPort(argument);
    if (settings.port != 0) return true;
    Console::print("Неверно указан COM порт %s.\n\n", argument);
    return false;
  }
  switch (Zq::readNetworkAddress(argument, settings.ipAddress, settings.port)) {
    case Zq::AddressError::None: return true;
    case Zq::AddressError::Address: Console::print("Неверно указан IP адрес %s.\n\n", argument); return false;
    case Zq::AddressError::Port:
      Console::print("Неверно указан IP порт %d.\n\n", static_cast<int>(settings.port));
      return false;
  }
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

ExitCode Application::runDriver(const Zq::ModelEntry& model) {
  // A directory, a FIFO or a device can never hold the records: refused before the terminal is
  // contacted, like a file that cannot be opened.
  if (!Common::isRegularOrAbsent(settings.fileName)) {
    LOG(LogError, "Application::run(): " ZQ_MSG_NOT_A_FILE, settings.fileName.c_str());
    return dataFileFailed();
  }
  std::unique_ptr<Zq::ITerminal> driver(model.make());
  if (!driver) {
    Console::print("Can't allocate memory for connection to the terminal %s.", model.keyword);
    return ExitNoDataFile;
  }
  if (!driver->connect(model.endpoint(settings.ipAddress, settings.port))) {
    Console::print("Can't connect to the terminal %s.\n", model.keyword);
    return ExitNoDataFile;
  }
  const ExitCode result = updateTerminalData(driver.get());
  if (result == ExitNoDataFile) {
    LOG(LogError, "Can't update terminal %s data", model.keyword);
    return result;
  }
  if (!driver->disconnect()) {
    Console::print("Can't disconnect from terminal %s.\n", model.keyword);
    return ExitStepFailed;
  }
  return result;
}

ExitCode Application::run() {
  // 730 and 2240 (and no model at all) are accepted with nothing to drive.
  const Zq::ModelEntry* model = Zq::findModel(settings.model);
  if (model == nullptr || model->make == nullptr) return ExitDone;
  return runDriver(*model);
}

ExitCode Application::dataFileFailed() {
  const char* fileName = settings.fileName.c_str();
  LOG(LogError, "Can't write data file \"%s\" mode %d", fileName, static_cast<int>(settings.cardFormat));
  Console::print("Can't write data file \"%s\".\n", fileName);
  return ExitNoDataFile;
}

bool Application::stopBefore(const char* step) {
  if (!Common::Stop::requested()) return false;
  LOG(LogWarning, "Application::updateTerminalData(): " ZQ_MSG_STOP_REQUESTED ": %s", step);
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
  Console::print(ZQ_CONSOLE_DATA_FILE_WRITTEN, fileName);

  ExitCode result = ExitDone;
  if (settings.options & OptionUpdateTime) {
    if (stopBefore("the clock is not set")) {
      LOG(LogError, "Can't update the date/time");
      Console::print("Can't update the date/time.\n");
      result = ExitStepFailed;
    } else if (terminal->updateDateTime()) {
      Console::print(ZQ_CONSOLE_DATE_TIME_UPDATED);
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
      Console::print(ZQ_CONSOLE_DATA_CLEARED);
    } else {
      LOG(LogError, "Can't clean up the data");
      Console::print("Can't clean up the data.\n");
      result = ExitStepFailed;
    }
  }
  return result;
}

}  // namespace ZqReadUtility
