// Only operating-system independent code.
#include "Zq/Command.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace Zq {

std::string toDecimalString(int32_t value) { return std::to_string(value); }

std::vector<std::string> split(const std::string& text, const char* delimiters) {
  std::vector<std::string> result;
  if (delimiters == nullptr) return result;
  size_t start = 0;
  for (;;) {
    const size_t found = text.find_first_of(delimiters, start);
    if (found == std::string::npos) {
      result.push_back(text.substr(start));
      return result;
    }
    result.push_back(text.substr(start, found - start));
    start = found + 1;
  }
}

int32_t readDecimal(const char* text) {
  if (text == nullptr) return 0;
  // strtol instead of atoi: atoi's overflow is undefined, strtol's saturates.
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

long readHex(const char* text) { return text == nullptr ? 0 : std::strtol(text, nullptr, 16); }

}  // namespace Zq
