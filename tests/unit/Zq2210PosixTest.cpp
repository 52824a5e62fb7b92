// The 2210 dialogues end to end over a pseudo-terminal: the driver opens the slave as COM7,
// a scripted terminal on the master side answers each complete request and keeps the exact
// bytes it received.
#include <gtest/gtest.h>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "PosixFileSizeLimit.h"
#include "PosixPseudoTerminal.h"
#include "Zq/Zq2210.h"

using Zq::Zq2210;
using ZqTest::stx;
using Strings = std::vector<std::string>;

namespace {

const std::string Accepted = stx("11A\r");

std::string reply(const std::string& codeAndData) { return stx("11") + codeAndData + "\r"; }

// The terminal's side of the line. `answer` gets each request without its STX and CR
// ("11RG12") and returns the bytes to write back; an empty answer leaves the line silent.
class ScriptedTerminal {
public:
  using Answer = std::function<std::string(const std::string& request)>;

  ScriptedTerminal(ZqTest::PosixPseudoTerminal& line, Answer answer) : line_(line), answer_(std::move(answer)) {
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptedTerminal() {
    stop_ = true;
    thread_.join();
  }

  // Every request received so far, exactly as it came over the line.
  Strings rawRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // The same without the frame; a request that is not framed STX "..." CR shows as "BAD:".
  Strings requests() const {
    Strings result;
    for (const std::string& raw : rawRequests()) {
      if (raw.size() >= 2 && raw.front() == '\x02' && raw.back() == '\r') {
        result.push_back(raw.substr(1, raw.size() - 2));
      } else {
        result.push_back("BAD:" + raw);
      }
    }
    return result;
  }

private:
  void run() {
    std::string pending;
    while (!stop_) {
      pollfd fd = {line_.master(), POLLIN, 0};
      const int ready = ::poll(&fd, 1, 10);
      if (ready <= 0 || (fd.revents & POLLIN) == 0) {
        // A hang-up or an error: wait instead of spinning.
        if (ready > 0) ::usleep(2000);
        continue;
      }
      char buffer[4096];
      const ssize_t got = ::read(line_.master(), buffer, sizeof buffer);
      if (got <= 0) {
        ::usleep(2000);
        continue;
      }
      pending.append(buffer, static_cast<size_t>(got));
      // Only complete requests are answered.
      for (size_t end = pending.find('\r'); end != std::string::npos; end = pending.find('\r')) {
        const std::string raw = pending.substr(0, end + 1);
        pending.erase(0, end + 1);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(raw);
        }
        const std::string request = raw.size() >= 2 ? raw.substr(1, raw.size() - 2) : raw;
        line_.write(answer_(request));
      }
    }
  }

  ZqTest::PosixPseudoTerminal& line_;
  Answer answer_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  Strings requests_;
  std::thread thread_;
};

// A terminal that holds `records` and accepts every command; `overrides` replaces the answer
// to the named requests ("11RA", "11RG2").
ScriptedTerminal::Answer terminalWith(const Strings& records,
                                      const std::map<std::string, std::string>& overrides = {}) {
  return [records, overrides](const std::string& request) -> std::string {
    const auto special = overrides.find(request);
    if (special != overrides.end()) return special->second;
    if (request == "11RN") return reply("A" + std::to_string(records.size()));
    if (request.compare(0, 4, "11RG") == 0) {
      const size_t index = std::strtoul(request.c_str() + 4, nullptr, 10);
      return index < records.size() ? reply("A" + records[index]) : reply("N");
    }
    return Accepted;
  };
}

// The pseudo-terminal's slave is COM7 to the driver.
class Zq2210DialogueTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(line.ok());
    // Raw from the start: nothing is echoed back before the driver configures the line.
    termios raw;
    ASSERT_EQ(::tcgetattr(line.slave(), &raw), 0);
    ::cfmakeraw(&raw);
    ASSERT_EQ(::tcsetattr(line.slave(), TCSANOW, &raw), 0);
  }

  void connect(Zq2210& driver) {
    Zq::COMSettings settings;
    settings.port = 7;
    settings.baudRate = 38400;
    ASSERT_TRUE(driver.connect(settings));
  }

  static Common::LocalTime eighthOfDecember() { return Common::LocalTime{2026, 12, 8, 8, 49, 25}; }

  // A saved download of `records`: what the clearing dialogue needs before it clears anything.
  void download(Zq2210& driver, const Strings& records) {
    ScriptedTerminal terminal(line, terminalWith(records));
    ASSERT_TRUE(driver.dump(dir.file("saved.txt"), Zq::CardAsIs));
  }

  ZqTest::TempDir dir;
  ZqTest::PosixPseudoTerminal line{7};
};

const Strings FiveRecords = {"1\t05-01-2026\t07:58:12\tX0012AB34\t3", "2\t05-01-2026\t12:01:40\tX0012AB34\t0",
                             "3\t05-01-2026\t12:44:03\tX00A1B2C3\t1", "4\t05-01-2026\t17:15:59\tX0012AB34\t12",
                             "1\t06-01-2026\t07:55:00\tX00A1B2C3\t3"};

TEST_F(Zq2210DialogueTest, DownloadFetchesEveryRecordInOrder) {
  Zq2210 driver;
  connect(driver);
  const std::string path = dir.file("out.txt");
  // What the file holds when each acknowledgement arrives: the record's line is already there
  // (under the name the lines have until the download is saved).
  std::vector<size_t> sizeAtAcknowledgement;
  const ScriptedTerminal::Answer records = terminalWith({FiveRecords[0], FiveRecords[1], FiveRecords[2]});
  ScriptedTerminal terminal(line, [&](const std::string& request) {
    if (request == "11RH") sizeAtAcknowledgement.push_back(ZqTest::readFile(dir.file(".out.txt.zq-tmp")).size());
    return records(request);
  });
  ZqTest::LogCapture log;

  EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));

  EXPECT_EQ(terminal.requests(),
            (Strings{"11LI", "11RA", "11RN", "11RG0", "11RH", "11RG1", "11RH", "11RG2", "11RH", "11LO"}));
  EXPECT_EQ(terminal.rawRequests().at(3), stx("11RG0\r"));
  EXPECT_EQ(ZqTest::readFile(path),
            "0012AB34\t1\t05.01.2026\t07:58:12\t03\r\n"
            "0012AB34\t2\t05.01.2026\t12:01:40\t00\r\n"
            "00A1B2C3\t3\t05.01.2026\t12:44:03\t01\r\n");
  EXPECT_EQ(sizeAtAcknowledgement, (std::vector<size_t>{35, 70, 105}));
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(Zq2210DialogueTest, DownloadPassesTheCardFormatThrough) {
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith({FiveRecords[2]}));
  const std::string path = dir.file("out.txt");
  EXPECT_TRUE(driver.dump(path, Zq::CardDecimal));
  EXPECT_EQ(ZqTest::readFile(path), "0161178195\t3\t05.01.2026\t12:44:03\t01\r\n");
}

TEST_F(Zq2210DialogueTest, RefusedLogInSendsNothingElse) {
  Zq2210 driver;
  connect(driver);
  download(driver, {FiveRecords[0]});
  ScriptedTerminal terminal(line, terminalWith(FiveRecords, {{"11LI", reply("D")}}));
  const std::string path = dir.file("out.txt");
  {
    ZqTest::LogCapture log;
    EXPECT_FALSE(driver.reset());
    EXPECT_EQ(log.messagesAt("[ERROR] ").back(), "Zq2210::reset(): Can't log in the terminal");
  }
  {
    ZqTest::LogCapture log;
    EXPECT_FALSE(driver.setDateTime(eighthOfDecember()));
    EXPECT_EQ(log.messagesAt("[ERROR] ").back(), "Zq2210::updateDateTime(): Can't log in the terminal");
  }
  {
    ZqTest::LogCapture log;
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
    EXPECT_EQ(log.messagesAt("[ERROR] "), (Strings{"Zq2210::cmd_li(): err => 44H, Access denied, RPL=02 31 31 44 0D",
                                                   "Zq2210::dump(): Can't log in the terminal"}));
    EXPECT_TRUE(ZqTest::fileExists(path));
    EXPECT_EQ(ZqTest::readFile(path), "");
  }
  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11LI", "11LI"}));
}

// The log-out is refused in the tests of the closing order, so that its own error line
// shows where it happened among the dialogue's messages.
TEST_F(Zq2210DialogueTest, RefusedReadTransactionLogsThenLogsOut) {
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith(FiveRecords, {{"11RA", reply("B")}, {"11LO", reply("F")}}));
  ZqTest::LogCapture log;
  const std::string path = dir.file("out.txt");

  EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));

  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11RA", "11LO"}));
  EXPECT_EQ(log.messages(), (Strings{"[ERROR] Zq2210::cmd_ra(): err => 42H, Busy, RPL=02 31 31 42 0D",
                                     "[ERROR] Zq2210::dump(): Can't close read transaction",
                                     "[ERROR] Zq2210::cmd_lo(): err => 46H, Command execution failed, "
                                     "RPL=02 31 31 46 0D"}));
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST_F(Zq2210DialogueTest, EmptyTerminalIsACompleteDownloadOfNoRecords) {
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith({}, {{"11RN", reply("A0")}}));
  ZqTest::LogCapture log;
  const std::string path = dir.file("out.txt");
  {
    std::FILE* old = std::fopen(path.c_str(), "wb");
    ASSERT_NE(old, nullptr);
    std::fputs("an earlier download\r\n", old);
    std::fclose(old);
  }

  EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));

  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11RA", "11RN", "11LO"}));
  EXPECT_EQ(log.messages(), (Strings{"[WARNING] Zq2210::dump(): No data for read"}));
  EXPECT_TRUE(ZqTest::fileExists(path));
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST_F(Zq2210DialogueTest, CountThatIsNotANumberFailsAfterTheLogOut) {
  const std::string refusedLogOut =
      "[ERROR] Zq2210::cmd_lo(): err => 46H, Command execution failed, RPL=02 31 31 46 0D";
  struct Case {
    const char* what;
    std::string countReply;
    Strings before;  // what the count itself logs
  };
  const std::vector<Case> cases = {
      {"non-numeric",
       reply("Aabc"),
       {"[ERROR] Zq2210::cmd_rn(): Invalid terminal response, RPL=02 31 31 41 61 62 63 0D"}},
      {"negative", reply("A-3"), {"[ERROR] Zq2210::cmd_rn(): Invalid terminal response, RPL=02 31 31 41 2D 33 0D"}},
      {"empty", reply("A"), {"[ERROR] Zq2210::cmd_rn(): Invalid terminal response, RPL=02 31 31 41 0D"}},
      {"refused",
       reply("N"),
       {"[ERROR] Zq2210::cmd_rn(): err => 4EH, Command is not applicable or data not available, "
        "RPL=02 31 31 4E 0D"}},
      // No end byte: the line falls silent after four bytes.
      {"cut short", stx("11A"), {"[ERROR] Zq2210::cmd_rn(): Invalid terminal response, RPL=02 31 31 41"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Zq2210 driver;
    connect(driver);
    ScriptedTerminal terminal(line, terminalWith(FiveRecords, {{"11RN", c.countReply}, {"11LO", reply("F")}}));
    ZqTest::LogCapture log;
    const std::string path = dir.file("out.txt");

    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));

    EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11RA", "11RN", "11LO"}));
    Strings expected = c.before;
    expected.push_back(refusedLogOut);
    expected.push_back("[WARNING] Zq2210::dump(): No data for read");
    EXPECT_EQ(log.messages(), expected);
    EXPECT_TRUE(ZqTest::fileExists(path));
    EXPECT_EQ(ZqTest::readFile(path), "");
  }
}

TEST_F(Zq2210DialogueTest, FailedRecordEmptiesTheFileAndLogsOut) {
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith(FiveRecords, {{"11RG2", reply("N")}, {"11LO", reply("F")}}));
  ZqTest::LogCapture log;
  const std::string path = dir.file("out.txt");

  EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));

  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11RA", "11RN", "11RG0", "11RH", "11RG1", "11RH", "11RG2", "11LO"}));
  EXPECT_EQ(log.messages(),
            (Strings{"[ERROR] Zq2210::cmd_rg(): err => 4EH, Command is not applicable or data not available, "
                     "RPL=02 31 31 4E 0D",
                     "[ERROR] Zq2210::dumpRecord(): Empty record",
                     "[ERROR] Zq2210::cmd_lo(): err => 46H, Command execution failed, RPL=02 31 31 46 0D",
                     "[ERROR] Zq2210::dump(): Can't get record 2"}));
  EXPECT_TRUE(ZqTest::fileExists(path));
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST_F(Zq2210DialogueTest, AcceptedRecordWithoutDataIsAnEmptyRecord) {
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith(FiveRecords, {{"11RG1", Accepted}}));
  ZqTest::LogCapture log;
  const std::string path = dir.file("out.txt");

  EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));

  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11RA", "11RN", "11RG0", "11RH", "11RG1", "11LO"}));
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            (Strings{"Zq2210::dumpRecord(): Empty record", "Zq2210::dump(): Can't get record 1"}));
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST_F(Zq2210DialogueTest, RefusedAcknowledgementDoesNotStopTheDownload) {
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith({FiveRecords[0], FiveRecords[1]}, {{"11RH", reply("E")}}));
  ZqTest::LogCapture log;
  const std::string path = dir.file("out.txt");

  EXPECT_TRUE(driver.dump(path, Zq::CardAsIs));

  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11RA", "11RN", "11RG0", "11RH", "11RG1", "11RH", "11LO"}));
  EXPECT_EQ(log.messagesAt("[ERROR] "), (Strings{"Zq2210::cmd_rh(): err => 45H, End, RPL=02 31 31 45 0D",
                                                 "Zq2210::cmd_rh(): err => 45H, End, RPL=02 31 31 45 0D"}));
  EXPECT_EQ(ZqTest::readFile(path),
            "0012AB34\t1\t05.01.2026\t07:58:12\t03\r\n"
            "0012AB34\t2\t05.01.2026\t12:01:40\t00\r\n");
}

TEST_F(Zq2210DialogueTest, SilentTerminalIsAReadFailure) {
  Zq2210 driver;
  connect(driver);
  download(driver, {FiveRecords[0]});
  ScriptedTerminal terminal(line, [](const std::string&) { return std::string(); });
  ZqTest::LogCapture log;

  EXPECT_FALSE(driver.reset());

  EXPECT_EQ(terminal.requests(), (Strings{"11LI"}));
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            (Strings{"Zq2210::cmd_li(): Can't read terminal response", "Zq2210::reset(): Can't log in the terminal"}));
}

// A reply cut before its code is rejected like any other failed reply.
TEST_F(Zq2210DialogueTest, ReplyWithoutCodeFailsTheCommand) {
  Zq2210 driver;
  connect(driver);
  download(driver, {FiveRecords[0]});
  ScriptedTerminal terminal(line, terminalWith({}, {{"11RI", stx("1\r")}}));
  ZqTest::LogCapture log;

  EXPECT_FALSE(driver.reset());

  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11RN", "11RI", "11LO"}));
  EXPECT_EQ(log.messagesAt("[ERROR] "), (Strings{"Zq2210::cmd_ri(): Invalid terminal response, RPL=02 31 0D"}));
}

// The count is asked again before the clearing: records punched since the download are not
// cleared unsaved, and a download of no records clears nothing at all.
TEST_F(Zq2210DialogueTest, ResetClearsOnlyWhatTheDownloadSaved) {
  Zq2210 driver;
  connect(driver);
  download(driver, {FiveRecords[0]});
  {
    ScriptedTerminal terminal(line, terminalWith({FiveRecords[0]}));
    ZqTest::LogCapture log;
    EXPECT_TRUE(driver.reset());
    EXPECT_EQ(terminal.rawRequests(), (Strings{stx("11LI\r"), stx("11RN\r"), stx("11RI\r"), stx("11LO\r")}));
    EXPECT_TRUE(log.lines().empty());
  }
  {
    ScriptedTerminal terminal(line, terminalWith({FiveRecords[0], FiveRecords[1]}));
    ZqTest::LogCapture log;
    EXPECT_FALSE(driver.reset());
    EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11RN", "11LO"}));
    EXPECT_EQ(log.messages(), (Strings{"[WARNING] Zq2210::reset(): 2 records stored, 1 saved: nothing is cleared"}));
  }
  download(driver, {});
  ScriptedTerminal terminal(line, terminalWith({FiveRecords[0]}));
  EXPECT_TRUE(driver.reset());
  EXPECT_TRUE(terminal.requests().empty());
}

TEST_F(Zq2210DialogueTest, ResetWhoseClearingFailsStillLogsOut) {
  Zq2210 driver;
  connect(driver);
  download(driver, {FiveRecords[0]});
  ScriptedTerminal terminal(line, terminalWith({}, {{"11RI", reply("K")}}));
  ZqTest::LogCapture log;

  EXPECT_FALSE(driver.reset());

  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11RN", "11RI", "11LO"}));
  EXPECT_EQ(log.messagesAt("[ERROR] "), (Strings{"Zq2210::cmd_ri(): err => 4BH, Key violation, RPL=02 31 31 4B 0D"}));
}

TEST_F(Zq2210DialogueTest, ClockIsSetAsDateThenTime) {
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith({}));
  ZqTest::LogCapture log;

  EXPECT_TRUE(driver.setDateTime(eighthOfDecember()));

  const Strings raw = terminal.rawRequests();
  ASSERT_EQ(raw.size(), 4u);
  EXPECT_EQ(raw[0], stx("11LI\r"));
  EXPECT_EQ(raw[1], stx("11IS\"DATE\"0008-12-2026\r"));
  EXPECT_EQ(raw[1].size(), 24u);
  EXPECT_EQ(raw[2], stx("11IS\"TIME\"0008:49:25\r"));
  EXPECT_EQ(raw[2].size(), 22u);
  EXPECT_EQ(raw[3], stx("11LO\r"));
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(Zq2210DialogueTest, ClockFromThePcHasTheItemShapes) {
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith({}));

  EXPECT_TRUE(driver.updateDateTime());

  const Strings requests = terminal.requests();
  ASSERT_EQ(requests.size(), 4u);
  const std::string date = requests[1].substr(std::string("11IS\"DATE\"00").size());
  const std::string time = requests[2].substr(std::string("11IS\"TIME\"00").size());
  EXPECT_EQ(requests[1].compare(0, 12, "11IS\"DATE\"00"), 0);
  EXPECT_EQ(requests[2].compare(0, 12, "11IS\"TIME\"00"), 0);
  ASSERT_EQ(date.size(), 10u);
  ASSERT_EQ(time.size(), 8u);
  EXPECT_TRUE(date[2] == '-' && date[5] == '-') << date;
  EXPECT_TRUE(time[2] == ':' && time[5] == ':') << time;
  const int year = std::atoi(date.c_str() + 6);
  EXPECT_GE(year, 2024) << date;
}

TEST_F(Zq2210DialogueTest, RejectedDateSendsNoTime) {
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith({}, {{"11IS\"DATE\"0008-12-2026", reply("C")}}));
  ZqTest::LogCapture log;

  EXPECT_FALSE(driver.setDateTime(eighthOfDecember()));

  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11IS\"DATE\"0008-12-2026", "11LO"}));
  ASSERT_EQ(log.messagesAt("[ERROR] ").size(), 1u);
  EXPECT_EQ(log.messagesAt("[ERROR] ")[0].rfind("Zq2210::cmd_is(): err => 43H, Check error, RPL=02 31 31 43 0D", 0),
            0u);
}

TEST_F(Zq2210DialogueTest, RejectedTimeFailsTheClockSetting) {
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith({}, {{"11IS\"TIME\"0008:49:25", reply("I")}}));

  EXPECT_FALSE(driver.setDateTime(eighthOfDecember()));

  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11IS\"DATE\"0008-12-2026", "11IS\"TIME\"0008:49:25", "11LO"}));
}

// A full disk takes every write into the stream's buffer and refuses it at the flush, which comes
// before the acknowledgement: the terminal never hears that a record was delivered that was not.
TEST_F(Zq2210DialogueTest, DataFileThatCannotBeFlushedFailsTheDownload) {
  // A record longer than the disk takes (and than the debug log grows meanwhile).
  const std::string longRecord = "1\t05-01-2026\t" + std::string(9000, '7') + "\tX12\t3";
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith({longRecord, FiveRecords[1]}));
  ZqTest::LogCapture log;
  ZqTest::TempDir dir;
  const std::string path = dir.file("full.txt");
  {
    ZqTest::FileSizeLimit full(8192);
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }

  EXPECT_EQ(terminal.requests(), (Strings{"11LI", "11RA", "11RN", "11RG0", "11LO"}));
  EXPECT_EQ(log.messagesAt("[ERROR] "), (Strings{"Zq2210::dump(): Can't write data file " + path}));
  EXPECT_EQ(ZqTest::readFile(path), "");
}

// Records longer than the stream's buffer make a write fail in the middle of the download:
// the record that did not reach the file is not acknowledged and the download ends there.
TEST_F(Zq2210DialogueTest, WriteFailureMidwayStopsBeforeAcknowledging) {
  const std::string longTime(4000, '7');
  Strings records(100, "1\t05-01-2026\t" + longTime + "\tX12\t3");
  Zq2210 driver;
  connect(driver);
  ScriptedTerminal terminal(line, terminalWith(records));
  ZqTest::LogCapture log;
  ZqTest::TempDir dir;
  const std::string path = dir.file("full.txt");
  {
    ZqTest::FileSizeLimit full(40000);
    EXPECT_FALSE(driver.dump(path, Zq::CardAsIs));
  }

  const Strings requests = terminal.requests();
  ASSERT_GE(requests.size(), 5u);
  EXPECT_EQ(requests.back(), "11LO");
  const std::string lastFetch = requests[requests.size() - 2];
  EXPECT_EQ(lastFetch.compare(0, 4, "11RG"), 0) << lastFetch;
  EXPECT_NE(lastFetch, "11RG99");  // it stopped before the end
  EXPECT_EQ(log.messagesAt("[ERROR] "), (Strings{"Zq2210::dump(): Can't write data file " + path}));
}

}  // namespace
