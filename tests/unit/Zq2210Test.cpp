// The 2210 driver's line-independent parts: request frames, reply checks, record decoding,
// the clock items, and the paths that must not reach the line at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Common/File.h"
#include "LogCapture.h"
#include "Zq/Zq2210.h"

using Zq::Command;
using Zq::Zq2210;
using ZqTest::stx;
using Strings = std::vector<std::string>;

namespace {

Command bytesOf(const std::string& text) {
  Command command;
  command.appendText(text);
  return command;
}

}  // namespace

TEST(Zq2210ReplyTest, ReplyCodeTextCoversTheTable) {
  EXPECT_STREQ(Zq2210::replyCodeText('A'), "Command was completed successfully");
  EXPECT_STREQ(Zq2210::replyCodeText('B'), "Busy");
  EXPECT_STREQ(Zq2210::replyCodeText('C'), "Check error");
  EXPECT_STREQ(Zq2210::replyCodeText('D'), "Access denied");
  EXPECT_STREQ(Zq2210::replyCodeText('E'), "End");
  EXPECT_STREQ(Zq2210::replyCodeText('F'), "Command execution failed");
  EXPECT_STREQ(Zq2210::replyCodeText('I'), "Invalid command");
  EXPECT_STREQ(Zq2210::replyCodeText('K'), "Key violation");
  EXPECT_STREQ(Zq2210::replyCodeText('N'), "Command is not applicable or data not available");
  for (int other : {0x47, 0x5A, 0x61, 0x6E, 0x00, 0x0D, 0xC1}) {  // G Z a n NUL CR
    EXPECT_STREQ(Zq2210::replyCodeText(static_cast<uint8_t>(other)), "") << other;
  }
}

TEST(Zq2210ReplyTest, CodeAIsAcceptedWhateverTheFirstThreeBytes) {
  ZqTest::LogCapture log;
  EXPECT_TRUE(Zq2210::checkReply("cmd_li", bytesOf(stx("11A\r"))));
  EXPECT_TRUE(Zq2210::checkReply("cmd_li", bytesOf(std::string("\0\0\0A", 4))));
  EXPECT_TRUE(Zq2210::checkReply("cmd_li", bytesOf("xyzA")));
  EXPECT_TRUE(log.lines().empty());
}

TEST(Zq2210ReplyTest, RejectedCodeLogsCodeTextAndReply) {
  ZqTest::LogCapture log;
  EXPECT_FALSE(Zq2210::checkReply("cmd_rn", bytesOf(stx("11N\r"))));
  EXPECT_FALSE(Zq2210::checkReply("cmd_rg", bytesOf(stx("11G\r"))));
  EXPECT_FALSE(Zq2210::checkReply("cmd_ri", bytesOf(stx("11Z12\r"))));
  EXPECT_FALSE(Zq2210::checkReply("cmd_lo", bytesOf(stx("11a\r"))));  // only the capital letter
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            (Strings{"Zq2210::cmd_rn(): err => 4EH, Command is not applicable or data not available, "
                     "RPL=02 31 31 4E 0D",
                     "Zq2210::cmd_rg(): err => 47H, , RPL=02 31 31 47 0D",
                     "Zq2210::cmd_ri(): err => 5AH, , RPL=02 31 31 5A 31 32 0D",
                     "Zq2210::cmd_lo(): err => 61H, , RPL=02 31 31 61 0D"}));
  for (const std::string& line : log.lines()) {
    EXPECT_NE(line.find(" at Zq\\Zq2210:"), std::string::npos) << line;
  }
}

TEST(Zq2210ReplyTest, ReplyWithoutCodeIsRejected) {
  ZqTest::LogCapture log;
  EXPECT_FALSE(Zq2210::checkReply("cmd_li", bytesOf(stx("11"))));
  EXPECT_FALSE(Zq2210::checkReply("cmd_li", Command()));
  EXPECT_EQ(log.messagesAt("[ERROR] "), (Strings{"Zq2210::cmd_li(): Invalid terminal response, RPL=02 31 31",
                                                 "Zq2210::cmd_li(): Invalid terminal response, RPL="}));
}

TEST(Zq2210ReplyTest, DataLiesBetweenCodeAndLastByte) {
  ZqTest::LogCapture log;
  std::string data = "stale";
  EXPECT_TRUE(Zq2210::replyData("cmd_rg", bytesOf(stx("11A1\t05-01-2026\r")), data));
  EXPECT_EQ(data, "1\t05-01-2026");
  EXPECT_TRUE(Zq2210::replyData("cmd_rg", bytesOf(stx("11A\r")), data));
  EXPECT_EQ(data, "");
  // What follows the first CR stays; the last byte is the end byte whatever it is.
  EXPECT_TRUE(Zq2210::replyData("cmd_rg", bytesOf(stx("11A12\rXY")), data));
  EXPECT_EQ(data, "12\rX");
  EXPECT_TRUE(log.lines().empty());

  data = "stale";
  EXPECT_FALSE(Zq2210::replyData("cmd_rg", bytesOf(stx("11A")), data));
  EXPECT_EQ(data, "");
  EXPECT_EQ(log.messagesAt("[ERROR] "), (Strings{"Zq2210::cmd_rg(): Invalid terminal response, RPL=02 31 31 41"}));
}

TEST(Zq2210ReplyTest, RecordCountIsDecimalDigitsOnly) {
  ZqTest::LogCapture log;
  EXPECT_EQ(Zq2210::recordCount(bytesOf(stx("11A0012\r"))), 12);
  EXPECT_EQ(Zq2210::recordCount(bytesOf(stx("11A0\r"))), 0);
  EXPECT_TRUE(log.lines().empty());
  for (const char* data : {" 7", "7x", "abc", "", "-3", "+3"}) {
    SCOPED_TRACE(data);
    EXPECT_EQ(Zq2210::recordCount(bytesOf(std::string(stx("11A")) + data + "\r")), -1);
  }
  EXPECT_EQ(Zq2210::recordCount(bytesOf(stx("11A"))), -1);
  EXPECT_EQ(log.messagesAt("[ERROR] ").size(), 7u);
  EXPECT_EQ(log.messagesAt("[ERROR] ")[0], "Zq2210::cmd_rn(): Invalid terminal response, RPL=02 31 31 41 20 37 0D");
}

TEST(Zq2210ReplyTest, CountOrRecordThatEndedInSilenceIsRefused) {
  // Without its CR the last byte is a digit: taking it for the end byte would read 12 as 1,
  // or cut the record's extra code, before the terminal is cleared.
  ZqTest::LogCapture log;
  EXPECT_EQ(Zq2210::recordCount(bytesOf(stx("11A12"))), -1);
  std::string data = "stale";
  EXPECT_FALSE(Zq2210::replyData("cmd_rg", bytesOf(stx("11A1\t05-01-2026\t07:58:12\tX0012AB34\t3")), data));
  EXPECT_EQ(data, "");
  EXPECT_EQ(
      log.messagesAt("[ERROR] "),
      (Strings{"Zq2210::cmd_rn(): Invalid terminal response, RPL=02 31 31 41 31 32",
               "Zq2210::cmd_rg(): Invalid terminal response, RPL=02 31 31 41 31 09 30 35 2D 30 31 2D 32 30 32 36 09 "
               "30 37 3A 35 38 3A 31 32 09 58 30 30 31 32 41 42 33 34 09 33"}));
}

TEST(Zq2210ReplyTest, OnReceiveWaitsForACarriageReturnAnywhere) {
  Zq2210 driver;
  const std::string noEnd = stx("11A0012");
  const std::string endInside = stx("11A\r") + stx("11");
  const std::string endFirst = "\rxyz";
  const std::string endLast = stx("11A\r");
  auto received = [&](const std::string& text) {
    return driver.onReceive(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()));
  };
  EXPECT_FALSE(received(noEnd));
  EXPECT_TRUE(received(endInside));
  EXPECT_TRUE(received(endFirst));
  EXPECT_TRUE(received(endLast));
  // Only the bytes received so far count.
  EXPECT_FALSE(driver.onReceive(reinterpret_cast<const uint8_t*>(endLast.data()), 4));
  EXPECT_FALSE(driver.onReceive(nullptr, 0));
}

TEST(Zq2210ReplyTest, DriverIsItsPortsEventSink) {
  Zq2210 driver;
  EXPECT_EQ(driver.serialPort.eventSink(), static_cast<Common::ISerialPortEvent*>(&driver));
}

TEST(Zq2210RequestTest, FramesAreStxLiteralArgumentsCr) {
  EXPECT_EQ(hexDump(Zq2210::makeRequest("11LI")), "02 31 31 4C 49 0D");
  EXPECT_EQ(hexDump(Zq2210::makeRequest("11RG", "12")), "02 31 31 52 47 31 32 0D");
  EXPECT_EQ(hexDump(Zq2210::makeItemRequest("AB", "x")), "02 31 31 49 53 22 41 42 22 30 30 78 0D");
  EXPECT_EQ(hexDump(Zq2210::makeItemRequest("", "")), "02 31 31 49 53 22 22 30 30 0D");
}

TEST(Zq2210RequestTest, ClockItemsForEighthOfDecember) {
  ZqTest::LogCapture log;
  const Common::LocalTime now{2026, 12, 8, 8, 49, 25};
  std::string date;
  std::string time;
  ASSERT_TRUE(Zq2210::prepareDateTime(now, date, time));
  EXPECT_EQ(date, "08-12-2026");
  EXPECT_EQ(time, "08:49:25");
  EXPECT_EQ(hexDump(Zq2210::makeItemRequest("DATE", date)),
            "02 31 31 49 53 22 44 41 54 45 22 30 30 30 38 2D 31 32 2D 32 30 32 36 0D");
  EXPECT_EQ(hexDump(Zq2210::makeItemRequest("TIME", time)),
            "02 31 31 49 53 22 54 49 4D 45 22 30 30 30 38 3A 34 39 3A 32 35 0D");
  EXPECT_TRUE(log.lines().empty());
}

TEST(Zq2210RequestTest, ClockValuesThatDoNotFitAreRefused) {
  const std::string dateMessage = "Zq2210::updateDateTime(): Can't prepare the date value for the command";
  const std::string timeMessage = "Zq2210::updateDateTime(): Can't prepare the time value for the command";
  const Common::LocalTime good{2026, 1, 31, 23, 59, 59};

  struct Case {
    const char* what;
    Common::LocalTime time;
    std::string message;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, const std::string& message, auto change) {
    Common::LocalTime time = good;
    change(time);
    cases.push_back({what, time, message});
  };
  add("five-digit year", dateMessage, [](Common::LocalTime& t) { t.year = 10000; });
  // Cut to ten characters, "100-01-202" would look like a date.
  add("three-digit day", dateMessage, [](Common::LocalTime& t) { t.day = 100; });
  add("no clock (all zero)", dateMessage, [](Common::LocalTime& t) { t = Common::LocalTime(); });
  add("month 13", dateMessage, [](Common::LocalTime& t) { t.month = 13; });
  add("hour 24", timeMessage, [](Common::LocalTime& t) { t.hour = 24; });
  add("three-digit minute", timeMessage, [](Common::LocalTime& t) { t.minute = 100; });
  add("negative second", timeMessage, [](Common::LocalTime& t) { t.second = -1; });
  // The date is tested first and alone reported.
  add("both", dateMessage, [](Common::LocalTime& t) {
    t.year = 10000;
    t.hour = 100;
  });

  for (const Case& c : cases) {
    ZqTest::LogCapture log;
    std::string date = "unchanged";
    std::string time = "unchanged";
    EXPECT_FALSE(Zq2210::prepareDateTime(c.time, date, time)) << c.what;
    EXPECT_EQ(log.messagesAt("[ERROR] "), (Strings{c.message})) << c.what;
    EXPECT_EQ(date, "unchanged") << c.what;
  }
}

// Decodes one record text through dumpRecord and returns the data file's bytes.
class Zq2210RecordTest : public ::testing::Test {
protected:
  std::string decode(const std::string& text, Zq::CardFormat cardFormat = Zq::CardAsIs, bool* result = nullptr) {
    const std::string path = dir.file("record.txt");
    Common::File file;
    EXPECT_TRUE(file.openExclusive(path.c_str(), "wb"));
    const bool ok = driver.dumpRecord(file.handle, text, cardFormat);
    if (result != nullptr) *result = ok;
    EXPECT_TRUE(file.close());
    return ZqTest::readFile(path);
  }

  ZqTest::TempDir dir;
  Zq2210 driver;
};

TEST_F(Zq2210RecordTest, FullRecordBecomesOneLine) {
  bool result = false;
  EXPECT_EQ(decode("1\t05-01-2026\t07:58:12\tX0012AB34\t3", Zq::CardAsIs, &result),
            "0012AB34\t1\t05.01.2026\t07:58:12\t03\r\n");
  EXPECT_TRUE(result);
  // The card-number mode reaches the writer.
  EXPECT_EQ(decode("2\t05-01-2026\t07:58:12\tXA1B2C3\t3", Zq::CardHex8), "00A1B2C3\t2\t05.01.2026\t07:58:12\t03\r\n");
  EXPECT_EQ(decode("2\t05-01-2026\t07:58:12\tXA1B2C3\t3", Zq::CardDecimal),
            "0161178195\t2\t05.01.2026\t07:58:12\t03\r\n");
}

TEST_F(Zq2210RecordTest, MissingFieldsKeepTheDefaults) {
  EXPECT_EQ(decode("3\t05-01-2026\t07:58:12"), "\t3\t05.01.2026\t07:58:12\t00\r\n");
  EXPECT_EQ(decode("4"), "\t4\t\t\t00\r\n");
  EXPECT_EQ(decode("1\t05-01-2026\t07:58:12\tX12"), "12\t1\t05.01.2026\t07:58:12\t00\r\n");
}

TEST_F(Zq2210RecordTest, EventCodeOutsideOneToFourStaysOne) {
  const char* rest = "\t05-01-2026\t07:58:12\tX12\t0";
  EXPECT_EQ(decode(std::string("7") + rest), "12\t1\t05.01.2026\t07:58:12\t00\r\n");
  EXPECT_EQ(decode(std::string("0") + rest), "12\t1\t05.01.2026\t07:58:12\t00\r\n");
  EXPECT_EQ(decode(std::string("in") + rest), "12\t1\t05.01.2026\t07:58:12\t00\r\n");
  EXPECT_EQ(decode(std::string("-2") + rest), "12\t1\t05.01.2026\t07:58:12\t00\r\n");
  EXPECT_EQ(decode(std::string("4") + rest), "12\t4\t05.01.2026\t07:58:12\t00\r\n");
  EXPECT_EQ(decode(std::string(" 3") + rest), "12\t3\t05.01.2026\t07:58:12\t00\r\n");
  EXPECT_EQ(decode(std::string("") + rest), "12\t1\t05.01.2026\t07:58:12\t00\r\n");
}

TEST_F(Zq2210RecordTest, DateParts) {
  auto dateOf = [&](const std::string& field) {
    const std::string line = decode("1\t" + field + "\t07:58:12\tX12\t0");
    return Zq::split(line, "\t").at(2);
  };
  EXPECT_EQ(dateOf("5-1-2026"), "5.1.2026");
  EXPECT_EQ(dateOf("05-01-2026-99"), "05.01.2026");
  EXPECT_EQ(dateOf("123-456-78901"), "123.456.78");
  EXPECT_EQ(dateOf("05-01-20261"), "05.01.2026");
  // Fewer than three parts: the missing ones are empty.
  EXPECT_EQ(dateOf("5-1"), "5.1.");
  EXPECT_EQ(dateOf("05012026"), "05012026..");
  EXPECT_EQ(dateOf(""), "..");
}

TEST_F(Zq2210RecordTest, CardFieldLosesItsFirstCharacter) {
  EXPECT_EQ(decode("1\t05-01-2026\t07:58:12\tX\t5"), "\t1\t05.01.2026\t07:58:12\t05\r\n");
  EXPECT_EQ(decode("1\t05-01-2026\t07:58:12\t\t5"), "\t1\t05.01.2026\t07:58:12\t05\r\n");
  EXPECT_EQ(decode("1\t05-01-2026\t07:58:12\t 0A1B\t5"), "0A1B\t1\t05.01.2026\t07:58:12\t05\r\n");
}

TEST_F(Zq2210RecordTest, ExtraCodeAndFieldsPastTheFifth) {
  EXPECT_EQ(decode("1\t05-01-2026\t07:58:12\tX12\t123\t9\tjunk"), "12\t1\t05.01.2026\t07:58:12\t123\r\n");
  EXPECT_EQ(decode("1\t05-01-2026\t07:58:12\tX12\t-5"), "12\t1\t05.01.2026\t07:58:12\t-5\r\n");
  EXPECT_EQ(decode("1\t05-01-2026\t07:58:12\tX12\tabc"), "12\t1\t05.01.2026\t07:58:12\t00\r\n");
}

TEST_F(Zq2210RecordTest, EmptyTextWritesNothing) {
  ZqTest::LogCapture log;
  bool result = true;
  EXPECT_EQ(decode("", Zq::CardAsIs, &result), "");
  EXPECT_FALSE(result);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].rfind("[ERROR] Zq2210::dumpRecord(): Empty record at Zq\\Zq2210:", 0), 0u);
}

// Paths that must end before anything is written to the line. The port is never opened,
// so a request that did go out would leave the transport's own failure lines in the log.
TEST(Zq2210NoLineTest, ItemWithoutNameOrValueSendsNothing) {
  Zq2210 driver;
  {
    ZqTest::LogCapture log;
    EXPECT_FALSE(driver.cmd_is(nullptr, nullptr));
    EXPECT_EQ(log.messages(), (Strings{"[ERROR] Zq2210::cmd_is(): Not specified item name"}));
  }
  {
    ZqTest::LogCapture log;
    EXPECT_FALSE(driver.cmd_is(nullptr, "08-12-2026"));
    EXPECT_EQ(log.messages(), (Strings{"[ERROR] Zq2210::cmd_is(): Not specified item name"}));
  }
  {
    ZqTest::LogCapture log;
    EXPECT_FALSE(driver.cmd_is("DATE", nullptr));
    EXPECT_EQ(log.messages(), (Strings{"[ERROR] Zq2210::cmd_is(): Not specified item value"}));
  }
}

TEST(Zq2210NoLineTest, UnwritableDataFileContactsNoTerminal) {
  ZqTest::TempDir dir;
  const std::string path = dir.file("missing-directory/out.txt");
  Zq2210 driver;
  ZqTest::LogCapture log;
  EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  EXPECT_EQ(log.messages(), (Strings{"[ERROR] Zq2210::dump(): Can't open file " + path}));
}

TEST(Zq2210NoLineTest, ClockThatDoesNotFitContactsNoTerminal) {
  Zq2210 driver;
  ZqTest::LogCapture log;
  Common::LocalTime now;  // all zero: no month 0
  EXPECT_FALSE(driver.setDateTime(now));
  EXPECT_EQ(log.messages(),
            (Strings{"[ERROR] Zq2210::updateDateTime(): Can't prepare the date value for the command"}));
}

// On a port that is not open the purge before the first request fails: the log-in is a
// send failure and the dialogue ends there, without a log-out.
TEST(Zq2210NoLineTest, FailedLogInEndsEveryDialogue) {
  const std::string sendLogIn = "[ERROR] Zq2210::cmd_li(): Can't send command <11LI> 02 31 31 4C 49 0D";
  auto ownLines = [](const ZqTest::LogCapture& log) {
    Strings result;
    for (const std::string& message : log.messages()) {
      if (message.find("Zq2210::") != std::string::npos) result.push_back(message);
    }
    return result;
  };
  Zq2210 driver;
  {
    ZqTest::LogCapture log;
    // Without a saved download there is nothing the clearing may remove: not even a log-in.
    EXPECT_FALSE(driver.reset());
    EXPECT_EQ(ownLines(log), (Strings{"[ERROR] Zq2210::reset(): No download saved: nothing is cleared"}));
  }
  {
    ZqTest::LogCapture log;
    EXPECT_FALSE(driver.updateDateTime());
    EXPECT_EQ(ownLines(log), (Strings{sendLogIn, "[ERROR] Zq2210::updateDateTime(): Can't log in the terminal"}));
  }
  {
    ZqTest::TempDir dir;
    const std::string path = dir.file("out.txt");
    {
      FILE* old = std::fopen(path.c_str(), "wb");
      ASSERT_NE(old, nullptr);
      std::fputs("old records\r\n", old);
      std::fclose(old);
    }
    ZqTest::LogCapture log;
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
    EXPECT_EQ(ownLines(log), (Strings{sendLogIn, "[ERROR] Zq2210::dump(): Can't log in the terminal"}));
    // Opened before the terminal was contacted: an earlier file is emptied.
    EXPECT_TRUE(ZqTest::fileExists(path));
    EXPECT_EQ(ZqTest::readFile(path), "");
  }
}
