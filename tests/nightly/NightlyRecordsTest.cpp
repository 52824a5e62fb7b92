// The exactly-once rule between two downloads of one terminal, and the records counted suspect.
#include <gtest/gtest.h>

#include <string>

#include "Nightly/Records.h"

namespace {

const std::string a = "00000001\t1\t01.03.2026\t08:00:00\t00\r\n";
const std::string b = "00000002\t2\t01.03.2026\t12:00:00\t00\r\n";
const std::string c = "00000003\t1\t02.03.2026\t08:00:00\t00\r\n";

std::string fresh(const std::string& previous, const std::string& current, size_t expectedCount) {
  size_t count = 99;
  const std::string result = ZqNightly::Records::fresh(previous, current, count);
  EXPECT_EQ(count, expectedCount);
  return result;
}

TEST(RecordsTest, FreshIsWhatTheEarlierDownloadDidNotDeliver) {
  EXPECT_EQ(fresh(a + b, a + b + c, 1), c);  // not cleared: the rest
  EXPECT_EQ(fresh(a + b, c, 1), c);          // cleared, then one punch
  EXPECT_EQ(fresh("", a + b, 2), a + b);     // first night
  EXPECT_EQ(fresh(a + b, a + b, 0), "");     // nothing punched
  // A line twice now and once before is new once: a card punched twice in one second.
  EXPECT_EQ(fresh(a + b, a + b + a, 1), a);
  EXPECT_EQ(fresh(a + a, a, 0), "");
  // The last line without its line end is a record too.
  EXPECT_EQ(fresh(a, a + "x", 1), "x");
}

TEST(RecordsTest, SuspectRecordsAreThoseAWrongClockGives) {
  Common::LocalTime now;
  now.year = 2026;
  now.month = 3;
  now.day = 2;
  now.hour = 4;
  EXPECT_EQ(ZqNightly::Records::suspect(a + b + c, now), 0u);
  const std::string future = "00000004\t1\t05.03.2026\t08:00:00\t00\r\n";
  const std::string old = "00000005\t1\t01.01.2025\t08:00:00\t00\r\n";
  const std::string impossible = "00000006\t1\t30.02.2026\t08:00:00\t00\r\n";
  EXPECT_EQ(ZqNightly::Records::suspect(a + future + old + impossible, now), 3u);
}

}  // namespace
