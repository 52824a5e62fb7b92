// A process started with its standard streams closed: they are reopened before anything else is
// opened, so that no file, socket or serial port takes their place and receives console text.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Common/Console.h"

namespace {

// In a child process: closes `closed` of descriptors 0 to 2, runs the guard, opens a file, and
// exits 0 when that file is none of the standard descriptors and they are all open again.
int childWithClosedStreams(std::initializer_list<int> closed) {
  const pid_t child = ::fork();
  if (child == 0) {
    for (int fd : closed) ::close(fd);
    Console::reopenClosedStandardStreams();
    const int opened = ::open("/dev/null", O_RDONLY);
    const bool allOpen = ::fcntl(0, F_GETFD) != -1 && ::fcntl(1, F_GETFD) != -1 && ::fcntl(2, F_GETFD) != -1;
    ::_exit(opened > 2 && allOpen ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StandardStreamsTest, ClosedStreamsAreReopenedBeforeAnyFileTakesTheirPlace) {
  EXPECT_EQ(childWithClosedStreams({0, 1, 2}), 0);
  EXPECT_EQ(childWithClosedStreams({1}), 0);
  EXPECT_EQ(childWithClosedStreams({0, 2}), 0);
}

}  // namespace
