// The 735 driver: record decoding, reply codes, and whole dialogues with a scripted terminal
// on the loopback interface.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Common/File.h"
#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "Zq/Command.h"
#include "Zq/TerminalRecord.h"
#include "Zq/Zq735.h"
#ifdef __linux__
#include "PosixFileSizeLimit.h"
#endif

using ZqTest::LogCapture;
using ZqTest::LoopbackPeer;
using ZqTest::PeerConnection;
using ZqTest::stx;
using ZqTest::TempDir;
using Strings = std::vector<std::string>;

namespace {

// The data-file text that dumpRecord writes for one record text.
std::string decode(const std::string& text, Zq::CardFormat cardFormat = Zq::CardAsIs) {
  TempDir dir;
  const std::string path = dir.file("data.txt");
  Zq::Zq735 driver;
  {
    Common::File file;
    EXPECT_TRUE(Zq::openDataFile(file, path));
    EXPECT_TRUE(driver.dumpRecord(text, file.handle, cardFormat));
    EXPECT_TRUE(Zq::finishDataFile(file));
  }
  return ZqTest::readFile(path);
}

Zq::Command bytes(const std::string& text) {
  Zq::Command command;
  command.appendText(text);
  return command;
}

using ZqTest::applicationSettings;

// A reply in one or more TCP segments, 100 ms apart.
using Reply = std::vector<std::string>;

// Answers each request frame in turn, then holds the connection open until the driver closes.
LoopbackPeer::Script serve(std::vector<Reply> replies) {
  return [replies](PeerConnection& c) {
    for (const Reply& reply : replies) {
      if (c.receiveUntil('\r', 3000).empty()) return;
      for (size_t i = 0; i < reply.size(); ++i) {
        if (i != 0) c.pause(100);
        c.send(reply[i]);
      }
    }
    c.receive(1, 5000);
  };
}

const std::string frameD = stx("D00\r");
const std::string frameN = "\x02N\r";
std::string frameG(int index) {
  char text[16];
  std::snprintf(text, sizeof text, "\x02G%04X\r", index);
  return text;
}

// Accepted replies; "CC" stands for the two bytes before the carriage return that N and G cut off.
const Reply acceptD = {stx("A00\r")};
Reply acceptN(const std::string& hexCount) { return {stx("A") + hexCount + "CC\r"}; }
Reply acceptG(const std::string& record) { return {stx("A") + record + "CC\r"}; }

const std::string sample = "12,0001A2B3,0,2024/01/31,08:15:00";
const std::string sampleLine = "0001A2B3\t2\t31.01.2024\t08:15:00\t00\r\n";

}  // namespace

TEST(Zq735RecordTest, DecodesTheCommaFields) {
  EXPECT_EQ(decode(sample), sampleLine);
  // Fields after the fifth are ignored.
  EXPECT_EQ(decode(sample + ",9,extra"), sampleLine);
  // 00 01 A2 B3 read pair by pair: 0, 1, 162, 179.
  EXPECT_EQ(decode(sample, Zq::CardDecimal), "01162179\t2\t31.01.2024\t08:15:00\t00\r\n");
}

TEST(Zq735RecordTest, EventCodeZeroGivesTwoAnythingElseOne) {
  EXPECT_EQ(decode("1,C,1,2024/01/31,t"), "C\t1\t31.01.2024\tt\t00\r\n");
  EXPECT_EQ(decode("1,C,0,2024/01/31,t"), "C\t2\t31.01.2024\tt\t00\r\n");
  EXPECT_EQ(decode("1,C,5,2024/01/31,t"), "C\t1\t31.01.2024\tt\t00\r\n");
  // No leading digits reads as 0.
  EXPECT_EQ(decode("1,C,X,2024/01/31,t"), "C\t2\t31.01.2024\tt\t00\r\n");
}

TEST(Zq735RecordTest, DatePartsAreReversedAndCutToTenCharacters) {
  EXPECT_EQ(decode("1,C,1,2024/1/5,t"), "C\t1\t5.1.2024\tt\t00\r\n");
  EXPECT_EQ(decode("1,C,1,2024/01/31/99,t"), "C\t1\t31.01.2024\tt\t00\r\n");
  EXPECT_EQ(decode("1,C,1,2024/01/311111,t"), "C\t1\t311111.01.\tt\t00\r\n");
  // Missing parts are empty.
  EXPECT_EQ(decode("1,C,1,2024/01,t"), "C\t1\t.01.2024\tt\t00\r\n");
  EXPECT_EQ(decode("1,C,1,2024,t"), "C\t1\t..2024\tt\t00\r\n");
}

TEST(Zq735RecordTest, MissingFieldsKeepTheirDefaults) {
  EXPECT_EQ(decode("12,0001A2B3"), "0001A2B3\t1\t\t\t00\r\n");
  EXPECT_EQ(decode("12"), "\t1\t\t\t00\r\n");
}

TEST(Zq735RecordTest, EmptyRecordIsRejected) {
  LogCapture log;
  TempDir dir;
  const std::string path = dir.file("data.txt");
  Zq::Zq735 driver;
  Common::File file;
  ASSERT_TRUE(Zq::openDataFile(file, path));
  EXPECT_FALSE(driver.dumpRecord("", file.handle, Zq::CardAsIs));
  EXPECT_TRUE(Zq::finishDataFile(file));
  EXPECT_EQ(ZqTest::readFile(path), "");
  EXPECT_EQ(log.messagesAt("[ERROR] "), Strings{"Zq735::dumpRecord(): Empty record"});
}

TEST(Zq735ReplyTest, CompleteOnceACarriageReturnHasArrived) {
  Zq::Zq735 driver;
  EXPECT_EQ(driver.socket.eventSink(), &driver);
  const auto complete = [&](const std::string& text, int32_t length) {
    return driver.onReceive(reinterpret_cast<const uint8_t*>(text.data()), length);
  };
  EXPECT_TRUE(complete(stx("A00\r"), 5));
  EXPECT_TRUE(complete("\r", 1));
  EXPECT_TRUE(complete(stx("A\rtrailing"), 10));
  EXPECT_FALSE(complete(stx("A00"), 4));
  EXPECT_FALSE(complete("", 0));
  // Only the bytes received so far count.
  EXPECT_FALSE(complete(stx("A00\r"), 4));
}

TEST(Zq735ReplyTest, ErrorCodeIsTheTwoDigitsAfterTheStatus) {
  EXPECT_EQ(Zq::replyErrorCode(bytes(stx("E05\r"))), 5);
  EXPECT_EQ(Zq::replyErrorCode(bytes(stx("E04\r"))), 4);
  EXPECT_EQ(Zq::replyErrorCode(bytes(stx("E12\r"))), 12);
  // Only bytes 2 and 3 are read.
  EXPECT_EQ(Zq::replyErrorCode(bytes(stx("E0699\r"))), 6);
  EXPECT_EQ(Zq::replyErrorCode(bytes(stx("EXY\r"))), 0);
}

TEST(Zq735ReplyTest, ErrorCodeTexts) {
  EXPECT_STREQ(Zq::errorCodeText(4), "Illegal (invalid) command (command code or data is wrong)");
  EXPECT_STREQ(Zq::errorCodeText(6), "Record number is out of range (requested record doesn't exist)");
  EXPECT_STREQ(Zq::errorCodeText(7), "Command failed (hardware problem or invalid internal data)");
  EXPECT_STREQ(Zq::errorCodeText(8), "Log (data) memory is full (this message reply in Extended mode)");
  EXPECT_STREQ(Zq::errorCodeText(9), "Command is denied by terminal (cannot process this command at the moment)");
  for (int32_t code : {0, 1, 5, 10, -4}) EXPECT_STREQ(Zq::errorCodeText(code), "") << code;
}

TEST(Zq735CommandTest, IndexesBeyondFourHexDigitsAreNotSent) {
  for (int32_t index : {65536, -1}) {
    SCOPED_TRACE(index);
    LogCapture log;
    Zq::Zq735 driver;  // not connected: a send would have logged its own failure
    EXPECT_EQ(driver.cmd_g(index), "");
    EXPECT_EQ(log.messagesAt("[ERROR] "), Strings{"Zq735::cmd_g(): Can't prepare command <G>"});
  }
}

TEST(Zq735CommandTest, AbsentClockValueIsRefused) {
  LogCapture log;
  Zq::Zq735 driver;
  EXPECT_FALSE(driver.cmd_s(nullptr));
  EXPECT_EQ(log.messagesAt("[ERROR] "), Strings{"Zq735::cmd_s(): Not specified date/time value"});
}

TEST(Zq735CommandTest, UnwritableFileFailsBeforeAnythingIsSent) {
  LogCapture log;
  TempDir dir;
  const std::string path = dir.file("missing-dir/data.txt");
  Zq::Zq735 driver;
  EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  EXPECT_EQ(log.messagesAt("[ERROR] "), Strings{"Zq735::dump(): Can't open file " + path});
}

class Zq735DialogueTest : public ::testing::Test {
protected:
  LogCapture log;
  TempDir dir;
  const std::string path = dir.file("data.txt");
};

TEST_F(Zq735DialogueTest, CountZeroIsACompleteDownloadOfNoRecords) {
  LoopbackPeer peer(serve({acceptD, acceptN("0000"), acceptN("0000")}));
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  // The count is asked once more at the end, for records punched meanwhile.
  EXPECT_EQ(peer.received(), frameD + frameN + frameN);
  EXPECT_EQ(log.messages(), Strings{"[WARNING] Zq735::dump(): No data for read"});
  ASSERT_TRUE(ZqTest::fileExists(path));
  EXPECT_EQ(ZqTest::readFile(path), "");
  EXPECT_NE(log.lines().back().find(" at Zq\\Zq735:"), std::string::npos);
}

TEST_F(Zq735DialogueTest, ErrorReplyToCountIsLoggedWithItsCode) {
  LoopbackPeer peer(serve({acceptD, {stx("E05\r")}}));
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  EXPECT_EQ(log.messages(), (Strings{"[ERROR] Zq735::cmd_n(): err => 5, , RPL=02 45 30 35 0D",
                                     "[WARNING] Zq735::dump(): No data for read"}));
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST_F(Zq735DialogueTest, SelectReplyWithoutTextFailsTheDownload) {
  LoopbackPeer peer(serve({{stx("A\r")}}));
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  EXPECT_EQ(peer.received(), frameD);
  EXPECT_EQ(log.messages(), Strings{"[ERROR] Zq735::dump(): Can't select designated terminal"});
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST_F(Zq735DialogueTest, RecordsAreFetchedInOrderAndWritten) {
  // A four-byte select reply passes; the first record arrives in two segments; the second
  // has only two fields.
  LoopbackPeer peer(serve({{stx("A0\r")},
                           acceptN("0002"),
                           {stx("A12,0001"), "A2B3,0,2024/01/31,08:15:00CC\r"},
                           acceptG("12,0001A2B3"),
                           acceptN("0002")}));
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  EXPECT_EQ(peer.received(), frameD + frameN + frameG(0) + frameG(1) + frameN);
  EXPECT_EQ(ZqTest::readFile(path), sampleLine + "0001A2B3\t1\t\t\t00\r\n");
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(Zq735DialogueTest, IndexesAreSentAsFourHexDigits) {
  std::vector<Reply> replies = {acceptD, acceptN("0100")};
  for (int i = 0; i < 256; ++i) replies.push_back(acceptG(sample));
  replies.push_back(acceptN("0100"));
  LoopbackPeer peer(serve(replies));
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  const std::string sent = peer.received();
  const std::string last = "\x02G00FF\r" + frameN;
  ASSERT_GE(sent.size(), last.size());
  EXPECT_EQ(sent.substr(sent.size() - last.size()), last);
  EXPECT_NE(sent.find("\x02G000A\r"), std::string::npos);
  std::string expected;
  for (int i = 0; i < 256; ++i) expected += sampleLine;
  EXPECT_EQ(ZqTest::readFile(path), expected);
}

TEST_F(Zq735DialogueTest, RejectedRecordEmptiesTheFile) {
  std::vector<Reply> replies = {acceptD, acceptN("0008")};
  for (int i = 0; i < 7; ++i) replies.push_back(acceptG(sample));
  replies.push_back({stx("E06\r")});
  LoopbackPeer peer(serve(replies));
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  const std::string sent = peer.received();
  EXPECT_EQ(sent.substr(sent.size() - 7), frameG(7));
  EXPECT_EQ(log.messages(),
            (Strings{"[ERROR] Zq735::cmd_g(): err => 6, Record number is out of range (requested record doesn't "
                     "exist), RPL=02 45 30 36 0D",
                     "[ERROR] Zq735::dumpRecord(): Empty record", "[ERROR] Zq735::dump(): Can't get record 7"}));
  ASSERT_TRUE(ZqTest::fileExists(path));
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST_F(Zq735DialogueTest, RepliesTooShortToReadFailTheirCommand) {
  // One byte; a rejection without its code; an accepted count without room for digits.
  LoopbackPeer peer(serve({{"\r"}, {"\x02\r"}, {stx("A0\r")}}));
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_EQ(driver.cmd_n(), -1);
    EXPECT_EQ(driver.cmd_n(), -1);
    EXPECT_EQ(driver.cmd_n(), -1);
  }
  peer.waitDone();
  EXPECT_EQ(log.messages(), (Strings{"[ERROR] Zq735::cmd_n(): Invalid terminal response, RPL=0D",
                                     "[ERROR] Zq735::cmd_n(): Invalid terminal response, RPL=02 0D",
                                     "[ERROR] Zq735::cmd_n(): Invalid terminal response, RPL=02 41 30 0D"}));
}

TEST_F(Zq735DialogueTest, CountThatIsNotHexadecimalDigitsIsRefused) {
  LoopbackPeer peer(serve({acceptN("0x1F"), acceptN(" 12"), acceptN("-1"), acceptN("1G"), acceptN(""), acceptN("fF")}));
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(driver.cmd_n(), -1) << i;
    EXPECT_EQ(driver.cmd_n(), 255);
  }
  peer.waitDone();
  EXPECT_EQ(log.messages(),
            (Strings{"[ERROR] Zq735::cmd_n(): Invalid terminal response, RPL=02 41 30 78 31 46 43 43 0D",
                     "[ERROR] Zq735::cmd_n(): Invalid terminal response, RPL=02 41 20 31 32 43 43 0D",
                     "[ERROR] Zq735::cmd_n(): Invalid terminal response, RPL=02 41 2D 31 43 43 0D",
                     "[ERROR] Zq735::cmd_n(): Invalid terminal response, RPL=02 41 31 47 43 43 0D",
                     "[ERROR] Zq735::cmd_n(): Invalid terminal response, RPL=02 41 43 43 0D"}));
}

TEST_F(Zq735DialogueTest, ReplyWithoutCarriageReturnIsJudgedWhenTheWaitsRunOut) {
  // A selection reply carries nothing to lose and is judged on what arrived; a count cut short
  // would lose digits to the check characters ("12CCX" would read as 0x12 of 0x12CC...), so
  // it is refused.
  LoopbackPeer peer(serve({{stx("A00")}, {stx("A12CCX")}}));
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port(), 40)));
    EXPECT_EQ(driver.cmd_d(), "0");
    EXPECT_EQ(driver.cmd_n(), -1);
  }
  peer.waitDone();
  EXPECT_EQ(log.messagesAt("[WARNING] ").size(), 10u);
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            std::vector<std::string>{"Zq735::cmd_n(): Invalid terminal response, RPL=02 41 31 32 43 43 58"});
}

TEST(Zq735ReplyTest, CountAndRecordRepliesMustEndInTheirCarriageReturn) {
  LogCapture log;
  Zq::Command cut;
  for (char c : std::string(stx("A12,0001A2B3,0,2024/01/31,08:15:00C3"))) cut.append(static_cast<uint8_t>(c));
  EXPECT_FALSE(Zq::Zq735::checkReply('G', 5, cut));
  EXPECT_FALSE(Zq::Zq735::checkReply('N', 5, cut));
  EXPECT_TRUE(Zq::Zq735::checkReply('D', 3, cut));
  cut.append(0x0D);
  EXPECT_TRUE(Zq::Zq735::checkReply('G', 5, cut));
  EXPECT_EQ(log.messagesAt("[ERROR] ").size(), 2u);
}

TEST_F(Zq735DialogueTest, ClockThatCouldNotBeReadIsNeverSent) {
  LoopbackPeer peer(serve({}));
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_FALSE(driver.setDateTime(Common::LocalTime()));
  }
  peer.waitDone();
  EXPECT_EQ(peer.received(), "");
  EXPECT_EQ(log.messages(), Strings{"[ERROR] Zq735::updateDateTime(): Can't prepare the date/time value"});
}

// The erasure follows a saved download, and only when the terminal still holds just the records
// saved: those punched since come again in the next download instead of being erased unsaved.
TEST_F(Zq735DialogueTest, ClockAndEraseCommands) {
  LoopbackPeer peer(serve({acceptD,
                           acceptN("0001"),
                           acceptG(sample),
                           acceptN("0001"),
                           {stx("A\r")},
                           acceptN("0001"),
                           {stx("A\r")},
                           acceptN("0001"),
                           {stx("E09\r")},
                           acceptN("0002")}));
  const std::string download = frameD + frameN + frameG(0) + frameN;
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    EXPECT_FALSE(driver.reset());
    ASSERT_TRUE(driver.dump(path, Zq::CardAsIs));
    EXPECT_TRUE(driver.updateDateTime());
    EXPECT_TRUE(driver.reset());
    EXPECT_FALSE(driver.reset());
    EXPECT_FALSE(driver.reset());
  }
  peer.waitDone();
  const std::string sent = peer.received();
  ASSERT_EQ(sent.size(), download.size() + 17u + 3u * 5);
  EXPECT_EQ(sent.substr(0, download.size()), download);
  const std::string clock = sent.substr(download.size(), 17);
  EXPECT_EQ(clock.substr(0, 2), "\x02S");
  EXPECT_EQ(clock.substr(2, 14).find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(sent.substr(download.size() + 17), frameN + stx("E\r") + frameN + stx("E\r") + frameN);
  EXPECT_EQ(log.messages(), (Strings{"[ERROR] Zq735::reset(): No download saved: nothing is cleared",
                                     "[ERROR] Zq735::cmd_e(): err => 9, Command is denied by terminal (cannot "
                                     "process this command at the moment), RPL=02 45 30 39 0D",
                                     "[WARNING] Zq735::reset(): 2 records stored, 1 saved: nothing is cleared"}));
}

#ifdef __linux__
// A full disk: the download fails, and stops as soon as the stream reports the failure
// instead of fetching every remaining record first.
TEST_F(Zq735DialogueTest, FullDiskStopsTheDownloadEarly) {
  const int records = 3000;
  std::vector<Reply> replies = {acceptD, acceptN("0BB8")};
  for (int i = 0; i < records; ++i) replies.push_back(acceptG(sample));
  LoopbackPeer peer(serve(replies));
  TempDir dir;
  const std::string path = dir.file("full.txt");
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    ZqTest::FileSizeLimit full(8192);
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  const std::string sent = peer.received();
  EXPECT_EQ(sent.find(frameG(records - 1)), std::string::npos);
  EXPECT_EQ(log.messages(), Strings{"[ERROR] Zq735::dump(): Can't write file " + path});
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST_F(Zq735DialogueTest, FailedFlushAtTheEndFailsTheDownload) {
  // Fewer lines than the stream's buffer holds, more than the disk takes: nothing fails before
  // the flush at the end.
  std::vector<Reply> replies = {acceptD, acceptN("0190")};
  for (int i = 0; i < 400; ++i) replies.push_back(acceptG(sample));
  replies.push_back(acceptN("0190"));
  LoopbackPeer peer(serve(replies));
  TempDir dir;
  const std::string path = dir.file("full.txt");
  {
    Zq::Zq735 driver;
    ASSERT_TRUE(driver.connect(applicationSettings(peer.port())));
    ZqTest::FileSizeLimit full(8192);
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }
  peer.waitDone();
  EXPECT_EQ(log.messages(), Strings{"[ERROR] Zq735::dump(): Can't write file " + path});
}
#endif
