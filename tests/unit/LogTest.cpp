#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "Common/Log.h"
#include "LogCapture.h"

namespace {

#ifdef _WIN32
const std::string lineEnd = "\r\n";
#else
const std::string lineEnd = "\n";
#endif

// The raw lines of the log, each with its own line end checked and removed.
std::vector<std::string> rawLines(const std::string& raw) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = raw.find(lineEnd); end != std::string::npos; end = raw.find(lineEnd, start)) {
    lines.push_back(raw.substr(start, end - start));
    start = end + lineEnd.size();
  }
  EXPECT_EQ(start, raw.size()) << "the log ends in the middle of a line";
  return lines;
}

int secondsOfDay(const std::tm& t) { return t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec; }

}  // namespace

TEST(WriteLogTest, LevelsOneToFiveCarryTheirTags) {
  ZqTest::LogCapture log;
  writeLog(LogError, "Application", 10, "one");
  writeLog(LogWarning, "Application", 11, "two");
  writeLog(LogInfo, "Application", 12, "three");
  writeLog(LogDebug, "Application", 13, "four");
  writeLog(LogTrace, "Application", 14, "five");
  writeLog(0, "Application", 15, "zero");
  writeLog(6, "Application", 16, "six");
  writeLog(-1, "Application", 17, "minus");
  EXPECT_EQ(log.allLines(), (std::vector<std::string>{
                                "[ERROR] one at Application:10",
                                "[WARNING] two at Application:11",
                                "[INFO] three at Application:12",
                                "[DEBUG] four at Application:13",
                                "[TRACE] five at Application:14",
                                "zero at Application:15",
                                "six at Application:16",
                                "minus at Application:17",
                            }));
}

TEST(WriteLogTest, SuffixNeedsASourceAndAPositiveLine) {
  ZqTest::LogCapture log;
  writeLog(LogError, nullptr, 10, "no source");
  writeLog(LogError, "Zq\\Terminal", 0, "line zero");
  writeLog(LogError, "Zq\\Terminal", -3, "negative line");
  writeLog(LogError, "Zq\\Terminal", 1, "first line");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "[ERROR] no source",
                             "[ERROR] line zero",
                             "[ERROR] negative line",
                             "[ERROR] first line at Zq\\Terminal:1",
                         }));
}

TEST(WriteLogTest, FormatsItsArguments) {
  ZqTest::LogCapture log;
  writeLog(LogError, "Common\\Socket", 77, "Socket::connect(): select(): err => %d %s %ld", 111, "x", 5L);
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"[ERROR] Socket::connect(): select(): err => 111 x 5 at Common\\Socket:77"}));
}

TEST(WriteLogTest, MessageEndingInALineFeedPutsTheSuffixOnItsOwnLine) {
  ZqTest::LogCapture log;
  writeLog(LogError, "Zq-ReadUtility", 45, "Can't set code page.\n");
  const std::vector<std::string> lines = rawLines(log.raw());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], " at Zq-ReadUtility:45");
  const std::string& first = lines[0];
  const std::string ending = "] [ERROR] Can't set code page.";
  ASSERT_GE(first.size(), ending.size());
  EXPECT_EQ(first.substr(first.size() - ending.size()), ending);
}

TEST(WriteLogTest, LinesEndInThePlatformsLineEnd) {
  ZqTest::LogCapture log;
  writeLog(LogWarning, "Application", 1, "a");
  writeLog(LogWarning, "Application", 2, "b");
  const std::string raw = log.raw();
  EXPECT_EQ(rawLines(raw).size(), 2u);
#ifndef _WIN32
  EXPECT_EQ(raw.find('\r'), std::string::npos);
#endif
}

TEST(WriteLogTest, TimeStampIsWeekdayDateAndHourMinuteSecond) {
  ZqTest::LogCapture log;
  const std::time_t before = std::time(nullptr);
  writeLog(LogError, "Application", 5, "stamped");
  const std::time_t after = std::time(nullptr);

  const std::vector<std::string> lines = rawLines(log.raw());
  ASSERT_EQ(lines.size(), 1u);
  std::smatch match;
  const std::regex stamp(
      R"(^\[([^,\]]+), (\d\d)\.(\d\d)\.(\d{4}) (\d\d):(\d\d):(\d\d)\] \[ERROR\] stamped at Application:5$)");
  ASSERT_TRUE(std::regex_match(lines[0], match, stamp)) << lines[0];

  const std::tm earliest = *std::localtime(&before);
  const std::tm latest = *std::localtime(&after);
  const int day = std::stoi(match[2]), month = std::stoi(match[3]), year = std::stoi(match[4]);
  const int hour = std::stoi(match[5]), minute = std::stoi(match[6]), second = std::stoi(match[7]);
  // Read as hour, minute, second, the stamp lies between the clock readings around the call.
  const int stamped = hour * 3600 + minute * 60 + second;
  const bool sameDay = earliest.tm_mday == latest.tm_mday;
  if (sameDay) {
    EXPECT_EQ(day, earliest.tm_mday);
    EXPECT_EQ(month, earliest.tm_mon + 1);
    EXPECT_EQ(year, earliest.tm_year + 1900);
    EXPECT_GE(stamped, secondsOfDay(earliest)) << lines[0];
    EXPECT_LE(stamped, secondsOfDay(latest)) << lines[0];
  }
  char weekday[32];
  ASSERT_GT(std::strftime(weekday, sizeof weekday, "%a", &latest), 0u);
  if (sameDay) {
    EXPECT_EQ(match[1].str(), weekday);
  }
}

TEST(WriteLogTest, NothingIsWrittenWhileNoLogIsOpen) {
  ZqTest::TempDir dir;
  const std::string path = dir.file("first.log");
  ASSERT_TRUE(openLog(path.c_str()));
  writeLog(LogError, "Application", 1, "kept");
  closeLog();
  writeLog(LogError, "Application", 2, "lost");
  const std::vector<std::string> lines = rawLines(ZqTest::readFile(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("kept"), std::string::npos);
}

TEST(OpenLogTest, SecondOpenMovesTheLogToTheNewFile) {
  ZqTest::TempDir dir;
  const std::string first = dir.file("first.log"), second = dir.file("second.log");
  ASSERT_TRUE(openLog(first.c_str()));
  writeLog(LogError, "Application", 1, "one");
  ASSERT_TRUE(openLog(second.c_str()));
  writeLog(LogError, "Application", 2, "two");
  closeLog();
  EXPECT_EQ(rawLines(ZqTest::readFile(first)).size(), 1u);
  const std::vector<std::string> lines = rawLines(ZqTest::readFile(second));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("two at Application:2"), std::string::npos);
}

TEST(OpenLogTest, ExistingFileIsEmptied) {
  ZqTest::TempDir dir;
  const std::string path = dir.file("Zq-ReadUtility.log");
  {
    std::FILE* old = std::fopen(path.c_str(), "w");
    ASSERT_NE(old, nullptr);
    std::fputs("an old run\n", old);
    std::fclose(old);
  }
  ASSERT_TRUE(openLog(path.c_str()));
  closeLog();
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST(OpenLogTest, MissingPathIsReportedOnStandardError) {
  for (const char* path : {static_cast<const char*>(nullptr), ""}) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(openLog(path));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Do not specify the path to the log file.\n");
  }
}

TEST(OpenLogTest, UnopenablePathIsReportedWithTheRuntimesError) {
  ZqTest::TempDir dir;
  const std::string path = dir.file("missing-directory") + "/Zq-ReadUtility.log";
  testing::internal::CaptureStderr();
  EXPECT_FALSE(openLog(path.c_str()));
  std::string err = testing::internal::GetCapturedStderr();
  if (err.size() >= 2 && err.compare(err.size() - 2, 2, "\r\n") == 0) err.erase(err.size() - 2, 1);
  EXPECT_EQ(err, "ERROR: Can't open log file " + path + ": err => " + std::to_string(ENOENT) + " (" +
                     std::strerror(ENOENT) + ").\n");
  // The failed open leaves no log behind: later calls write nothing anywhere.
  writeLog(LogError, "Application", 1, "lost");
  EXPECT_FALSE(ZqTest::fileExists(path));
}
