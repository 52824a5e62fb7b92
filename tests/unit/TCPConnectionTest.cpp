// The TCP connection base: connect through the socket, its failure chain and the default operations.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Common/WSAContext.h"
#include "LogCapture.h"
#include "LoopbackPeer.h"
#include "Zq/Terminal.h"

using ZqTest::LoopbackPeer;
using ZqTest::PeerConnection;

namespace {

#ifdef _WIN32
const int wouldBlock = 10035;  // WSAEWOULDBLOCK
#else
const int wouldBlock = EINPROGRESS;
#endif

// The application's values, for another host or blocking mode.
Zq::TCPSettings settingsFor(const std::string& host, int32_t port, bool blocking) {
  Zq::TCPSettings s = ZqTest::applicationSettings(static_cast<uint16_t>(port));
  s.blocking = blocking;
  s.host = host;
  return s;
}

class TCPConnectionTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(library.startUp()); }

  Common::WSAContext library;
  ZqTest::LogCapture log;
};

TEST_F(TCPConnectionTest, DefaultOperationsWarnOnceAndFail) {
  Zq::TCPConnection connection;
  EXPECT_FALSE(connection.reset());
  EXPECT_FALSE(connection.updateDateTime());
  EXPECT_FALSE(connection.dump("out.txt", Zq::CardAsIs));
  EXPECT_EQ(log.messagesAt("[WARNING] "), (std::vector<std::string>{"TCPConnection::reset(): Not Implemented",
                                                                    "TCPConnection::updateDateTime(): Not Implemented",
                                                                    "TCPConnection::dump(): Not Implemented"}));
  EXPECT_EQ(log.messages().size(), 3u);
}

TEST_F(TCPConnectionTest, ConnectLeavesTheSocketInTheRequestedMode) {
  for (const bool blocking : {false, true}) {
    LoopbackPeer peer([](PeerConnection& p) { p.receive(1, 3000); });
    Zq::TCPConnection connection;
    const Zq::TCPSettings s = settingsFor("127.0.0.1", peer.port(), blocking);
    ASSERT_TRUE(connection.connect(s));
    EXPECT_EQ(connection.socket.isBlocking(), blocking);
    EXPECT_EQ(connection.socket.peerPort(), peer.port());
    EXPECT_EQ(connection.settings.host, "127.0.0.1");
    EXPECT_EQ(connection.settings.recvAttempts, 5);
    // A non-blocking socket waits for its (silent) peer; a blocking one is ready at once.
    EXPECT_EQ(connection.socket.canRead(50), blocking);

    EXPECT_TRUE(connection.disconnect());
    EXPECT_FALSE(connection.socket.isOpen());
    EXPECT_TRUE(connection.disconnect());
  }
  EXPECT_EQ(log.messages(), std::vector<std::string>{"[WARNING] Socket::canRead(): Read timeout (50 msec)"});
}

TEST_F(TCPConnectionTest, RefusedConnectionLogsTheChainInnermostFirst) {
  const uint16_t port = ZqTest::closedLoopbackPort();
  Zq::TCPConnection connection;
  EXPECT_FALSE(connection.connect(settingsFor("127.0.0.1", port, false)));
  const std::string target = "127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(log.messagesAt("[ERROR] "),
            (std::vector<std::string>{
                "Socket::connect(): Connection timeout to " + target + ", err => " + std::to_string(wouldBlock),
                "TCPConnection::connect(): Can't connect to " + target}));
  // The settings survive the failure.
  EXPECT_EQ(connection.settings.port, port);
  const std::vector<std::string> lines = log.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" at Common\\Socket:"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" at Zq\\Terminal:"), std::string::npos) << lines[1];
}

TEST_F(TCPConnectionTest, AnyAddressIsRefused) {
  Zq::TCPConnection connection;
  EXPECT_FALSE(connection.connect(settingsFor("0.0.0.0", 1001, false)));
  const std::vector<std::string> errors = log.messagesAt("[ERROR] ");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].rfind("Socket::connect(): connect(): Can't connect to 0.0.0.0:1001, err => ", 0), 0u);
  EXPECT_EQ(errors[1], "TCPConnection::connect(): Can't connect to 0.0.0.0:1001");
}

TEST_F(TCPConnectionTest, ConnectAgainReplacesTheOldConnection) {
  LoopbackPeer first([](PeerConnection& p) { p.receive(1, 3000); });
  LoopbackPeer second([](PeerConnection& p) { p.receive(2, 3000); });
  Zq::TCPConnection connection;
  ASSERT_TRUE(connection.connect(settingsFor("127.0.0.1", first.port(), false)));
  ASSERT_TRUE(connection.connect(settingsFor("127.0.0.1", second.port(), false)));
  // The first peer sees its connection closed rather than waiting out its receive.
  first.waitDone();
  EXPECT_EQ(connection.socket.peerPort(), second.port());
  const uint8_t bytes[] = {'h', 'i'};
  EXPECT_EQ(connection.socket.sendTimeout(bytes, 2, 192), 2);
  connection.disconnect();
  second.waitDone();
  EXPECT_EQ(first.received(), "");
  EXPECT_EQ(second.received(), "hi");
}

}  // namespace
