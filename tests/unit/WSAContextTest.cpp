// Start-up and release of the sockets library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Common/Socket.h"
#include "Common/WSAContext.h"
#include "LogCapture.h"

namespace {

bool canCreateSocket() {
  Common::Socket socket;
  return socket.create(Common::Socket::FamilyIPv4, Common::Socket::TypeStream, Common::Socket::ProtocolTcp);
}

TEST(WSAContextTest, SecondStartUpWarnsAndKeepsTheLibraryStarted) {
  ZqTest::LogCapture log;
  {
    Common::WSAContext context;
    EXPECT_FALSE(context.isStarted());
    ASSERT_TRUE(context.startUp());
    EXPECT_TRUE(context.isStarted());
    EXPECT_TRUE(log.messages().empty());

    EXPECT_TRUE(context.startUp());
    EXPECT_TRUE(context.isStarted());
    EXPECT_EQ(log.messagesAt("[WARNING] "),
              std::vector<std::string>{"WSAContext::startUp(): Winsock dll already initialized"});
    const std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" at Common\\WSAContext:"), std::string::npos) << lines[0];

    // A single clean-up releases it, even after two start-ups.
    EXPECT_TRUE(context.cleanUp());
    EXPECT_FALSE(context.isStarted());
    EXPECT_TRUE(context.cleanUp());
    EXPECT_TRUE(context.startUp());
  }  // the destructor releases the library
  EXPECT_EQ(log.messages().size(), 1u);
}

// Sockets exist exactly while the library is started (on POSIX systems there is nothing to start).
TEST(WSAContextTest, SocketsNeedTheStartedLibrary) {
  ZqTest::LogCapture log;
#ifdef _WIN32
  EXPECT_FALSE(canCreateSocket());
  EXPECT_EQ(log.messagesAt("[ERROR] "), std::vector<std::string>{"Socket::create(): socket(): err => 10093"});
#endif
  {
    Common::WSAContext context;
    ASSERT_TRUE(context.startUp());
    EXPECT_TRUE(canCreateSocket());
  }
#ifdef _WIN32
  EXPECT_FALSE(canCreateSocket());
  EXPECT_EQ(log.messagesAt("[ERROR] ").size(), 2u);
#else
  EXPECT_TRUE(canCreateSocket());
  EXPECT_TRUE(log.messages().empty());
#endif
}

}  // namespace
