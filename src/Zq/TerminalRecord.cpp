// Only operating-system independent code.
#include "Zq/TerminalRecord.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Common/File.h"
#include "Zq/Command.h"

namespace Zq {

std::string cardToHex8(const std::string& card) {
  if (card.size() > 8) return card.substr(card.size() - 8);
  return std::string(8 - card.size(), '0') + card;
}

std::string cardToDecimal(const std::string& card) {
  const std::string hex = cardToHex8(card);
  std::string result;
  for (size_t i = 0; i < 8; i += 2) {
    const std::string pair = hex.substr(i, 2);
    result += toDecimalString(static_cast<int32_t>(std::strtol(pair.c_str(), nullptr, 16)));
  }
  return result;
}

namespace {

// Writes a field as text up to its first zero character, a TAB, CR or LF in it as a space; true
// when there was one.
bool cleanField(std::string& field) {
  field.erase(std::min(field.find('\0'), field.size()));
  bool altered = false;
  for (char& c : field) {
    if (c == '\t' || c == '\r' || c == '\n') {
      c = ' ';
      altered = true;
    }
  }
  return altered;
}

// Whether cleanField would change `field`, byte by byte.
bool holdsCleanedByte(const std::string& field) {
  for (const char c : field) {
    if (c == '\0' || c == '\t' || c == '\r' || c == '\n') return true;
  }
  return false;
}

// Whether any of the 8 bytes at `bytes` is at or below CR, as all four that cleanField changes are.
bool anyAtOrBelowCR(const char* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  const uint64_t ones = 0x0101010101010101u;
  return ((word - ones * ('\r' + 1)) & ~word & (ones * 0x80)) != 0;
}

// Whether cleanField would change `field`. Run on every field of every line, so eight bytes are
// passed at a time (the last eight may overlap the ones before); only a byte at or below CR costs
// the byte-by-byte look.
bool needsCleaning(const std::string& field) {
  const size_t size = field.size();
  if (size < 8) return holdsCleanedByte(field);
  const char* bytes = field.data();
  bool low = anyAtOrBelowCR(bytes + size - 8);
  for (size_t at = 0; !low && at + 8 < size; at += 8) low = anyAtOrBelowCR(bytes + at);
  return low && holdsCleanedByte(field);
}

// `field` itself when it is clean, otherwise its cleaned copy in `copy`; `altered` set when a TAB,
// CR or LF had to become a space.
const std::string& cleaned(const std::string& field, std::string& copy, bool& altered) {
  if (!needsCleaning(field)) return field;
  copy = field;
  altered = cleanField(copy) || altered;
  return copy;
}

}  // namespace

bool writeRecord(std::FILE* stream, const TerminalRecord& record, CardFormat cardFormat) {
  // Fields are copied only when there is something to clean: a download writes a million lines.
  std::string textCopy, dateCopy, timeCopy;
  bool altered = false;
  // A card shorter than its field arrives padded with zero bytes: they are no digits, and
  // padding or converting them would put bytes after the card into the file.
  const std::string& text = cleaned(record.cardNumber, textCopy, altered);
  const std::string& date = cleaned(record.date, dateCopy, altered);
  const std::string& time = cleaned(record.time, timeCopy, altered);
  std::string converted;
  const std::string* card = &text;
  switch (cardFormat) {
    case CardDecimal: card = &(converted = cardToDecimal(text)); break;
    case CardHex8: card = &(converted = cardToHex8(text)); break;
    default: break;
  }
  std::fprintf(stream, "%s\t%d\t%s\t%s\t%02d\r\n", card->c_str(), static_cast<int>(record.eventCode), date.c_str(),
               time.c_str(), static_cast<int>(record.extraCode));
  return altered;
}

bool openDataFile(Common::File& file, const std::string& fileName) {
  if (!file.openExclusive(fileName.c_str(), "wb")) return false;
  std::setvbuf(file.handle, nullptr, _IOFBF, 64 * 1024);
  return true;
}

bool finishDataFile(Common::File& file) {
  const bool synced = file.sync();
  const bool closed = file.close();
  return synced && closed;
}

}  // namespace Zq
