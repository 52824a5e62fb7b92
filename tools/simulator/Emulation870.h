// The 870/QVK terminal: bare command words, a binary record stream, "OK"/"NO" replies.
#pragma once

#include <string>

#include "Emulation.h"

namespace Simulator {

class Emulation870 : public Emulation {
public:
  static constexpr size_t RecordSize = 26;
  static const Family family;

  using Emulation::Emulation;

  // No terminator: a request is recognised by its word (and SETTIME by its fixed length).
  bool nextRequest(std::string& input, Request& request) override;

protected:
  Reply answer(const Request& request) override;
  Reply refuse(const Request& request, const std::string& code) override;
  void generateRecord(long index, const DateTime& time, std::string& record) const override;
  bool acceptRecord(const std::string& line, size_t number) const override;

private:
  // GETLOGDATA: the count, most significant byte first, then the records it covers, back to back.
  Reply download() const;
};

}  // namespace Simulator
