// A request to a terminal or a reply from it, and the text helpers the drivers read them with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Common/ByteBuffer.h"

namespace Zq {

// The drivers' name for the byte buffer of one request or reply.
using Command = Common::ByteBuffer;

using Common::hexDump;

std::string toDecimalString(int32_t value);

// Cuts `text` at any of the characters of `delimiters`, keeping empty tokens: the result
// has one token more than the text has delimiters. A null delimiter set gives no tokens.
std::vector<std::string> split(const std::string& text, const char* delimiters);

// Reads a number the way atoi/strtol do: leading blanks, a sign, digits up to the first
// other character, 0 when there are none. Saturates instead of overflowing.
int32_t readDecimal(const char* text);
long readHex(const char* text);

}  // namespace Zq
