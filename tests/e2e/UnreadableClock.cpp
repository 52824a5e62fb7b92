// Preloaded into the native program by the e2e tests: a system clock that cannot be read, as
// time() reports it, so that the whole path from the clock to the terminal can be seen failing.
#include <cerrno>
#include <ctime>

extern "C" std::time_t time(std::time_t* result) {
  errno = EOVERFLOW;
  if (result != nullptr) *result = static_cast<std::time_t>(-1);
  return static_cast<std::time_t>(-1);
}
