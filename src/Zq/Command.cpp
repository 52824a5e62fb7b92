// Only operating-system independent code.
#include "Zq/Command.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace Zq {

void Command::appendText(const std::string& text) {
  const size_t old = bytes.size();
  bytes.resize(old + text.size());
  if (!text.empty()) std::memcpy(bytes.data() + old, text.data(), text.size());
}

std::string hexDump(const uint8_t* data, size_t length) {
  static const char digits[] = "0123456789ABCDEF";
  std::string result;
  if (length == 0) return result;
  result.reserve(length * 3 - 1);
  for (size_t i = 0; i < length; ++i) {
    if (i != 0) result += ' ';
    result += digits[data[i] >> 4];
    result += digits[data[i] & 0x0F];
  }
  return result;
}

std::string hexDump(const Command& command) { return hexDump(command.data(), command.size()); }

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
