// The calendar of the simulated terminals: generated record times and the clock values they are sent.
#pragma once

#include <cstdint>
#include <string>

namespace Simulator {

struct DateTime {
  int year = 2000;
  int month = 1;  // 1..12
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;

  // Whether the fields name a day of the calendar and a time of day; checks only, changes nothing.
  bool valid() const;
  // "YYYY-MM-DD"
  std::string dateText() const;
  // "YYYY-MM-DD hh:mm:ss", as the simulator reports a clock it has set.
  std::string text() const;
};

// The time of generated record `n`: second `n` after 2024-01-01 00:00:00.
DateTime generatedTime(uint64_t n);

// Reads `text` laid out as `layout`, in which Y, M, D, h, m and s stand for one digit of the year,
// month, day, hour, minute and second and any other character for itself ("DD-MM-YYYY"). The fields
// the layout leaves out are those of 2000-01-01 00:00:00. False when the text does not follow the
// layout or the date or time does not exist; `t` is then left as it was.
bool readDateTime(const std::string& text, const char* layout, DateTime& t);

}  // namespace Simulator
