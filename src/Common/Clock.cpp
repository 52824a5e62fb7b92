// Only operating-system independent code; the per-OS part is included at the end.
#include "Common/Clock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

bool LocalTime::compactStamp(std::string& stamp) const {
  if (!valid()) return false;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02d", year, month, day, hour, minute, second);
  stamp = buffer;
  return true;
}

std::string LocalTime::describe() const {
  if (!offsetKnown) return text();
  const int minutes = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, " (UTC%c%02d:%02d)", utcOffsetMinutes < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text() + buffer;
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

LocalTime civilFromDays(int64_t days) {
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  LocalTime date;
  date.day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  date.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  date.year = static_cast<int>(yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0));
  return date;
}

bool isCalendarDate(int year, int month, int day) {
  static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= lengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool readDate(const std::string& text, LocalTime& date) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i != 4 && i != 7 && (text[i] < '0' || text[i] > '9')) return false;
  }
  date = LocalTime();
  date.year = std::atoi(text.substr(0, 4).c_str());
  date.month = std::atoi(text.substr(5, 2).c_str());
  date.day = std::atoi(text.substr(8, 2).c_str());
  return isCalendarDate(date.year, date.month, date.day);
}

int64_t monotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t epochSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

namespace {

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A zone abbreviation: three letters or more, or anything of letters, digits and signs in <>.
bool readZoneName(const std::string& rule, size_t& at) {
  const size_t start = at;
  if (at < rule.size() && rule[at] == '<') {
    const size_t end = rule.find('>', at);
    if (end == std::string::npos || end - at - 1 < 3) return false;
    for (size_t i = at + 1; i < end; ++i) {
      if (!isLetter(rule[i]) && !isDigit(rule[i]) && rule[i] != '+' && rule[i] != '-') return false;
    }
    at = end + 1;
    return true;
  }
  while (at < rule.size() && isLetter(rule[at])) ++at;
  return at - start >= 3;
}

// [+|-]hh[:mm[:ss]]
bool readOffset(const std::string& rule, size_t& at) {
  if (at < rule.size() && (rule[at] == '+' || rule[at] == '-')) ++at;
  for (int part = 0; part < 3; ++part) {
    if (part > 0) {
      if (at >= rule.size() || rule[at] != ':') return true;
      ++at;
    }
    const size_t start = at;
    while (at < rule.size() && isDigit(rule[at]) && at - start < 3) ++at;
    if (at == start) return false;
  }
  return true;
}

bool isPosixRule(const std::string& rule) {
  size_t at = 0;
  if (!readZoneName(rule, at) || !readOffset(rule, at)) return false;
  if (at == rule.size()) return true;
  if (rule[at] != ',') {
    if (!readZoneName(rule, at)) return false;
    if (at < rule.size() && rule[at] != ',' && !readOffset(rule, at)) return false;
  }
  if (at == rule.size()) return true;
  // The change rules: ",start[/time],end[/time]"; their detail is the C library's to judge.
  return rule[at] == ',' && rule.find(',', at + 1) != std::string::npos && rule.back() != ',';
}

}  // namespace

bool namesTimeZone(const std::string& value, const std::string& zoneDirectory) {
  const bool fileOnly = !value.empty() && value[0] == ':';
  const std::string name = fileOnly ? value.substr(1) : value;
  if (name.empty()) return false;
  const std::string path = name[0] == '/' ? name : zoneDirectory + "/" + name;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char magic[4] = {};
    const bool zoneFile = std::fread(magic, 1, 4, file) == 4 && std::memcmp(magic, "TZif", 4) == 0;
    std::fclose(file);
    if (zoneFile) return true;
  }
  return !fileOnly && isPosixRule(name);
}

}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/Clock.inc"
#else
#include "Common/Posix/Clock.inc"
#endif
