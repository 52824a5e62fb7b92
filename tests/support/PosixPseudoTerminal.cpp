#include "PosixPseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace ZqTest {

PosixPseudoTerminal::PosixPseudoTerminal(unsigned port) {
  char name[256] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    master_ = slave_ = -1;
    return;
  }
  slavePath_ = name;
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  const std::string link = dir_.file("COM" + std::to_string(port));
  if (::symlink(slavePath_.c_str(), link.c_str()) != 0) {
    closeMaster();
    ::close(slave_);
    slave_ = -1;
    return;
  }
  if (const char* previous = std::getenv("ZQ_COMPORT_DIR")) {
    hadPreviousDir_ = true;
    previousDir_ = previous;
  }
  ::setenv("ZQ_COMPORT_DIR", dir_.path().c_str(), 1);
}

PosixPseudoTerminal::~PosixPseudoTerminal() {
  if (hadPreviousDir_) {
    ::setenv("ZQ_COMPORT_DIR", previousDir_.c_str(), 1);
  } else {
    ::unsetenv("ZQ_COMPORT_DIR");
  }
  closeMaster();
  if (slave_ >= 0) ::close(slave_);
}

void PosixPseudoTerminal::write(const std::string& bytes) {
  size_t done = 0;
  while (master_ >= 0 && done < bytes.size()) {
    const ssize_t count = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (count > 0) {
      done += static_cast<size_t>(count);
    } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
      struct pollfd entry = {master_, POLLOUT, 0};
      ::poll(&entry, 1, 10);
    } else {
      return;
    }
  }
}

std::string PosixPseudoTerminal::read(size_t count, int timeoutMs) {
  std::string result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (master_ >= 0 && result.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    struct pollfd entry = {master_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[4096];
    const size_t want = count - result.size() < sizeof buffer ? count - result.size() : sizeof buffer;
    const ssize_t got = ::read(master_, buffer, want);
    if (got > 0) {
      result.append(buffer, static_cast<size_t>(got));
    } else if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
      continue;
    } else {
      break;
    }
  }
  return result;
}

void PosixPseudoTerminal::closeMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

}  // namespace ZqTest
