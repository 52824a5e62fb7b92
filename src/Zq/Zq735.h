// Driver of the 735 terminal family: framed one-letter commands, comma-separated records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Common/Clock.h"
#include "Zq/Terminal.h"

namespace Zq {

class Command;

class Zq735 : public TCPConnection, public Common::SocketEvent {
public:
  Zq735();

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, CardFormat cardFormat) override;
  // updateDateTime with a given local time instead of the PC's clock.
  bool setDateTime(const Common::LocalTime& now);

  // Decodes one record text of "G" and appends its line to the open data file.
  bool dumpRecord(const std::string& record, std::FILE* stream, CardFormat cardFormat);

  // Select the designated terminal: the reply's text, empty on failure.
  std::string cmd_d();
  // Number of stored records, -1 on failure.
  int32_t cmd_n();
  // One record text by its 0-based index, empty on failure.
  std::string cmd_g(int32_t recordIndex);
  // Set the clock to `dateTime` (YYYYMMDDhhmmss); null is refused.
  bool cmd_s(const char* dateTime);
  // Erase the stored records.
  bool cmd_e();

  // A reply is complete once its carriage return has arrived.
  bool onReceive(const uint8_t* data, int32_t length) override;

  // Judges a received reply to the command `letter`: accepted, and at least `minimumSize`
  // bytes long so that what the command cuts out of it exists. Logs why not.
  static bool checkReply(char letter, size_t minimumSize, const Command& reply);
  // The record count of an accepted "N" reply of at least 5 bytes; -1, logged, unless its
  // count text is hexadecimal digits only.
  static int32_t replyCount(const Command& reply);

private:
  // Sends one frame and receives its reply into `reply`. True for an accepted reply of at
  // least `minimumSize` bytes; every failure is logged in the name of cmd_<letter>.
  bool exchange(char letter, const std::string& argument, size_t minimumSize, Command& reply);
};

// The two digits of an error reply (bytes 2 and 3) as a decimal number; non-digits give 0.
int32_t replyErrorCode(const Command& reply);
// The terminal's text for an error code; empty for codes without one.
const char* errorCodeText(int32_t code);

}  // namespace Zq
