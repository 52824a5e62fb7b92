// The text helpers every driver feeds with terminal data: split, the card conversions, hexDump.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Zq/Command.h"
#include "Zq/TerminalRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  size_t delimiters = 0;
  for (char c : text) delimiters += (c == ',' || c == '\t');
  if (Zq::split(text, ",\t").size() != delimiters + 1) __builtin_trap();

  if (Zq::cardToHex8(text).size() != 8) __builtin_trap();
  const std::string decimal = Zq::cardToDecimal(text);
  // Four byte values (a sign may come in through strtol) run together.
  if (decimal.size() < 4 || decimal.size() > 16) __builtin_trap();

  if (size > 0 && Zq::hexDump(data, size).size() != size * 3 - 1) __builtin_trap();
  Zq::readDecimal(text.c_str());
  return 0;
}
