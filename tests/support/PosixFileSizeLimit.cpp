#include "PosixFileSizeLimit.h"

namespace ZqTest {

FileSizeLimit::FileSizeLimit(size_t bytes) {
  ::getrlimit(RLIMIT_FSIZE, &saved);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &savedAction);
  struct rlimit limit = saved;
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &savedAction, nullptr);
}

}  // namespace ZqTest
