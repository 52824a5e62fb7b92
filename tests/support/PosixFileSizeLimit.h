// A disk that fills up, for the tests of write failures on a regular file: a file size limit for
// this process, whose writes past it fail (EFBIG) instead of raising SIGXFSZ.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstddef>

namespace ZqTest {

class FileSizeLimit {
public:
  explicit FileSizeLimit(size_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
  struct rlimit saved {};
  struct sigaction savedAction {};
};

}  // namespace ZqTest
