// The 870/QVK driver: record decoding, reply completion, and whole dialogues with a scripted
// terminal on the loopback interface.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Common/File.h"
#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "Zq/TerminalRecord.h"
#include "Zq/Zq870.h"
#ifdef __linux__
#include "PosixFileSizeLimit.h"
#endif

using ZqTest::LogCapture;
using ZqTest::LoopbackPeer;
using ZqTest::PeerConnection;
using ZqTest::TempDir;

namespace {

// 26 record bytes: card, one unused byte, event digit, YYYYMMDDhhmmss, two unused bytes.
std::string record(const std::string& card, char event, const std::string& stamp) {
  std::string bytes = card + '?' + event + stamp + "##";
  EXPECT_EQ(bytes.size(), 26u);
  return bytes;
}

std::string count(uint32_t n) {
  const char bytes[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                         static_cast<char>(n)};
  return std::string(bytes, 4);
}

// The data-file text that dumpRecord writes for one record.
std::string decode(const std::string& bytes, Zq::CardFormat cardFormat = Zq::CardAsIs) {
  TempDir dir;
  const std::string path = dir.file("data.txt");
  Zq::Zq870 driver;
  {
    Common::File file;
    EXPECT_TRUE(Zq::openDataFile(file, path));
    EXPECT_TRUE(driver.dumpRecord(reinterpret_cast<const uint8_t*>(bytes.data()), file.handle, cardFormat));
    EXPECT_TRUE(Zq::finishDataFile(file));
  }
  return ZqTest::readFile(path);
}

using ZqTest::applicationSettings;

// Holds the connection open until the driver closes its end.
void waitForDriverClose(PeerConnection& peer) { peer.receive(1, 5000); }

bool received(Zq::Zq870& driver, const std::string& text) {
  return driver.onReceive(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()));
}

const std::string first = record("0012AB34", '2', "20240131235959");
const std::string firstLine = "0012AB34\t3\t31.01.2024\t23:59:59\t00\r\n";
const std::string second = record("00A1B2C3", '0', "20231201070809");
const std::string secondLine = "00A1B2C3\t1\t01.12.2023\t07:08:09\t00\r\n";
const std::string third = record("0000FFFF", '3', "20250615120000");

}  // namespace

TEST(Zq870RecordTest, DecodesCardEventDateAndTime) {
  EXPECT_EQ(decode(first), firstLine);
  EXPECT_EQ(decode(second), secondLine);
}

TEST(Zq870RecordTest, EventDigitsZeroToThreeMapToOneToFour) {
  EXPECT_EQ(decode(record("00000001", '0', "20240101000000")), "00000001\t1\t01.01.2024\t00:00:00\t00\r\n");
  EXPECT_EQ(decode(record("00000001", '1', "20240101000000")), "00000001\t2\t01.01.2024\t00:00:00\t00\r\n");
  EXPECT_EQ(decode(record("00000001", '3', "20240101000000")), "00000001\t4\t01.01.2024\t00:00:00\t00\r\n");
  // Anything else keeps the default event code.
  EXPECT_EQ(decode(record("00000001", '7', "20240101000000")), "00000001\t1\t01.01.2024\t00:00:00\t00\r\n");
  EXPECT_EQ(decode(record("00000001", ' ', "20240101000000")), "00000001\t1\t01.01.2024\t00:00:00\t00\r\n");
}

TEST(Zq870RecordTest, DigitGroupsAreReadOneByOne) {
  // Each group is read as a number of its own: blanks and signs are taken, and the day after the
  // month is not swallowed into it.
  EXPECT_EQ(decode(record("00000001", '0', "2024 131+2 1 9")), "00000001\t1\t31.01.2024\t02:01:09\t00\r\n");
  EXPECT_EQ(decode(record("00000001", '0', "20240709080706")), "00000001\t1\t09.07.2024\t08:07:06\t00\r\n");
}

// Any other byte in the time stamp is no record of this terminal: the stream has lost its step.
TEST(Zq870RecordTest, TimeStampWithOtherBytesIsRefused) {
  ZqTest::LogCapture log;
  Zq::Zq870 driver;
  for (const char* stamp : {"2024AB31235959", "20240131\t35959", "2024013123595\x80"}) {
    const std::string bytes = record("00000001", '0', stamp);
    EXPECT_FALSE(driver.dumpRecord(reinterpret_cast<const uint8_t*>(bytes.data()), nullptr, Zq::CardAsIs)) << stamp;
  }
  EXPECT_EQ(log.messagesAt("[ERROR] ").size(), 3u);
  EXPECT_EQ(log.messagesAt("[ERROR] ")[0].rfind("Zq870::dumpRecord(): Invalid date/time, RPL=30 30", 0), 0u);
}

TEST(Zq870RecordTest, CardBytesReachTheWriterUnchanged) {
  EXPECT_EQ(decode(first, Zq::CardHex8), firstLine);
  // 00 12 AB 34 read pair by pair: 0, 18, 171, 52.
  EXPECT_EQ(decode(first, Zq::CardDecimal), "01817152\t3\t31.01.2024\t23:59:59\t00\r\n");
}

TEST(Zq870ReceiveTest, ClockAndClearRepliesEndAtOkOrNoAnywhere) {
  Zq::Zq870 driver;
  EXPECT_EQ(driver.socket.eventSink(), &driver);
  for (const Zq::Zq870::PendingCommand pending : {Zq::Zq870::PendingSetTime, Zq::Zq870::PendingClearLog}) {
    driver.pendingCommand = pending;
    EXPECT_TRUE(received(driver, "OK"));
    EXPECT_TRUE(received(driver, "NO"));
    EXPECT_TRUE(received(driver, "SETTIME_OK"));
    EXPECT_TRUE(received(driver, "CLEARLOG_NO"));
    EXPECT_FALSE(received(driver, "CLEAR"));
    EXPECT_FALSE(received(driver, "O"));
    EXPECT_FALSE(received(driver, "ON"));
    EXPECT_FALSE(received(driver, ""));
    // Only the bytes received so far count.
    EXPECT_FALSE(driver.onReceive(reinterpret_cast<const uint8_t*>("XOK"), 2));
  }
}

TEST(Zq870ReceiveTest, DownloadAndIdleNeverEndByContent) {
  Zq::Zq870 driver;
  EXPECT_EQ(driver.pendingCommand, Zq::Zq870::PendingNone);
  for (const Zq::Zq870::PendingCommand pending : {Zq::Zq870::PendingNone, Zq::Zq870::PendingGetLogData}) {
    driver.pendingCommand = pending;
    EXPECT_FALSE(received(driver, "OK"));
    EXPECT_FALSE(received(driver, "NO"));
  }
}

TEST(Zq870DumpTest, UnwritableFileFailsBeforeAnythingIsSent) {
  LogCapture log;
  TempDir dir;
  const std::string path = dir.file("missing-dir/data.txt");
  Zq::Zq870 driver;
  EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  EXPECT_EQ(log.messagesAt("[ERROR] "), std::vector<std::string>{"Can't open file " + path});
  EXPECT_EQ(driver.pendingCommand, Zq::Zq870::PendingNone);
}

class Zq870DialogueTest : public ::testing::Test {
protected:
  LogCapture log;
  TempDir dir;
  const std::string path = dir.file("data.txt");
};

TEST_F(Zq870DialogueTest, CountZeroIsACompleteDownloadOfNoRecords) {
  LoopbackPeer peer([](PeerConnection& c) {
    c.receive(10, 3000);
    c.send(count(0));
    waitForDriverClose(c);
  });
  {
    Zq::Zq870 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  EXPECT_EQ(peer.received(), "GETLOGDATA");
  EXPECT_EQ(log.messagesAt("[WARNING] "), std::vector<std::string>{"Zq870::dump(): No data for read"});
  EXPECT_TRUE(log.messagesAt("[ERROR] ").empty());
  ASSERT_TRUE(ZqTest::fileExists(path));
  EXPECT_EQ(ZqTest::readFile(path), "");
  ASSERT_FALSE(log.lines().empty());
  EXPECT_NE(log.lines().back().find(" at Zq\\Zq870:"), std::string::npos);
}

TEST_F(Zq870DialogueTest, TwoRecordsAreWrittenAndWhatFollowsStaysUnread) {
  LoopbackPeer peer([](PeerConnection& c) {
    c.receive(10, 3000);
    c.send(count(2) + first + second + "TAIL");
    waitForDriverClose(c);
  });
  Zq::Zq870 driver;
  ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
  EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));
  EXPECT_EQ(ZqTest::readFile(path), firstLine + secondLine);
  EXPECT_TRUE(log.lines().empty());

  // The bytes after the last announced record are still waiting on the connection.
  uint8_t rest[4] = {};
  EXPECT_EQ(driver.socket.recvTimeout(rest, 4, 192, 5), 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rest), 4), "TAIL");
  driver.disconnect();
  peer.waitDone();
  EXPECT_EQ(peer.received(), "GETLOGDATA");
}

TEST_F(Zq870DialogueTest, LongDownloadKeepsEveryRecordInOrder) {
  // More records than one read takes at a time, in segments that cut records apart.
  const uint32_t records = 6000;
  std::string stream = count(records);
  std::string expected;
  for (uint32_t i = 0; i < records; ++i) {
    char card[9];
    std::snprintf(card, sizeof card, "%08X", static_cast<unsigned>(i));
    stream += record(card, '1', "20240131235959");
    expected += std::string(card) + "\t2\t31.01.2024\t23:59:59\t00\r\n";
  }
  stream += "TAIL";
  LoopbackPeer peer([&](PeerConnection& c) {
    c.receive(10, 3000);
    for (size_t at = 0; at < stream.size(); at += 7001) c.send(stream.substr(at, 7001));
    waitForDriverClose(c);
  });
  Zq::Zq870 driver;
  ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
  EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));
  EXPECT_EQ(ZqTest::readFile(path), expected);
  uint8_t rest[4] = {};
  EXPECT_EQ(driver.socket.recvTimeout(rest, 4, 192, 5), 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rest), 4), "TAIL");
  driver.disconnect();
}

TEST_F(Zq870DialogueTest, RecordSplitOverTwoSegmentsIsAssembled) {
  LoopbackPeer peer([](PeerConnection& c) {
    c.receive(10, 3000);
    c.send(count(1) + first.substr(0, 10));
    c.pause(100);
    c.send(first.substr(10));
    waitForDriverClose(c);
  });
  Zq::Zq870 driver;
  ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
  EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));
  EXPECT_EQ(ZqTest::readFile(path), firstLine);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(Zq870DialogueTest, PauseLongerThanTheWaitsInsideARecordIsWaitedOutOnce) {
  // The waits run out with half a record in hand: the rest is waited for again, record by
  // record as the terminal delivers them, so a slow terminal is not cut off.
  LoopbackPeer peer([](PeerConnection& c) {
    c.receive(10, 3000);
    c.send(count(2) + first + second.substr(0, 10));
    c.pause(400);
    c.send(second.substr(10));
    waitForDriverClose(c);
  });
  Zq::Zq870 driver;
  ASSERT_TRUE(driver.connect(applicationSettings(peer.port(), 50)));
  EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));
  EXPECT_EQ(ZqTest::readFile(path), firstLine + secondLine);
  EXPECT_TRUE(log.messagesAt("[ERROR] ").empty());
  // 400 ms of silence outlast one series of five 50 ms waits, and part of the next.
  const std::vector<std::string> warnings = log.messagesAt("[WARNING] ");
  EXPECT_GE(warnings.size(), 5u);
  EXPECT_LT(warnings.size(), 10u);
}

TEST_F(Zq870DialogueTest, BrokenStreamKeepsTheLinesAlreadyWritten) {
  LoopbackPeer peer([](PeerConnection& c) {
    c.receive(10, 3000);
    c.send(count(3) + first + second.substr(0, 13));
  });
  {
    Zq::Zq870 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  EXPECT_EQ(log.messagesAt("[ERROR] "), std::vector<std::string>{"Zq870::dump(): Can't read terminal response"});
  EXPECT_EQ(ZqTest::readFile(path), firstLine);
}

TEST_F(Zq870DialogueTest, CountIsUnsignedAndTheDownloadRunsUntilTheStreamStops) {
  // FF FF FF FF announces 4294967295 records, not -1; the terminal then falls silent.
  LoopbackPeer peer([](PeerConnection& c) {
    c.receive(10, 3000);
    c.send(std::string(4, '\xFF') + first + second);
    waitForDriverClose(c);
  });
  {
    Zq::Zq870 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port(), 40)));
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  EXPECT_EQ(log.messagesAt("[ERROR] "), std::vector<std::string>{"Zq870::dump(): Can't read terminal response"});
  EXPECT_EQ(ZqTest::readFile(path), firstLine + secondLine);
}

TEST_F(Zq870DialogueTest, CountIsBigEndian) {
  // 01 00 00 00 announces 16777216 records, not 1: after two the stream ends.
  LoopbackPeer peer([](PeerConnection& c) {
    c.receive(10, 3000);
    c.send(std::string("\x01\0\0\0", 4) + first + second);
  });
  {
    Zq::Zq870 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  EXPECT_EQ(ZqTest::readFile(path), firstLine + secondLine);
}

TEST_F(Zq870DialogueTest, ShortCountIsAReadFailure) {
  LoopbackPeer peer([](PeerConnection& c) {
    c.receive(10, 3000);
    c.send(std::string("\0\0", 2));
  });
  {
    Zq::Zq870 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  EXPECT_EQ(log.messagesAt("[ERROR] "), std::vector<std::string>{"Zq870::dump(): Can't read terminal response"});
  EXPECT_EQ(ZqTest::readFile(path), "");
}

#ifdef __linux__
// A full disk: the download fails, and stops as soon as the stream reports the failure
// instead of draining the terminal's whole memory first.
TEST_F(Zq870DialogueTest, FullDiskStopsTheDownloadEarly) {
  const uint32_t records = 20000;
  LoopbackPeer peer([&](PeerConnection& c) {
    c.receive(10, 3000);
    std::string stream = count(records);
    for (uint32_t i = 0; i < records; ++i) stream += first;
    c.send(stream);
    waitForDriverClose(c);
  });
  Zq::Zq870 driver;
  ASSERT_TRUE(driver.connect(applicationSettings(peer.port(), 40)));
  TempDir dir;
  const std::string path = dir.file("full.txt");
  {
    ZqTest::FileSizeLimit full(8192);
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  EXPECT_EQ(log.messagesAt("[ERROR] "), std::vector<std::string>{"Zq870::dump(): Can't write file " + path});
  EXPECT_EQ(ZqTest::readFile(path), "");
  uint8_t next[Zq::Zq870::RecordSize];
  EXPECT_EQ(driver.socket.recvTimeout(next, Zq::Zq870::RecordSize, 40, 5), Zq::Zq870::RecordSize);
  driver.disconnect();
}

TEST_F(Zq870DialogueTest, FailedFlushAtTheEndFailsTheDownload) {
  // Fewer lines than the stream's buffer holds, more than the disk takes: nothing fails before
  // the flush at the end.
  const uint32_t records = 400;
  LoopbackPeer peer([&](PeerConnection& c) {
    c.receive(10, 3000);
    std::string stream = count(records);
    for (uint32_t i = 0; i < records; ++i) stream += first;
    c.send(stream);
    waitForDriverClose(c);
  });
  Zq::Zq870 driver;
  ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
  TempDir dir;
  const std::string path = dir.file("full.txt");
  {
    ZqTest::FileSizeLimit full(8192);
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  EXPECT_EQ(log.messagesAt("[ERROR] "), std::vector<std::string>{"Zq870::dump(): Can't write file " + path});
}
#endif

namespace {

struct ReplyCase {
  std::vector<std::string> segments;
  bool confirmed;
};

}  // namespace

namespace {

// The terminal's side of a download of `records` (the first record each), before the clearing.
void serveDownload(PeerConnection& c, uint32_t records = 1, const std::string& extra = std::string()) {
  c.receive(10, 3000);
  std::string stream = count(records);
  for (uint32_t i = 0; i < records; ++i) stream += first;
  c.send(stream + extra);
}

// A download saved into `dir`, as the clearing needs one first.
void download(Zq::Zq870& driver, TempDir& dir) { ASSERT_TRUE(driver.dump(dir.file("data.txt"), Zq::CardAsIs)); }

}  // namespace

// Records are cleared only when they are saved, and only on a connection in step: a download of no
// records clears nothing, nor does one after which the terminal sent more than it announced.
TEST_F(Zq870DialogueTest, ClearingFollowsOnlyASavedDownloadInStep) {
  struct Case {
    const char* name;
    bool downloads;
    uint32_t records;
    std::string extra;
    bool result;
    std::string received;
  };
  const std::vector<Case> cases = {
      {"no download", false, 0, "", false, ""},
      {"no records", true, 0, "", true, "GETLOGDATA"},
      {"one record more than announced", true, 1, third, false, "GETLOGDATA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture caseLog;
    LoopbackPeer peer([&](PeerConnection& p) {
      if (c.downloads) serveDownload(p, c.records, c.extra);
      waitForDriverClose(p);
    });
    {
      TempDir dir;
      Zq::Zq870 driver;
      ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
      if (c.downloads) download(driver, dir);
      EXPECT_EQ(driver.reset(), c.result);
    }
    peer.waitDone();
    EXPECT_EQ(peer.received(), c.received);
  }
}

// Each reply on its own connection, with its own log.
TEST(Zq870ClearLogTest, RepliesEndTheWaitAndDecide) {
  const std::vector<ReplyCase> cases = {
      {{"OK"}, true},  {{"OKAY"}, true},         {{"CLEARLOG_OK"}, true},
      {{"NO"}, false}, {{"CLEARLOG_NO"}, false}, {{"CLEAR", "LOG_OK"}, true},
  };
  for (const ReplyCase& reply : cases) {
    SCOPED_TRACE(reply.segments.front());
    LogCapture caseLog;
    LoopbackPeer peer([&](PeerConnection& c) {
      serveDownload(c);
      c.receive(8, 3000);
      for (size_t i = 0; i < reply.segments.size(); ++i) {
        if (i != 0) c.pause(100);
        c.send(reply.segments[i]);
      }
      waitForDriverClose(c);
    });
    {
      TempDir dir;
      Zq::Zq870 driver;
      ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
      download(driver, dir);
      EXPECT_EQ(driver.reset(), reply.confirmed);
      EXPECT_EQ(driver.pendingCommand, Zq::Zq870::PendingClearLog);
    }
    peer.waitDone();
    EXPECT_EQ(peer.received(), "GETLOGDATACLEARLOG");
    // The reply's own content ended the wait: no receive wait ran out.
    EXPECT_TRUE(caseLog.messagesAt("[WARNING] ").empty());
    const std::vector<std::string> errors = caseLog.messagesAt("[ERROR] ");
    if (reply.confirmed) EXPECT_TRUE(errors.empty());
    else EXPECT_EQ(errors, std::vector<std::string>{"Zq870::reset(): Can't clean up data"});
  }
}

TEST_F(Zq870DialogueTest, SetTimeSendsTheLocalClockAndAcceptsOk) {
  for (const std::string reply : {"SETTIME_OK", "OK"}) {
    SCOPED_TRACE(reply);
    LoopbackPeer peer([&](PeerConnection& c) {
      c.receive(23, 3000);
      c.send(reply);
      waitForDriverClose(c);
    });
    {
      Zq::Zq870 driver;
      ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
      EXPECT_TRUE(driver.updateDateTime());
      EXPECT_EQ(driver.pendingCommand, Zq::Zq870::PendingSetTime);
    }
    peer.waitDone();
    const std::string request = peer.received();
    ASSERT_EQ(request.size(), 23u);
    EXPECT_EQ(request.substr(0, 9), "SETTIME00");
    EXPECT_EQ(request.substr(9).find_first_not_of("0123456789"), std::string::npos) << request;
    const int month = std::stoi(request.substr(13, 2));
    const int day = std::stoi(request.substr(15, 2));
    EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31) << request;
  }
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(Zq870DialogueTest, ClockThatCouldNotBeReadIsNeverSent) {
  LoopbackPeer peer([](PeerConnection& c) { waitForDriverClose(c); });
  {
    Zq::Zq870 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_FALSE(driver.setDateTime(Common::LocalTime()));
    const Common::LocalTime thirteenthMonth{2026, 13, 1, 0, 0, 0};
    EXPECT_FALSE(driver.setDateTime(thirteenthMonth));
  }
  peer.waitDone();
  EXPECT_EQ(peer.received(), "");
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            std::vector<std::string>(2, "Zq870::updateDateTime(): Can't prepare command <SETTIME>"));
}

TEST_F(Zq870DialogueTest, SetTimeReplyWithoutOkOrNoWaitsUntilTheWaitsRunOut) {
  LoopbackPeer peer([](PeerConnection& c) {
    c.receive(23, 3000);
    c.send("BUSY");
    waitForDriverClose(c);
  });
  {
    Zq::Zq870 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_FALSE(driver.updateDateTime());
  }
  peer.waitDone();
  // One read-time-out warning per attempt, then the rejection.
  EXPECT_EQ(log.messagesAt("[WARNING] ").size(), 5u);
  EXPECT_EQ(log.messagesAt("[ERROR] "), std::vector<std::string>{"Zq870::updateDateTime(): Can't update date/time"});
}

TEST_F(Zq870DialogueTest, SilentTerminalIsAReadFailure) {
  LoopbackPeer peer([](PeerConnection& c) {
    serveDownload(c);
    c.receive(8, 3000);
    waitForDriverClose(c);
  });
  {
    TempDir dir;
    Zq::Zq870 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port(), 40)));
    download(driver, dir);
    EXPECT_FALSE(driver.reset());
  }
  peer.waitDone();
  EXPECT_EQ(log.messagesAt("[ERROR] "), std::vector<std::string>{"Zq870::reset(): Can't read terminal response"});
}
