// Entry point: console code page and locale, then the application.
#include <cstdint>

#include "Application.h"
#include "Console.h"
#include "Log.h"

#define LOG_SOURCE "Zq-ReadUtility"

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
  if (!Console::setInputCodePage(info.codePage)) {
    LOG(LogError, "SetCodePage(): Can't set the input code page %ld, err => %ld.\n", static_cast<long>(info.codePage),
        Console::lastError());
    return false;
  }
  if (!Console::setOutputCodePage(info.codePage)) {
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

}  // namespace

int main(int argc, char** argv) {
  Console::keepRunningWithoutReader();
  if (!SetCodePage(localeTable[1])) {
    LOG(LogError, "Can't set code page.\n");
    return ZqReadUtility::ExitNotStarted;
  }
  ZqReadUtility::Application application;
  if (!application.init(argc, argv)) {
    LOG(LogError, "Can't create application.\n");
    return ZqReadUtility::ExitNotStarted;
  }
  return application.run();
}
