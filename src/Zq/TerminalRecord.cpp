// Only operating-system independent code.
#include "Zq/TerminalRecord.h"

#include <algorithm>
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

}  // namespace

bool writeRecord(std::FILE* stream, const TerminalRecord& record, CardFormat cardFormat) {
  // A card shorter than its field arrives padded with zero bytes: they are no digits, and
  // padding or converting them would put bytes after the card into the file.
  std::string text = record.cardNumber;
  std::string date = record.date;
  std::string time = record.time;
  bool altered = cleanField(text);
  altered = cleanField(date) || altered;
  altered = cleanField(time) || altered;
  std::string card;
  switch (cardFormat) {
    case CardDecimal: card = cardToDecimal(text); break;
    case CardHex8: card = cardToHex8(text); break;
    default: card = text; break;
  }
  std::fprintf(stream, "%s\t%d\t%s\t%s\t%02d\r\n", card.c_str(), static_cast<int>(record.eventCode), date.c_str(),
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
