// The bytes of one request to a device or one reply from it, grown as they are built or received.
// The terminal drivers know it as Zq::Command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Common {

class ByteBuffer {
public:
  ByteBuffer() = default;
  // Virtual although nothing derives from it: the buffer has always been declared so, and a
  // subclass made for a test may rely on it.
  virtual ~ByteBuffer() = default;

  void append(uint8_t byte) { bytes.push_back(byte); }
  // Appends the characters of a text, without its terminating zero.
  void appendText(const std::string& text);
  void clear() { bytes.clear(); }

  size_t size() const { return bytes.size(); }
  const uint8_t* data() const { return bytes.data(); }

  std::vector<uint8_t> bytes;
};

// "02 31 31 52 4E 0D": upper-case pairs separated by one blank, for log messages.
std::string hexDump(const ByteBuffer& buffer);
std::string hexDump(const uint8_t* data, size_t length);

}  // namespace Common
