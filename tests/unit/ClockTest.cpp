#include <gtest/gtest.h>

#include "Common/Clock.h"

// Every day over four centuries on both sides of 1970 (leap years by 4, 100 and 400) comes back
// from its day number as itself, and the numbers run on without a gap.
TEST(ClockTest, CivilDatesAndDayNumbersAreInverse) {
  int64_t expected = Common::daysFromCivil(1801, 1, 1);
  for (int year = 1801; year <= 2200; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; Common::isCalendarDate(year, month, day); ++day, ++expected) {
        ASSERT_EQ(Common::daysFromCivil(year, month, day), expected) << year << "-" << month << "-" << day;
        const Common::LocalTime date = Common::civilFromDays(expected);
        ASSERT_EQ(date.year * 10000 + date.month * 100 + date.day, year * 10000 + month * 100 + day) << expected;
      }
    }
  }
  EXPECT_EQ(Common::daysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(Common::civilFromDays(0).date(), "1970-01-01");
  EXPECT_EQ(Common::civilFromDays(-1).date(), "1969-12-31");
}
