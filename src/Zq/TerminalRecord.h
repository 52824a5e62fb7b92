// The common record of every terminal family and the one writer of data-file lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

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

// The data file of one download, from its opening to its end. How a download ends is decided
// here for every family: a download that is saved is complete (an empty terminal gives an empty
// file, flushed like any other); one that ends any other way leaves the file empty when this
// object goes away, so that half a terminal's memory never looks like a complete download. The
// lines are written under a temporary name and reach the file's own name only by a rename, so that
// not even a killed run or a power loss leaves a torn line there.
class DownloadFile {
public:
  explicit DownloadFile(std::string fileName) : fileName(std::move(fileName)) {}
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;
  ~DownloadFile();

  // Creates the temporary file; false when it cannot be had (the file is then left as it was).
  bool open();
  std::FILE* stream() const { return file.handle(); }
  const std::string& name() const { return fileName; }
  // False once a line failed to reach the stream.
  bool good() const { return file.good(); }
  // Hands the lines written so far to the operating system; false when any failed.
  bool flush();
  // Puts every line written so far on stable storage and in place under the file's name, which
  // then stays as it is. False, with the file emptied, when any byte may be missing.
  bool save();

private:
  std::string fileName;
  Common::ReplacingFile file;
  bool pending = false;  // open, and neither saved nor emptied yet
};

}  // namespace Zq
