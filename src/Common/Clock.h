// The PC's local date and time, for the terminals' clock commands.
#pragma once

namespace Common {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

LocalTime localTime();

}  // namespace Common
