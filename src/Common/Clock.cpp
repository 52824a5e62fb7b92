// Only operating-system independent code; the per-OS part is included at the end.
#include "Common/Clock.h"

#include <cstdio>
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
