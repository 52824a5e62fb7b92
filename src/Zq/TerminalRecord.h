// The common record of every terminal family and the one writer of data-file lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Common/File.h"

namespace Zq {

struct TerminalRecord {
  std::string cardNumber;  // hexadecimal digits as the terminal gives them
  int32_t eventCode = 1;   // 1..4
  std::string date;        // DD.MM.YYYY
  std::string time;        // hh:mm:ss
  int32_t extraCode = 0;
};

// Card-number modes of -n.
enum CardFormat : int32_t { CardAsIs = 0, CardDecimal = 1, CardHex8 = 2 };

std::string cardToHex8(const std::string& card);
std::string cardToDecimal(const std::string& card);

// Appends one CR LF terminated line; a failed write shows in the stream's error flag. The card
// text ends at its first zero character before it is formatted in any mode. A TAB, CR or LF inside
// a field would shift the columns or make up a line: each is written as a space, and the result
// is then true (the caller logs it with the record's index).
bool writeRecord(std::FILE* stream, const TerminalRecord& record, CardFormat cardFormat);

// Opens the data file for a download: created or emptied, CR LF written by writeRecord
// itself so that the file is byte-identical on every platform, and a large buffer.
bool openDataFile(Common::File& file, const std::string& fileName);

// Ends a download's writing: everything on stable storage and the stream closed.
// False when any byte may be missing from the file.
bool finishDataFile(Common::File& file);

}  // namespace Zq
