// The PC's local date and time (for the terminals' clock commands, the nightly job's day folders and
// reports), calendar arithmetic, and the clocks that waits and time limits are measured on.
#pragma once

#include <cstdint>
#include <string>

namespace Common {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  // The local time's offset from UTC, in minutes east; known only once a clock was read.
  bool offsetKnown = false;
  int utcOffsetMinutes = 0;

  // A calendar date and a time of day: what a clock that could be read gives.
  bool valid() const { return validDate() && validTime(); }
  bool validDate() const;  // year 1..9999, month 1..12, day 1..31
  bool validTime() const;  // 00:00:00 to 23:59:60
  // "DD.MM.YYYY hh:mm:ss", as the data file writes dates and times.
  std::string text() const;
  // "YYYYMMDDhhmmss", the value of the network terminals' clock commands; false (nothing written)
  // when the clock could not be read, as a terminal must never be set to a made-up date.
  bool compactStamp(std::string& stamp) const;
  // text() and the UTC offset that was in force, "DD.MM.YYYY hh:mm:ss (UTC+03:00)", for the log.
  std::string describe() const;
  // "YYYY-MM-DD", the nightly job's day.
  std::string date() const;
  // "YYYY-MM-DDThh:mm:ss+hh:mm" (ISO 8601 with the UTC offset; +00:00 when it is not known).
  std::string iso() const;
  // Seconds since 1970-01-01 00:00:00 of this wall-clock reading taken as if it were UTC: the
  // scale on which two local readings compare without time-zone rules.
  int64_t wallSeconds() const;
};

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int year, int month, int day);
// The date of day `days` since 1970-01-01 (its inverse); the time of day is left at zero.
LocalTime civilFromDays(int64_t days);
bool isCalendarDate(int year, int month, int day);
// Reads exactly YYYY-MM-DD naming a calendar date.
bool readDate(const std::string& text, LocalTime& date);

// Milliseconds on a clock that never goes back (time limits, waits).
int64_t monotonicMs();
// Seconds since 1970 (UTC): what a time limit is recorded in for another process to read.
int64_t epochSeconds();

// The local time: GetLocalTime on Windows (whatever TZ the environment holds), the C library's
// local time elsewhere (which follows TZ). Not valid when the clock cannot be read (all zero): the
// drivers check, as a terminal must never be set to a made-up date. Nor is it when TZ is set but
// names no zone the C library can find (logged): it would silently give UTC instead.
LocalTime localTime();

// Whether a TZ value names a time zone: a zone file (":Europe/Berlin", "Europe/Berlin", an absolute
// path) found under `zoneDirectory`, or a POSIX rule such as "CET-1CEST,M3.5.0,M10.5.0/3".
bool namesTimeZone(const std::string& value, const std::string& zoneDirectory);

}  // namespace Common
