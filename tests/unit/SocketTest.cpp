// The TCP socket against a scripted peer on 127.0.0.1: bounded connects, waits, sends and receives.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "Common/Socket.h"
#include "Common/WSAContext.h"
#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "Zq/Command.h"

namespace Common {
// What `create` recorded, which the socket keeps to itself.
struct SocketTestAccess {
  static std::vector<int32_t> kind(const Socket& socket) { return {socket.family, socket.type, socket.protocol}; }
};
}  // namespace Common

using Common::Socket;
using Common::SocketTestAccess;
using ZqTest::LoopbackPeer;
using ZqTest::PeerConnection;

namespace {

#ifdef _WIN32
const int wouldBlock = 10035;           // WSAEWOULDBLOCK
const int addressNotAvailable = 10049;  // WSAEADDRNOTAVAIL
#else
const int wouldBlock = EINPROGRESS;
const int addressNotAvailable = EADDRNOTAVAIL;
#endif

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string text(const Zq::Command& command) { return std::string(command.bytes.begin(), command.bytes.end()); }

// A peer that stays silent until the client goes away.
void silentUntilClosed(PeerConnection& peer) { peer.receive(1, 5000); }

// Complete once a carriage return has arrived; remembers every length it was shown.
class CarriageReturnEnds : public Common::SocketEvent {
public:
  bool onReceive(const uint8_t* data, int32_t length) override {
    lengths.push_back(length);
    seen.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    return length > 0 && data[length - 1] == '\r';
  }
  std::vector<int32_t> lengths;
  std::string seen;
};

class SocketTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(library.startUp()); }

  // Creates and connects `socket` to the peer's port, then makes it non-blocking as the drivers use it.
  void connectNonBlocking(Socket& socket, uint16_t port) {
    ASSERT_TRUE(socket.create(Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp));
    ASSERT_TRUE(socket.connect(port, "127.0.0.1", 2500));
    ASSERT_TRUE(socket.setBlockingMode(false));
  }

  Common::WSAContext library;
  ZqTest::LogCapture log;
};

TEST_F(SocketTest, SilentPeerCostsEveryAttemptWithOneWarningEach) {
  LoopbackPeer peer(silentUntilClosed);
  Socket socket;
  connectNonBlocking(socket, peer.port());

  Zq::Command reply;
  reply.appendText("stale");
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(socket.recvTimeout(reply, 192, 5), -1);
  const long long elapsed = msSince(start);
  EXPECT_TRUE(reply.bytes.empty());
  // About 5 x 192 ms; the upper bound only catches a wait that does not end.
  EXPECT_GE(elapsed, 900);
  EXPECT_LT(elapsed, 5000);
  const std::vector<std::string> warnings = log.messagesAt("[WARNING] ");
  EXPECT_EQ(warnings, std::vector<std::string>(5, "Socket::canRead(): Read timeout (192 msec)"));
  EXPECT_TRUE(log.messagesAt("[ERROR] ").empty());
  for (const std::string& line : log.lines()) EXPECT_NE(line.find(" at Common\\Socket:"), std::string::npos) << line;

  // The fixed-buffer form waits the same way.
  uint8_t buffer[16];
  EXPECT_EQ(socket.recvTimeout(buffer, sizeof buffer, 50, 2), -1);
  EXPECT_EQ(log.messagesAt("[WARNING] ").size(), 7u);
}

TEST_F(SocketTest, PeerThatSendsThreeBytesAndClosesGivesThree) {
  LoopbackPeer peer([](PeerConnection& p) {
    p.send("abc");
    p.close();
  });
  Socket socket;
  connectNonBlocking(socket, peer.port());

  Zq::Command reply;
  EXPECT_EQ(socket.recvTimeout(reply, 1000, 5), 3);
  EXPECT_EQ(text(reply), "abc");
  // The close ends the reply: no time-out was needed.
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(SocketTest, ChunksArrivingWithinTheWaitAreCollected) {
  LoopbackPeer peer([](PeerConnection& p) {
    p.send("12");
    p.pause(80);
    p.send("34");
    p.pause(80);
    p.send("56");
    p.close();
  });
  Socket socket;
  connectNonBlocking(socket, peer.port());

  uint8_t buffer[32];
  EXPECT_EQ(socket.recvTimeout(buffer, sizeof buffer, 1000, 1), 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), "123456");
}

TEST_F(SocketTest, FixedBufferFilledExactlyReturnsItsSizeWithoutCompletion) {
  LoopbackPeer peer([](PeerConnection& p) {
    p.send("ABCDEFGHIJ");
    silentUntilClosed(p);
  });
  Socket socket;
  connectNonBlocking(socket, peer.port());
  CarriageReturnEnds never;  // no carriage return comes: it never says complete
  socket.setEvent(&never);

  uint8_t buffer[8];
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(socket.recvTimeout(buffer, sizeof buffer, 2000, 5), 8);
  EXPECT_LT(msSince(start), 2000);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 8), "ABCDEFGH");
  EXPECT_TRUE(log.messages().empty());

  // The rest is still there for the next receive.
  EXPECT_EQ(socket.recvTimeout(buffer, 2, 2000, 5), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "IJ");
}

TEST_F(SocketTest, ReplyEndsAsSoonAsOnReceiveSaysComplete) {
  LoopbackPeer peer([](PeerConnection& p) {
    p.receiveUntil('\n', 3000);
    p.send("OK");
    p.pause(60);
    p.send("\r");
    p.receiveUntil('\n', 3000);
    p.send("DONE\r");
    silentUntilClosed(p);
  });
  Socket socket;
  connectNonBlocking(socket, peer.port());
  CarriageReturnEnds complete;
  socket.setEvent(&complete);

  const std::string request = "STATUS\n";
  ASSERT_EQ(socket.sendTimeout(reinterpret_cast<const uint8_t*>(request.data()), 7, 1000), 7);
  Zq::Command reply;
  Clock::time_point start = Clock::now();
  EXPECT_EQ(socket.recvTimeout(reply, 1500, 5), 3);
  EXPECT_LT(msSince(start), 1500);
  EXPECT_EQ(text(reply), "OK\r");
  // Each call sees everything received so far in this receive.
  EXPECT_EQ(complete.lengths.back(), 3);
  EXPECT_EQ(complete.seen, "OK\r");

  // The fixed-buffer form stops the same way, well before its buffer is full.
  ASSERT_EQ(socket.sendTimeout(reinterpret_cast<const uint8_t*>(request.data()), 7, 1000), 7);
  uint8_t buffer[64];
  start = Clock::now();
  EXPECT_EQ(socket.recvTimeout(buffer, sizeof buffer, 1500, 5), 5);
  EXPECT_LT(msSince(start), 1500);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "DONE\r");
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(SocketTest, GrowableReceiveGivesUpPastOneMebibyteWithoutCompletion) {
  const std::string flood(Socket::MaxReplyBytes + 4096, 'x');
  LoopbackPeer peer([&flood](PeerConnection& p) { p.send(flood); });
  Socket socket;
  connectNonBlocking(socket, peer.port());

  Zq::Command reply;
  EXPECT_EQ(socket.recvTimeout(reply, 2000, 5), -1);
  EXPECT_TRUE(reply.bytes.empty());
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            std::vector<std::string>{"Socket::recvTimeout(): Reply exceeds 1048576 bytes without completing"});
  socket.close();
}

TEST_F(SocketTest, ReplyOfExactlyOneMebibyteIsStillAccepted) {
  const std::string reply1MiB(Socket::MaxReplyBytes, 'y');
  LoopbackPeer peer([&reply1MiB](PeerConnection& p) {
    p.send(reply1MiB);
    p.close();
  });
  Socket socket;
  connectNonBlocking(socket, peer.port());

  Zq::Command reply;
  EXPECT_EQ(socket.recvTimeout(reply, 2000, 5), static_cast<int32_t>(Socket::MaxReplyBytes));
  EXPECT_TRUE(log.messagesAt("[ERROR] ").empty());
}

TEST_F(SocketTest, ResetByThePeerEndsTheReplySilently) {
  LoopbackPeer peer([](PeerConnection& p) {
    p.receive(1, 3000);
    p.reset();
  });
  Socket socket;
  connectNonBlocking(socket, peer.port());
  const uint8_t request = 'x';
  ASSERT_EQ(socket.sendTimeout(&request, 1, 1000), 1);

  Zq::Command reply;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(socket.recvTimeout(reply, 3000, 2), -1);
  EXPECT_LT(msSince(start), 3000);
  EXPECT_TRUE(log.messagesAt("[ERROR] ").empty());
}

TEST_F(SocketTest, SendTimeoutSendsEverythingAndZeroLengthSendsNothing) {
  LoopbackPeer peer([](PeerConnection& p) { p.receive(100, 1500); });
  Socket socket;
  connectNonBlocking(socket, peer.port());

  const std::string first = "GETLOGDATA";
  EXPECT_EQ(socket.sendTimeout(reinterpret_cast<const uint8_t*>(first.data()), 0, 1000), 0);
  EXPECT_EQ(socket.sendTimeout(reinterpret_cast<const uint8_t*>(first.data()), 10, 1000), 10);
  EXPECT_EQ(socket.sendTimeout(reinterpret_cast<const uint8_t*>(first.data()), -3, 1000), 0);
  socket.close();
  peer.waitDone();
  EXPECT_EQ(peer.received(), "GETLOGDATA");
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(SocketTest, BlockingSocketIsReadyAtOnceWithoutWaiting) {
  LoopbackPeer peer(silentUntilClosed);
  Socket socket;
  ASSERT_TRUE(socket.create(Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp));
  ASSERT_TRUE(socket.connect(peer.port(), "127.0.0.1", 2500));
  // The timed connect leaves the socket blocking.
  ASSERT_TRUE(socket.isBlocking());

  // Nothing is there to read, yet a blocking socket is never waited for.
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(socket.canRead(3000));
  EXPECT_TRUE(socket.canWrite(3000));
  EXPECT_LT(msSince(start), 1000);

  // The same socket made non-blocking does wait.
  ASSERT_TRUE(socket.setBlockingMode(false));
  EXPECT_FALSE(socket.canRead(50));
  EXPECT_TRUE(socket.canWrite(50));
  EXPECT_EQ(log.messagesAt("[WARNING] "), std::vector<std::string>{"Socket::canRead(): Read timeout (50 msec)"});
}

TEST_F(SocketTest, ConnectRecordsThePeerAndCloseForgetsEverything) {
  LoopbackPeer peer(silentUntilClosed);
  Socket socket;
  ASSERT_TRUE(socket.create(Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp));
  EXPECT_TRUE(socket.isOpen());
  EXPECT_EQ(SocketTestAccess::kind(socket),
            (std::vector<int32_t>{Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp}));
  EXPECT_EQ(socket.peerPort(), 0);
  // A negative time-out is one ordinary connect, without mode changes.
  ASSERT_TRUE(socket.connect(peer.port(), "127.0.0.1", -1));
  EXPECT_EQ(socket.peerPort(), peer.port());
  EXPECT_EQ(socket.peerHost(), "127.0.0.1");
  EXPECT_TRUE(socket.isBlocking());
  ASSERT_TRUE(socket.setBlockingMode(false));

  EXPECT_TRUE(socket.close());
  EXPECT_FALSE(socket.isOpen());
  EXPECT_EQ(SocketTestAccess::kind(socket), (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(socket.peerPort(), 0);
  EXPECT_EQ(socket.peerHost(), "");
  EXPECT_TRUE(socket.isBlocking());
  // Closing what is closed succeeds silently.
  EXPECT_TRUE(socket.close());
  EXPECT_TRUE(log.messages().empty());
}

TEST_F(SocketTest, RefusedConnectionFailsWithinTheTimeout) {
  const uint16_t port = ZqTest::closedLoopbackPort();
  Socket socket;
  ASSERT_TRUE(socket.create(Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp));
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(socket.connect(port, "127.0.0.1", 2500));
  EXPECT_LT(msSince(start), 2500);
  EXPECT_EQ(socket.peerPort(), 0);
  EXPECT_EQ(socket.peerHost(), "");
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            std::vector<std::string>{"Socket::connect(): Connection timeout to 127.0.0.1:" + std::to_string(port) +
                                     ", err => " + std::to_string(wouldBlock)});
}

TEST_F(SocketTest, UnansweredConnectEndsAtItsTimeout) {
  ZqTest::FullBacklogListener listener;
  if (!listener.available()) GTEST_SKIP() << "this system answers every connect to a listener with a full backlog";
  Socket socket;
  ASSERT_TRUE(socket.create(Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp));
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(socket.connect(listener.port(), "127.0.0.1", 400));
  const long long elapsed = msSince(start);
  EXPECT_GE(elapsed, 350);
  EXPECT_LT(elapsed, 3000);
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            std::vector<std::string>{"Socket::connect(): Connection timeout to 127.0.0.1:" +
                                     std::to_string(listener.port()) + ", err => " + std::to_string(wouldBlock)});
}

TEST_F(SocketTest, AnyAddressIsRefusedAndNeverReachesALocalService) {
  // The peer listens on 127.0.0.1; a connect to 0.0.0.0 would land there on some systems.
  LoopbackPeer peer([](PeerConnection& p) { p.receive(5, 3000); });
  const std::string expected = "Socket::connect(): connect(): Can't connect to 0.0.0.0:" + std::to_string(peer.port()) +
                               ", err => " + std::to_string(addressNotAvailable);
  for (const int32_t timeoutMs : {2500, -1}) {
    Socket socket;
    ASSERT_TRUE(socket.create(Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp));
    EXPECT_FALSE(socket.connect(peer.port(), "0.0.0.0", timeoutMs));
    EXPECT_EQ(socket.peerPort(), 0);
  }
  EXPECT_EQ(log.messagesAt("[ERROR] "), std::vector<std::string>(2, expected));

  // The one connection the peer accepts must be this one.
  Socket legit;
  ASSERT_TRUE(legit.create(Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp));
  ASSERT_TRUE(legit.connect(peer.port(), "127.0.0.1", 2500));
  ASSERT_EQ(legit.sendTimeout(reinterpret_cast<const uint8_t*>("legit"), 5, 1000), 5);
  peer.waitDone();
  EXPECT_EQ(peer.received(), "legit");
}

TEST_F(SocketTest, EmptyOrUnreadableAddressIsRefusedWithoutConnecting) {
  // A network model given a bare port number has no address; inet_addr turns that into the
  // broadcast address, which must not be tried.
  for (const char* host : {"", "255.255.255.255", "not-an-address"}) {
    Socket socket;
    ASSERT_TRUE(socket.create(Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp));
    EXPECT_FALSE(socket.connect(1001, host, 2500)) << host;
    EXPECT_EQ(socket.peerHost(), "") << host;
    EXPECT_TRUE(socket.isBlocking()) << "no mode change before the refusal: " << host;
  }
  const std::vector<std::string> errors = log.messagesAt("[ERROR] ");
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0],
            "Socket::connect(): connect(): Can't connect to :1001, err => " + std::to_string(addressNotAvailable));
}

TEST_F(SocketTest, OperationsWithoutASocketFailWithTheSystemError) {
  Socket socket;
  EXPECT_FALSE(socket.setBlockingMode(false));
  EXPECT_TRUE(socket.isBlocking());
  EXPECT_FALSE(socket.connect(ZqTest::closedLoopbackPort(), "127.0.0.1", -1));
  const std::vector<std::string> errors = log.messagesAt("[ERROR] ");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].rfind("Socket::setBlockingMode(): ioctlsocket(): err => ", 0), 0u) << errors[0];
  EXPECT_EQ(errors[1].rfind("Socket::connect(): connect(): Can't connect to 127.0.0.1:", 0), 0u) << errors[1];
  EXPECT_NE(errors[0], "Socket::setBlockingMode(): ioctlsocket(): err => 0");
}

TEST_F(SocketTest, CreateOnAnOpenSocketStartsAfresh) {
  LoopbackPeer peer([](PeerConnection& p) {
    p.receive(1, 3000);
    // The client's first socket was closed by the second create.
  });
  Socket socket;
  ASSERT_TRUE(socket.create(Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp));
  ASSERT_TRUE(socket.connect(peer.port(), "127.0.0.1", 2500));
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(socket.create(Socket::FamilyIPv4, Socket::TypeStream, Socket::ProtocolTcp));
  EXPECT_EQ(socket.peerPort(), 0);
  EXPECT_EQ(socket.peerHost(), "");
  peer.waitDone();
  // The peer saw the old connection end instead of waiting out its three seconds.
  EXPECT_LT(msSince(start), 2500);
  EXPECT_EQ(peer.received(), "");
}

}  // namespace
