// --received: every byte the terminal receives.
#include "Recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Simulator {

Recorder::~Recorder() {
  if (fd >= 0) ::close(fd);
}

bool Recorder::open(const std::string& path) {
  if (path.empty()) return true;
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::fprintf(stderr, "Zq-TerminalSimulator: can't open \"%s\": %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

void Recorder::record(const char* data, size_t size) {
  while (fd >= 0 && size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace Simulator
