// Driver of the 735 terminal family: framed one-letter commands, comma-separated records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Common/Clock.h"
#include "Zq/Command.h"
#include "Zq/Terminal.h"

namespace Zq {

class DownloadFile;

class Zq735 : public TCPConnection, public Common::SocketEvent {
public:
  Zq735();

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, CardFormat cardFormat) override;
  // updateDateTime with a given local time instead of the PC's clock.
  bool setDateTime(const Common::LocalTime& now);

  // Decodes one record text of "G" and appends its line to the open data file; `index` names the
  // record in a Warning about control characters in its fields.
  bool dumpRecord(const std::string& record, std::FILE* stream, CardFormat cardFormat, int32_t index = 0);

  // Select the designated terminal: the reply's text, empty on failure.
  std::string cmd_d();
  // Number of stored records, -1 on failure.
  int32_t cmd_n();
  // One record text by its 0-based index, empty on failure.
  std::string cmd_g(int32_t recordIndex);
  // Set the clock to `dateTime` (YYYYMMDDhhmmss); null is refused.
  bool cmd_s(const char* dateTime);
  // Erase the stored records; only on a connection that is in step.
  bool cmd_e();

  // A reply is complete once its carriage return has arrived.
  bool onReceive(const uint8_t* data, int32_t length) override;

  // Judges a received reply to the command `letter`: accepted, and at least `minimumSize`
  // bytes long so that what the command cuts out of it exists. Logs why not.
  static bool checkReply(char letter, size_t minimumSize, const Command& reply);
  // The record count of an accepted "N" reply of at least 5 bytes; -1, logged, unless its
  // count text is hexadecimal digits only.
  static int32_t replyCount(const Command& reply);

  // Rounds of "N" after the last record, for records punched while the download ran.
  static constexpr int TopUpRounds = 3;

private:
  // Sends one frame and receives its reply into `reply`, cut at its own CR (what follows it is
  // left for the next request to find). True for an accepted reply of at least `minimumSize`
  // bytes; every failure is logged in the name of cmd_<letter>.
  bool exchange(char letter, const std::string& argument, size_t minimumSize, Command& reply);
  // Fetches and writes records `from` up to `count`; false, logged, when one fails.
  bool fetchRecords(DownloadFile& download, int32_t from, int32_t count, CardFormat cardFormat);

  // The records the last download saved; -1 while none was saved. The clearing compares the
  // terminal's count with it.
  int32_t savedRecords = -1;
};

// The two digits of an error reply (bytes 2 and 3) as a decimal number; non-digits give 0.
int32_t replyErrorCode(const Command& reply);
// The terminal's text for an error code; empty for codes without one.
const char* errorCodeText(int32_t code);

}  // namespace Zq
