// The 2210 terminal: requests STX "11" two letters arguments CR; replies STX "11", a code letter, data, CR.
#pragma once

#include <string>

#include "FramedEmulation.h"

namespace Simulator {

class Emulation2210 : public FramedEmulation {
public:
  static const Family family;

  using FramedEmulation::FramedEmulation;

  bool endsDialogue(const Request& request) const override { return request.command == "LO"; }

protected:
  bool readFrame(const std::string& body, Request& request) const override;
  Reply answer(const Request& request) override;
  Reply refuse(const Request& request, const std::string& code) override;
  void generateRecord(long index, const DateTime& time, std::string& record) const override;

private:
  // RG<n>: the record, N past the last one, C for an index that is not a number.
  Reply recordReply(const Request& request) const;
  // IS"DATE"00dd-mm-yyyy, IS"TIME"00hh:mm:ss: C for a malformed value, N for another item.
  Reply setItem(const Request& request);

  static Reply reply(char code, const std::string& data);

  std::string date;  // the date item last set, YYYY-MM-DD
};

}  // namespace Simulator
