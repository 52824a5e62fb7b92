// The 735 terminal: frames STX, letter, arguments, CR; replies STX "A" ... CR or STX "N" code CR.
#pragma once

#include <string>

#include "FramedEmulation.h"

namespace Simulator {

class Emulation735 : public FramedEmulation {
public:
  static const Family family;

  using FramedEmulation::FramedEmulation;

protected:
  bool readFrame(const std::string& body, Request& request) const override;
  Reply answer(const Request& request) override;
  Reply refuse(const Request& request, const std::string& code) override;
  void generateRecord(long index, const DateTime& time, std::string& record) const override;

private:
  // N: the count in hex (at least 4 digits), or --count's text when that is not a number.
  Reply countReply() const;
  // G: the record of the request's index; error 06 past the last one.
  Reply recordReply(const Request& request) const;

  // An accepted reply: STX "A", the data, their check characters when asked for, CR.
  static Reply accepted(const std::string& data, bool withCheck);
  // An error reply: STX "N", the two code characters, CR.
  static Reply error(const std::string& code);
};

}  // namespace Simulator
