// The calendar of the simulated terminals.
#include "DateTime.h"

#include <cstdio>
#include <cstring>

#include "Common/Clock.h"

namespace Simulator {

namespace {

// The field of `t` that a layout letter stands for; null for a character that stands for itself.
int* fieldOf(DateTime& t, char letter) {
  switch (letter) {
    case 'Y': return &t.year;
    case 'M': return &t.month;
    case 'D': return &t.day;
    case 'h': return &t.hour;
    case 'm': return &t.minute;
    case 's': return &t.second;
    default: return nullptr;
  }
}

}  // namespace

bool DateTime::valid() const {
  return year >= 1900 && year <= 9999 && Common::isCalendarDate(year, month, day) && hour >= 0 && hour < 24 &&
         minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

std::string DateTime::dateText() const {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

std::string DateTime::text() const {
  char time[16];
  std::snprintf(time, sizeof time, "%02d:%02d:%02d", hour, minute, second);
  return dateText() + " " + time;
}

DateTime generatedTime(uint64_t n) {
  const int64_t days = static_cast<int64_t>(n / 86400) + 19723;  // 2024-01-01 is day 19723 after 1970-01-01
  const uint64_t rest = n % 86400;
  const Common::LocalTime date = Common::civilFromDays(days);
  DateTime t;
  t.year = date.year;
  t.month = date.month;
  t.day = date.day;
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

bool readDateTime(const std::string& text, const char* layout, DateTime& t) {
  if (text.size() != std::strlen(layout)) return false;
  DateTime read;
  for (const char* letter = layout; *letter != '\0'; ++letter) {
    if (int* field = fieldOf(read, *letter)) *field = 0;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    int* field = fieldOf(read, layout[i]);
    if (field == nullptr) {
      if (text[i] != layout[i]) return false;
    } else if (text[i] >= '0' && text[i] <= '9') {
      *field = *field * 10 + (text[i] - '0');
    } else {
      return false;
    }
  }
  if (!read.valid()) return false;
  t = read;
  return true;
}

}  // namespace Simulator
