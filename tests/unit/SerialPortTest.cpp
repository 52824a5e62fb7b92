// The serial port and connection behaviour that needs no device: names, error texts, the
// speed table, and the failures of a port that is missing or not open.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Common/SerialPort.h"
#include "LogCapture.h"
#include "Zq/Command.h"
#include "Zq/Terminal.h"

namespace Common {
// Reaches the message cutting, which a real system rarely exercises in all its forms.
struct SerialPortTestAccess {
  static std::string cut(const std::string& message) { return SerialPort::cutSystemMessage(message); }
  // Names a port that was never created, as the messages of a closed port name it.
  static void name(SerialPort& port, const char* name) { std::snprintf(port.name, sizeof port.name, "%s", name); }
};
}  // namespace Common

namespace {

using Common::SerialPort;

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// "<prefix>err => <number> (<text>)" with a non-zero number and a cut, non-empty text.
void expectSystemError(const std::string& message, const std::string& prefix) {
  SCOPED_TRACE(message);
  ASSERT_TRUE(startsWith(message, prefix + "err => "));
  const std::string rest = message.substr(prefix.size() + 7);
  const size_t open = rest.find(" (");
  ASSERT_NE(open, std::string::npos);
  EXPECT_NE(std::atoi(rest.substr(0, open).c_str()), 0);
  ASSERT_EQ(rest.back(), ')');
  const std::string text = rest.substr(open + 2, rest.size() - open - 3);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.find('\n'), std::string::npos);
}

TEST(SerialPortTest, SystemMessagesAreCutAtTheirLastFullStopOrElseTheirFirstCarriageReturn) {
  using Common::SerialPortTestAccess;
  EXPECT_EQ(SerialPortTestAccess::cut("The system cannot find the file specified.\r\n"),
            "The system cannot find the file specified");
  EXPECT_EQ(SerialPortTestAccess::cut("Access is denied\r\n"), "Access is denied");
  EXPECT_EQ(SerialPortTestAccess::cut("Line one\rline two.\r\n"), "Line one\rline two");
  EXPECT_EQ(SerialPortTestAccess::cut("Version 1.2 failed. Try again.\r\n"), "Version 1.2 failed. Try again");
  EXPECT_EQ(SerialPortTestAccess::cut("No such file or directory"), "No such file or directory");
  EXPECT_EQ(SerialPortTestAccess::cut(""), "");
}

TEST(SerialPortTest, DevicePathReachesEveryPortNumber) {
#ifdef _WIN32
  EXPECT_EQ(SerialPort::devicePath("COM3"), "\\\\.\\COM3");
  EXPECT_EQ(SerialPort::devicePath("COM255"), "\\\\.\\COM255");
#else
  if (std::getenv("ZQ_COMPORT_DIR") != nullptr) GTEST_SKIP() << "ZQ_COMPORT_DIR redirects the ports";
  EXPECT_EQ(SerialPort::devicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(SerialPort::devicePath("COM255"), "/dev/ttyS254");
#endif
}

TEST(SerialPortTest, CreateFormsTheNameFromTheLowEightBits) {
  ZqTest::LogCapture log;
  SerialPort port;
  // Whether or not such a device exists here, the name is formed first.
  port.create(255);
  EXPECT_STREQ(port.portName(), "COM255");
  EXPECT_EQ(port.portNumber(), 255);
  port.create(0x1FF);
  EXPECT_STREQ(port.portName(), "COM255");
  EXPECT_EQ(port.portNumber(), 0x1FF);
}

TEST(SerialPortTest, MissingPortFailsWithItsErrorAndThenClosesQuietly) {
  ZqTest::LogCapture log;
  SerialPort port;
  // 256 keeps only its low eight bits: COM0, which no system has.
  EXPECT_FALSE(port.create(256));
  EXPECT_STREQ(port.portName(), "COM0");
  EXPECT_FALSE(port.isOpen());
  const std::vector<std::string> errors = log.messagesAt("[ERROR] ");
  ASSERT_EQ(errors.size(), 1u);
  expectSystemError(errors[0], "SerialPort::open(): Can't open COM0 port, ");
  EXPECT_TRUE(port.close());
  EXPECT_EQ(log.lines().size(), 1u);
}

TEST(SerialPortTest, ClosedPortClosesWithoutALogLine) {
  ZqTest::LogCapture log;
  SerialPort port;
  EXPECT_TRUE(port.close());
  EXPECT_TRUE(port.close());
  EXPECT_TRUE(log.lines().empty());
}

TEST(SerialPortTest, TransfersOnAClosedPortFailAndSayWhy) {
  ZqTest::LogCapture log;
  SerialPort port;
  Common::SerialPortTestAccess::name(port, "COM4");
  const uint8_t data[] = {0x02, 0x0D};
  uint8_t buffer[SerialPort::ReadChunk];
  EXPECT_EQ(port.send(data, 2), 0);
  EXPECT_EQ(port.recv(buffer), 0);
  EXPECT_FALSE(port.flushBuffers());
  Zq::Command reply;
  EXPECT_EQ(port.recvTimeout(reply), -1);
  const std::vector<std::string> errors = log.messagesAt("[ERROR] ");
  ASSERT_EQ(errors.size(), 5u);
  expectSystemError(errors[0], "SerialPort::send(): WriteFile(): ");
  expectSystemError(errors[1], "SerialPort::recv(): ReadFile(): ");
  expectSystemError(errors[2], "SerialPort::flushBuffers(): Can't flush buffers for serial port COM4, ");
  // A failed read inside a receive is reported by both, with the same error.
  expectSystemError(errors[3], "SerialPort::recv(): ReadFile(): ");
  expectSystemError(errors[4], "SerialPort::recvTimeout(): ");
  EXPECT_EQ(errors[3].substr(errors[3].find("err => ")), errors[4].substr(errors[4].find("err => ")));
}

TEST(COMConnectionTest, SpeedTableTakesTheFirstSpeedAtOrAboveTheRequest) {
  EXPECT_EQ(Zq::selectBaudRate(38400), 38400u);
  EXPECT_EQ(Zq::selectBaudRate(40000), 56000u);
  EXPECT_EQ(Zq::selectBaudRate(0), 110u);
  EXPECT_EQ(Zq::selectBaudRate(14401), 19200u);
  EXPECT_EQ(Zq::selectBaudRate(256000), 256000u);
  EXPECT_EQ(Zq::selectBaudRate(256001), 115200u);
  EXPECT_EQ(Zq::selectBaudRate(300000), 115200u);
  EXPECT_EQ(Zq::selectBaudRate(0xFFFFFFFFu), 115200u);
}

TEST(COMConnectionTest, TerminalOperationsAreNotImplementedByDefault) {
  ZqTest::LogCapture log;
  Zq::COMConnection connection;
  EXPECT_FALSE(connection.reset());
  EXPECT_FALSE(connection.updateDateTime());
  EXPECT_FALSE(connection.dump("unused.txt", Zq::CardAsIs));
  EXPECT_EQ(log.messages(), (std::vector<std::string>{"[WARNING] COMConnection::reset(): Not Implemented",
                                                      "[WARNING] COMConnection::updateDateTime(): Not Implemented",
                                                      "[WARNING] COMConnection::dump(): Not Implemented"}));
}

TEST(COMConnectionTest, ConnectToAMissingPortFailsAndKeepsTheSettings) {
  ZqTest::LogCapture log;
  Zq::COMConnection connection;
  Zq::COMSettings settings;
  settings.port = 256;
  settings.baudRate = 38400;
  EXPECT_FALSE(connection.connect(settings));
  EXPECT_EQ(connection.settings.port, 256);
  EXPECT_EQ(connection.settings.baudRate, 38400u);
  const std::vector<std::string> errors = log.messagesAt("[ERROR] ");
  ASSERT_EQ(errors.size(), 2u);
  expectSystemError(errors[0], "SerialPort::open(): Can't open COM0 port, ");
  EXPECT_EQ(errors[1], "COMConnection::connect(): Can't create serial port COM256");
}

TEST(COMConnectionTest, SendAfterAFailedFlushWritesNothing) {
  ZqTest::LogCapture log;
  Zq::COMConnection connection;
  Zq::Command request;
  request.appendText(ZqTest::stx("11RN\r"));
  EXPECT_EQ(connection.send(request), 0);  // a failure, as a failed write: -1 is "nothing in time"
  const std::vector<std::string> errors = log.messagesAt("[ERROR] ");
  // The flush fails, the connection says so, and no write is attempted (it would log too).
  ASSERT_EQ(errors.size(), 2u);
  expectSystemError(errors[0], "SerialPort::flushBuffers(): Can't flush buffers for serial port , ");
  EXPECT_EQ(errors[1], "COMConnection::send(): Can't flush buffers");
}

}  // namespace
