// Entry point: console code page and locale, then the application.
#include <cstdint>
#include <string>
#include <vector>

#include "Application.h"
#include "Common/Console.h"
#include "Common/Log.h"
#include "Common/RunTexts.h"
#include "Common/Stop.h"

#define LOG_SOURCE ZQ_SOURCE_ENTRY

namespace {

struct LocaleInfo {
  char locale[256];
  uint32_t codePage;
};

const LocaleInfo localeTable[] = {
    {"Russian_Russia.866", 866},
    {"Russian_Russia.1251", 1251},
    {"Russian_Russia.UTF-8", 65001},
};

bool SetCodePage(const LocaleInfo& info) {
  // Without a console (a service, a scheduled task) there is no code page to set: the run goes on
  // and its exit code says what happened.
  const bool console = Console::attached();
  if (console && !Console::setInputCodePage(info.codePage)) {
    LOG(LogError, "SetCodePage(): Can't set the input code page %ld, err => %ld.\n", static_cast<long>(info.codePage),
        Console::lastError());
    return false;
  }
  if (console && !Console::setOutputCodePage(info.codePage)) {
    LOG(LogError, "SetCodePage(): Can't set the output code page %ld, err => %ld.\n", static_cast<long>(info.codePage),
        Console::lastError());
    return false;
  }
  if (Console::setLocale(info.locale) == nullptr) {
    LOG(LogError, "SetCodePage(): Can't set locale \"%s\".\n", info.locale);
    return false;
  }
  return true;
}

// The run itself; the Application is gone when it returns, its sockets library released.
int runApplication(int argc, char** argv) {
  if (!SetCodePage(localeTable[1])) {
    LOG(LogError, "Can't set code page.\n");
    return ZqReadUtility::ExitNotStarted;
  }
  std::vector<std::string> texts = Console::arguments(argc, argv);
  std::vector<char*> arguments;
  for (std::string& text : texts) arguments.push_back(&text[0]);
  arguments.push_back(nullptr);
  ZqReadUtility::Application application;
  if (!application.init(static_cast<int>(texts.size()), arguments.data())) {
    LOG(LogError, "Can't create application.\n");
    return ZqReadUtility::ExitNotStarted;
  }
  return application.run();
}

}  // namespace

int main(int argc, char** argv) {
  Console::reopenClosedStandardStreams();
  Common::Stop::install();
  Console::keepRunningWithoutReader();
  const int exitCode = runApplication(argc, argv);
  Common::Stop::runEnded();
  // Stopped before the data file was saved: the caller learns of the interruption as from any
  // interrupted program. Once saved, the exit code tells what was done.
  if (Common::Stop::interruptedRun()) Common::Stop::endProcess();
  return exitCode;
}
