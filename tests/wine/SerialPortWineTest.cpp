// The Win32 serial port against a device played by serial-peer.py on the other end of a
// pseudo-terminal, which Wine reaches as COM<ZQ_TEST_COMPORT>. Requests end in a carriage
// return; the peer's answers are listed in serial-peer.py.
#include <gtest/gtest.h>

#include <windows.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Common/SerialPort.h"
#include "LogCapture.h"
#include "SerialOwner.h"
#include "Zq/Command.h"
#include "Zq/Terminal.h"

namespace Common {
// Reaches the device-control block, which alone holds the flags that have no portable form, and
// the device itself, to ask Windows what it applied.
struct SerialPortTestAccess {
  static DCB& block(SerialPort& port) { return *static_cast<DCB*>(port.nativeLine()); }
  static HANDLE device(const SerialPort& port) { return reinterpret_cast<HANDLE>(port.handle); }
};
}  // namespace Common

namespace {

using Common::SerialPort;
using ZqTest::CarriageReturnOwner;
using ZqTest::Clock;
using ZqTest::msSince;
using ZqTest::pause;
using ZqTest::text;

class SerialPortWineTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char* number = std::getenv("ZQ_TEST_COMPORT");
    ASSERT_NE(number, nullptr) << "run through tests/wine/serial-peer.py";
    port = static_cast<unsigned>(std::atoi(number));
    ASSERT_GT(port, 0u);
    name = "COM" + std::to_string(port);
    settings.port = static_cast<int32_t>(port);
    settings.baudRate = 38400;
    ASSERT_TRUE(connection.connect(settings));
  }

  // Sends a request through the connection (which purges first) and checks it all went out.
  void request(const std::string& words) {
    Zq::Command command;
    command.appendText(words + "\r");
    ASSERT_EQ(connection.send(command), static_cast<int32_t>(command.size()));
  }

  unsigned port = 0;
  std::string name;
  ZqTest::LogCapture log;
  Zq::COMSettings settings;
  Zq::COMConnection connection;
};

TEST_F(SerialPortWineTest, ConnectAppliesTheTerminalLine) {
  EXPECT_STREQ(connection.serialPort.portName(), name.c_str());
  DCB state{};
  state.DCBlength = sizeof state;
  ASSERT_TRUE(::GetCommState(Common::SerialPortTestAccess::device(connection.serialPort), &state));
  EXPECT_EQ(state.BaudRate, 38400u);
  EXPECT_EQ(state.ByteSize, 8);
  EXPECT_EQ(state.Parity, NOPARITY);
  EXPECT_EQ(state.StopBits, ONESTOPBIT);
  EXPECT_EQ(state.fOutxCtsFlow, 0u);
  EXPECT_EQ(state.fOutxDsrFlow, 0u);
  EXPECT_EQ(state.fOutX, 1u);
  EXPECT_EQ(state.XonChar, 0x11);
  EXPECT_EQ(state.XoffChar, 0x13);
  COMMTIMEOUTS timeouts{};
  ASSERT_TRUE(::GetCommTimeouts(Common::SerialPortTestAccess::device(connection.serialPort), &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 35u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 100u);
  EXPECT_TRUE(connection.disconnect());
  EXPECT_FALSE(connection.serialPort.isOpen());
  EXPECT_TRUE(connection.disconnect());
  EXPECT_TRUE(log.lines().empty());
}

// (Wine does not refuse a second open of a device opened without sharing, as Windows does,
// so exclusivity is tested on the Linux build only.)
TEST_F(SerialPortWineTest, PortOpensAgainAfterDisconnect) {
  EXPECT_TRUE(connection.disconnect());
  SerialPort again;
  EXPECT_TRUE(again.create(static_cast<uint16_t>(port)));
  EXPECT_TRUE(again.open());
  EXPECT_TRUE(again.close());
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortWineTest, OpenClearsTheFlagsAnEarlierProgramLeft) {
  EXPECT_TRUE(connection.disconnect());
  SerialPort serial;
  ASSERT_TRUE(serial.create(static_cast<uint16_t>(port)));
  serial.lineSettings().baudRate = 38400;
  serial.lineSettings().setTerminalLine();
  // Wine keeps none of these (GetCommState says binary, and the rest off, whatever was set), so an
  // earlier program's SetCommState cannot leave them: they are planted in the block `create` read,
  // next to flags the line leaves as it finds them.
  DCB& block = Common::SerialPortTestAccess::block(serial);
  block.fBinary = 0;
  block.fAbortOnError = 1;
  block.fDsrSensitivity = 1;
  block.fNull = 1;
  block.fParity = 1;
  block.fTXContinueOnXoff = 1;
  block.fErrorChar = 1;
  ASSERT_TRUE(serial.open());
  const DCB& applied = Common::SerialPortTestAccess::block(serial);
  EXPECT_EQ(applied.fBinary, 1u);
  EXPECT_EQ(applied.fAbortOnError, 0u);
  EXPECT_EQ(applied.fDsrSensitivity, 0u);
  EXPECT_EQ(applied.fNull, 0u);
  EXPECT_EQ(applied.fParity, 1u);
  EXPECT_EQ(applied.fTXContinueOnXoff, 1u);
  EXPECT_EQ(applied.fErrorChar, 1u);
  EXPECT_EQ(applied.BaudRate, 38400u);
  EXPECT_EQ(applied.fOutX, 1u);
  EXPECT_TRUE(serial.close());
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortWineTest, WriteHeldByXoffGivesUpAfterItsTimeout) {
  request("XOFF");
  pause(100);
  // A carriage return of its own keeps these bytes out of the peer's next request.
  const uint8_t data[] = {'h', 'i', '\r'};
  const auto start = Clock::now();
  const int32_t result = connection.serialPort.send(data, 3);
  const long elapsed = msSince(start);
  EXPECT_EQ(result, -1);
  EXPECT_GE(elapsed, 90);
  EXPECT_LT(elapsed, 400);
  // The peer sends XON 500 ms after XOFF: the line moves again.
  pause(500);
  request("ECHO resumed");
  Zq::Command reply;
  EXPECT_EQ(connection.serialPort.recvTimeout(reply), 7);
  EXPECT_EQ(text(reply), "resumed");
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortWineTest, SilentLineReturnsNothingAfterOneReadTimeout) {
  request("SILENT");
  Zq::Command reply;
  const auto start = Clock::now();
  EXPECT_EQ(connection.serialPort.recvTimeout(reply), -1);
  const long elapsed = msSince(start);
  EXPECT_GE(elapsed, 20);
  EXPECT_LT(elapsed, 1000);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortWineTest, ReplyGathersChunksUntilTheLineFallsSilent) {
  request("BURST");
  Zq::Command reply;
  EXPECT_EQ(connection.serialPort.recvTimeout(reply), 6);
  EXPECT_EQ(text(reply), "abcdef");
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortWineTest, OwnerEndsTheReplyAtItsCarriageReturn) {
  CarriageReturnOwner owner;
  connection.serialPort.setEvent(&owner);
  request("SPLIT");
  const auto start = Clock::now();
  Zq::Command reply;
  EXPECT_EQ(connection.serialPort.recvTimeout(reply), 4);
  EXPECT_LT(msSince(start), 300);
  EXPECT_EQ(text(reply), "abc\r");
  pause(500);
  EXPECT_EQ(connection.serialPort.recvTimeout(reply), 3);
  EXPECT_EQ(text(reply), "def");
  connection.serialPort.setEvent(nullptr);
}

TEST_F(SerialPortWineTest, SendPurgesStaleInputBeforeTheRequest) {
  request("STALE");
  pause(200);
  request("ECHO fresh");
  Zq::Command reply;
  EXPECT_EQ(connection.serialPort.recvTimeout(reply), 5);
  EXPECT_EQ(text(reply), "fresh");
  EXPECT_TRUE(log.lines().empty());
}

}  // namespace
