// Local date and time as the job records them, calendar arithmetic, and the monotonic time that
// time limits are measured in.
#pragma once

#include <cstdint>
#include <string>

namespace ZqNightly {

// A moment on the local wall clock, with the offset from UTC that was in force.
struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int utcOffsetMinutes = 0;

  std::string date() const;  // YYYY-MM-DD
  std::string iso() const;   // YYYY-MM-DDThh:mm:ss+hh:mm
  // Seconds since 1970-01-01 00:00:00 of this wall-clock reading taken as if it were UTC: the
  // scale on which two local readings compare without time-zone rules.
  int64_t wallSeconds() const;
};

namespace Clock {

LocalTime now();
// Milliseconds on a clock that never goes back (time limits, waits).
int64_t monotonicMs();
// Seconds since 1970 (UTC): what a time limit is recorded in for another job to read.
int64_t epochSeconds();

}  // namespace Clock

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int year, int month, int day);
bool isCalendarDate(int year, int month, int day);
// Reads exactly YYYY-MM-DD naming a calendar date.
bool readDay(const std::string& text, LocalTime& day);

}  // namespace ZqNightly
