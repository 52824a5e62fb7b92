// Driver of the 2210 terminal family: short STX "11" <letters> <arguments> CR requests over
// the serial line, each answered by one reply whose fourth byte is the reply code.
// Kept on purpose: dumpRecord is virtual although nothing overrides it, so that a 2210 variant
// with its own record text needs only that one function.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Common/Clock.h"
#include "Zq/Command.h"
#include "Zq/Terminal.h"

namespace Zq {

class Zq2210 : public COMConnection, public Common::SerialPortEvent {
public:
  Zq2210();
  ~Zq2210() override;

  // Each is one dialogue: log in, the commands, log out.
  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, CardFormat cardFormat) override;
  // Decodes one record text and appends its line to `stream`; false only for an empty text.
  // `index` names the record in a Warning about control characters in its fields.
  virtual bool dumpRecord(std::FILE* stream, const std::string& text, CardFormat cardFormat, int32_t index = 0);

  // True as soon as a CR is among the bytes received so far.
  bool onReceive(const uint8_t* data, int32_t length) override;

  // updateDateTime with a given local time instead of the PC's clock.
  bool setDateTime(const Common::LocalTime& now);

  bool cmd_li();
  bool cmd_lo();
  bool cmd_ra();
  int32_t cmd_rn();                         // the record count, -1 on failure
  std::string cmd_rg(int32_t recordIndex);  // the record text, empty on failure
  bool cmd_rh();
  bool cmd_ri();
  bool cmd_is(const char* itemName, const char* itemValue);

  static const char* replyCodeText(uint8_t code);

  // The line-independent parts of the exchange, shared by the commands above.

  // STX, the command literal ("11RN"), the arguments, CR.
  static Command makeRequest(const char* literal, const std::string& arguments = std::string());
  static Command makeItemRequest(const std::string& itemName, const std::string& itemValue);
  // False, with the reply-error message of `operation` logged, unless the reply code is "A".
  static bool checkReply(const char* operation, const Command& reply);
  // The data of an accepted reply: from position 4 up to, not including, the end byte.
  // False, logged, when the reply is too short to have an end byte.
  static bool replyData(const char* operation, const Command& reply, std::string& data);
  // The count of an accepted "11RN" reply; -1 (logged) when the reply has no end byte or its
  // data is not decimal digits only.
  static int32_t recordCount(const Command& reply);
  // The DATE and TIME item values for `now`; false, logged, when one does not fit.
  static bool prepareDateTime(const Common::LocalTime& now, std::string& date, std::string& time);

private:
  // Sends `request` and receives its reply; false, logged as `operation`, on a send or read
  // failure or a reply code other than "A".
  bool exchange(const char* operation, const char* literal, const Command& request, Command& reply);
  bool simpleCommand(const char* operation, const char* literal);

  // The records the last download saved; -1 while none was saved. The clearing dialogue compares
  // the terminal's count with it.
  int32_t savedRecords = -1;
};

}  // namespace Zq
