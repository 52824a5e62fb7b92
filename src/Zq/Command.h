// The byte buffer of one request to a terminal or one reply from it, and its text helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Zq {

class Command {
public:
  Command() = default;
  virtual ~Command() = default;

  void append(uint8_t byte) { bytes.push_back(byte); }
  // Appends the characters of a text, without its terminating zero.
  void appendText(const std::string& text);
  void clear() { bytes.clear(); }

  size_t size() const { return bytes.size(); }
  const uint8_t* data() const { return bytes.data(); }

  std::vector<uint8_t> bytes;
};

// "02 31 31 52 4E 0D": upper-case pairs separated by one blank.
std::string hexDump(const Command& command);
std::string hexDump(const uint8_t* data, size_t length);

std::string toDecimalString(int32_t value);

// Cuts `text` at any of the characters of `delimiters`, keeping empty tokens: the result
// has one token more than the text has delimiters. A null delimiter set gives no tokens.
std::vector<std::string> split(const std::string& text, const char* delimiters);

// Reads a number the way atoi/strtol do: leading blanks, a sign, digits up to the first
// other character, 0 when there are none. Saturates instead of overflowing.
int32_t readDecimal(const char* text);
long readHex(const char* text);

}  // namespace Zq
