// The serial port against a pseudo-terminal: the test plays the device on the master side.
#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "Common/SerialPort.h"
#include "LogCapture.h"
#include "PosixPseudoTerminal.h"
#include "SerialOwner.h"
#include "Zq/Command.h"
#include "Zq/Terminal.h"

namespace {

using Common::SerialPort;
using ZqTest::CarriageReturnOwner;
using ZqTest::Clock;
using ZqTest::msSince;
using ZqTest::pause;
using ZqTest::PosixPseudoTerminal;
using ZqTest::text;

const unsigned Port = 7;

class SerialPortPtyTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(pty.ok()); }

  // Opens the port the way the serial connection does.
  void openPort(SerialPort& port) {
    ASSERT_TRUE(port.create(Port));
    ASSERT_TRUE(port.open());
  }

  PosixPseudoTerminal pty{Port};
  ZqTest::LogCapture log;
};

TEST_F(SerialPortPtyTest, CreateOpensTheLinkedDeviceAndCloseReleasesIt) {
  EXPECT_EQ(SerialPort::devicePath("COM7"), pty.directory() + "/COM7");
  SerialPort port;
  ASSERT_TRUE(port.create(Port));
  EXPECT_STREQ(port.portName(), "COM7");
  EXPECT_TRUE(port.isOpen());
  // The pre-filled line, before the connection adjusts it.
  EXPECT_EQ(port.lineSettings().baudRate, 115200u);
  EXPECT_EQ(port.lineSettings().byteSize, 8);
  EXPECT_TRUE(port.lineSettings().outX);
  EXPECT_TRUE(port.lineSettings().dtrEnabled);
  EXPECT_TRUE(port.open());
  EXPECT_TRUE(port.close());
  EXPECT_FALSE(port.isOpen());
  EXPECT_STREQ(port.portName(), "COM7");
  EXPECT_EQ(port.portNumber(), Port);
  EXPECT_TRUE(port.close());
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortPtyTest, MissingPortFailsAndLeavesNothingToClose) {
  SerialPort port;
  EXPECT_FALSE(port.create(9));
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            std::vector<std::string>{"SerialPort::open(): Can't open COM9 port, err => 2 (No such file or directory)"});
  EXPECT_TRUE(port.close());
  EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(SerialPortPtyTest, NotATerminalFailsReadingItsState) {
  const std::string file = pty.directory() + "/COM8";
  {
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  SerialPort port;
  EXPECT_FALSE(port.create(8));
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            std::vector<std::string>{
                "SerialPort::open(): GetCommState() failed, err => 25 (Inappropriate ioctl for device)"});
  // The device stays open until close, which then succeeds quietly.
  EXPECT_TRUE(port.isOpen());
  EXPECT_TRUE(port.close());
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(SerialPortPtyTest, SecondOpenOfTheSamePortFailsUntilTheFirstCloses) {
  SerialPort first;
  SerialPort second;
  ASSERT_TRUE(first.create(Port));
  EXPECT_FALSE(second.create(Port));
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            std::vector<std::string>{"SerialPort::open(): Can't open COM7 port, err => 16 (Device or resource busy)"});
  EXPECT_TRUE(first.close());
  EXPECT_TRUE(second.create(Port));
  EXPECT_TRUE(second.open());
}

TEST_F(SerialPortPtyTest, ConnectionAppliesTheTerminalLine) {
  Zq::COMConnection connection;
  Zq::COMSettings settings;
  settings.port = Port;
  settings.baudRate = 38400;
  ASSERT_TRUE(connection.connect(settings));

  struct termios line {};
  ASSERT_EQ(::tcgetattr(pty.slave(), &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B38400));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  // XON/XOFF output flow control only, resumed by XON alone; no other character handling.
  EXPECT_NE(line.c_iflag & IXON, 0u);
  EXPECT_EQ(line.c_iflag & (IXANY | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
  EXPECT_EQ(line.c_cc[VSTART], 0x11);
  EXPECT_EQ(line.c_cc[VSTOP], 0x13);
  EXPECT_EQ(line.c_cc[VMIN], 0);
  EXPECT_EQ(line.c_cc[VTIME], 0);
  EXPECT_TRUE(connection.disconnect());
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortPtyTest, SpeedsWithoutATermiosCodeStillConnectAndCarryData) {
  for (uint32_t requested : {14400u, 40000u, 128000u, 256000u}) {
    SCOPED_TRACE(requested);
    Zq::COMConnection connection;
    Zq::COMSettings settings;
    settings.port = Port;
    settings.baudRate = requested;
    ASSERT_TRUE(connection.connect(settings));
    Zq::Command request;
    request.appendText("PING\r");
    EXPECT_EQ(connection.send(request), 5);
    EXPECT_EQ(pty.read(5, 1000), "PING\r");
    EXPECT_TRUE(connection.disconnect());
  }
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortPtyTest, SilentLineReturnsNothingAfterOneReadTimeout) {
  SerialPort port;
  openPort(port);
  Zq::Command reply;
  reply.appendText("left over");
  const auto start = Clock::now();
  EXPECT_EQ(port.recvTimeout(reply), -1);
  const long elapsed = msSince(start);
  EXPECT_EQ(reply.size(), 0u);
  EXPECT_GE(elapsed, 35);  // the whole read time-out, not a millisecond less
  EXPECT_LT(elapsed, 500);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortPtyTest, ReplyGathersChunksUntilTheLineFallsSilent) {
  SerialPort port;
  openPort(port);
  std::thread device([this] {
    pty.write("ab");
    pause(3);
    pty.write("cd");
    pause(3);
    pty.write("ef");
    pause(300);
    pty.write("late");
  });
  Zq::Command reply;
  EXPECT_EQ(port.recvTimeout(reply), 6);
  EXPECT_EQ(text(reply), "abcdef");
  device.join();
  EXPECT_EQ(port.recvTimeout(reply), 4);
  EXPECT_EQ(text(reply), "late");
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortPtyTest, OwnerEndsTheReplyAtItsCarriageReturn) {
  SerialPort port;
  CarriageReturnOwner owner;
  port.setEvent(&owner);
  openPort(port);
  std::thread device([this] {
    pty.write("ab");
    pause(10);
    pty.write("c\r");
    pause(400);
    pty.write("def");
  });
  const auto start = Clock::now();
  Zq::Command reply;
  EXPECT_EQ(port.recvTimeout(reply), 4);
  EXPECT_LT(msSince(start), 300);
  EXPECT_EQ(text(reply), "abc\r");
  ASSERT_FALSE(owner.lengths.empty());
  EXPECT_EQ(owner.lengths.back(), 4);  // shown the whole reply so far, not the last chunk
  device.join();
}

TEST_F(SerialPortPtyTest, SendPurgesStaleInputBeforeTheRequest) {
  Zq::COMConnection connection;
  Zq::COMSettings settings;
  settings.port = Port;
  settings.baudRate = 38400;
  ASSERT_TRUE(connection.connect(settings));
  pty.write("stale reply");
  pause(50);
  Zq::Command request;
  request.appendText("REQ\r");
  EXPECT_EQ(connection.send(request), 4);
  EXPECT_EQ(pty.read(4, 1000), "REQ\r");
  pty.write("fresh");
  Zq::Command reply;
  EXPECT_EQ(connection.serialPort.recvTimeout(reply), 5);
  EXPECT_EQ(text(reply), "fresh");
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortPtyTest, WriteHeldByXoffGivesUpAfterItsTimeout) {
  SerialPort port;
  openPort(port);
  pty.write("\x13");
  pause(20);
  const uint8_t data[] = {'h', 'i'};
  const auto start = Clock::now();
  EXPECT_EQ(port.send(data, 2), -1);
  const long elapsed = msSince(start);
  EXPECT_GE(elapsed, 90);
  EXPECT_LT(elapsed, 1000);
  EXPECT_EQ(pty.read(2, 50), "");
  // XON resumes the line; the XON/XOFF bytes never reach the reader. Bytes that are out end the
  // send at once: it waits for the driver's queue, not for the write time-out.
  pty.write("\x11");
  auto sent = Clock::now();
  EXPECT_EQ(port.send(data, 2), 2);
  EXPECT_LT(msSince(sent), 50);
  EXPECT_EQ(pty.read(2, 1000), "hi");
  Zq::Command reply;
  EXPECT_EQ(port.recvTimeout(reply), -1);
  // Held again, the close does not wait for the line to move.
  pty.write("\x13");
  pause(20);
  sent = Clock::now();
  EXPECT_EQ(port.send(data, 2), -1);
  EXPECT_LT(msSince(sent), 1000);
  const auto closing = Clock::now();
  EXPECT_TRUE(port.close());
  EXPECT_LT(msSince(closing), 500);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(SerialPortPtyTest, HungUpDeviceIsAReadFailureNotSilence) {
  SerialPort port;
  openPort(port);
  pty.closeMaster();
  Zq::Command reply;
  const auto start = Clock::now();
  EXPECT_EQ(port.recvTimeout(reply), -1);
  EXPECT_LT(msSince(start), 30);
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            (std::vector<std::string>{"SerialPort::recv(): ReadFile(): err => 5 (Input/output error)",
                                      "SerialPort::recvTimeout(): err => 5 (Input/output error)"}));
}

// A device that keeps dripping never falls silent: the reply's whole time ends it all the same.
TEST_F(SerialPortPtyTest, ReplyThatDripsPastItsDeadlineEndsAsAReadFailure) {
  SerialPort port;
  openPort(port);
  std::atomic<bool> stop{false};
  std::thread device([this, &stop] {
    while (!stop) {
      pty.write("A");
      pause(2);
    }
  });
  Zq::Command reply;
  const auto started = Clock::now();
  port.setReplyDeadline(300);
  const int32_t result = port.recvTimeout(reply);
  const auto elapsed = msSince(started);
  stop = true;
  device.join();
  EXPECT_EQ(result, -1);
  EXPECT_GE(elapsed, 300);
  EXPECT_LT(elapsed, 2000);
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            std::vector<std::string>{"SerialPort::recvTimeout(): Reply not complete within 300 msec"});
}

TEST_F(SerialPortPtyTest, EndlessReplyEndsAsAReadFailure) {
  SerialPort port;
  openPort(port);
  std::atomic<bool> stop{false};
  std::thread device([this, &stop] {
    const std::string block(4096, 'A');
    // Non-blocking writes: once the port stops reading, the line fills and the writes just fail.
    while (!stop) {
      if (::write(pty.master(), block.data(), block.size()) < 0) pause(1);
    }
  });
  Zq::Command reply;
  const int32_t result = port.recvTimeout(reply);
  stop = true;
  device.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(reply.size(), 0u);
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            std::vector<std::string>{"SerialPort::recvTimeout(): No complete reply within 1048576 bytes"});
}

}  // namespace
