// Only operating-system independent code.
#include "Clock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace ZqNightly {
namespace {

// The local and the UTC reading of one instant.
bool readNow(LocalTime& local, LocalTime& utc);

}  // namespace

int64_t daysFromCivil(int year, int month, int day) {
  // Counted in 400-year eras of 146097 days, March-based years so that February comes last: exact
  // over the whole proleptic Gregorian calendar.
  const int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool isCalendarDate(int year, int month, int day) {
  static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= lengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool readDay(const std::string& text, LocalTime& day) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i != 4 && i != 7 && (text[i] < '0' || text[i] > '9')) return false;
  }
  day = LocalTime();
  day.year = std::atoi(text.substr(0, 4).c_str());
  day.month = std::atoi(text.substr(5, 2).c_str());
  day.day = std::atoi(text.substr(8, 2).c_str());
  return isCalendarDate(day.year, day.month, day.day);
}

std::string LocalTime::date() const {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
  return buffer;
}

std::string LocalTime::iso() const {
  const int offset = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", year, month, day, hour, minute,
                second, utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return buffer;
}

int64_t LocalTime::wallSeconds() const {
  return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

namespace Clock {

LocalTime now() {
  LocalTime local;
  LocalTime utc;
  if (!readNow(local, utc)) return LocalTime();
  local.utcOffsetMinutes = static_cast<int>((local.wallSeconds() - utc.wallSeconds()) / 60);
  return local;
}

int64_t monotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t epochSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace Clock
}  // namespace ZqNightly

#ifdef _WIN32
#include "Win32/Clock.inc"
#else
#include "Posix/Clock.inc"
#endif
