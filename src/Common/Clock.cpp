// Only operating-system independent code.
#include "Common/Clock.h"

#include <ctime>

namespace Common {

LocalTime localTime() {
  LocalTime result;
  const std::time_t now = std::time(nullptr);
  if (const std::tm* local = std::localtime(&now)) {
    result.year = local->tm_year + 1900;
    result.month = local->tm_mon + 1;
    result.day = local->tm_mday;
    result.hour = local->tm_hour;
    result.minute = local->tm_min;
    result.second = local->tm_sec;
  }
  return result;
}

}  // namespace Common
