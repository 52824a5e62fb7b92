// Only operating-system independent code; the per-OS part is included at the end.
#include "Common/Clock.h"

#include <cstdio>

namespace Common {

bool LocalTime::validDate() const {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool LocalTime::validTime() const {
  return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 60;
}

std::string LocalTime::text() const {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d %02d:%02d:%02d", day, month, year, hour, minute, second);
  return buffer;
}

}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/Clock.inc"
#else
#include "Common/Posix/Clock.inc"
#endif
