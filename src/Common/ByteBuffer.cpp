// Only operating-system independent code.
#include "Common/ByteBuffer.h"

#include <cstring>

namespace Common {

void ByteBuffer::appendText(const std::string& text) {
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

std::string hexDump(const ByteBuffer& buffer) { return hexDump(buffer.data(), buffer.size()); }

}  // namespace Common
