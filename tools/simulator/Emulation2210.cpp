// The 2210 terminal.
#include "Emulation2210.h"

#include <cstdio>
#include <cstdlib>

#include "Family.h"

namespace Simulator {

namespace {

// A reply's code is one letter, N unless --error names it. The 2210 answers record by record, and
// its line is no TCP connection: one program at a time can be on it.
std::string checkOption(const std::string& option, Options& options) {
  if (option == "--send-all") return option + ": only the 870 streams its records";
  if (option == "--close-after") return option + " works on TCP connections only";
  if (option == "--parallel") return option + " works on TCP connections only (870, QVK, 735)";
  if (option != "--error") return "";
  std::string& code = options.errors.back().value;
  if (code.empty()) code = "N";
  return code.size() == 1 ? "" : option + ": a 2210 reply code is one letter";
}

}  // namespace

const Family Emulation2210::family = {
    {"2210"},                                          // MODEL
    {"LI", "LO", "RA", "RN", "RG", "RH", "RI", "IS"},  // what SEL may name
    true,                                              // on a pseudo-terminal
    checkOption,
    nullptr,  // no rule waits for the whole command line
    makeEmulation<Emulation2210>,
};

bool Emulation2210::readFrame(const std::string& body, Request& request) const {
  if (body.size() < 4 || body.compare(0, 2, "11") != 0) return false;
  request.command = body.substr(2, 2);
  request.args = body.substr(4);
  if (request.command == "RG") {
    request.argument = request.args;
  } else if (request.command == "IS") {
    // "NAME"00value
    size_t close = request.args.find('"', 1);
    if (!request.args.empty() && request.args[0] == '"' && close != std::string::npos)
      request.argument = request.args.substr(1, close - 1);
  }
  return true;
}

Reply Emulation2210::answer(const Request& request) {
  const std::string& c = request.command;
  if (c == "LI" || c == "LO" || c == "RA" || c == "RH") return reply('A', "");
  if (c == "RN") return reply('A', countOverridden() ? countText() : std::to_string(recordCount()));
  if (c == "RG") return recordReply(request);
  if (c == "RI") {
    clearRecords();
    return reply('A', "");
  }
  if (c == "IS") return setItem(request);
  return reply('I', "");
}

Reply Emulation2210::refuse(const Request&, const std::string& code) { return reply(code[0], ""); }

Reply Emulation2210::recordReply(const Request& request) const {
  const std::string& a = request.args;
  if (a.empty() || a.find_first_not_of("0123456789") != std::string::npos) return reply('C', "");
  unsigned long long index = std::strtoull(a.c_str(), nullptr, 10);
  if (index >= recordCount()) return reply('N', "");
  return reply('A', std::string(records.at(index)));
}

Reply Emulation2210::setItem(const Request& request) {
  const std::string& name = request.argument;
  size_t at = name.size() + 2;  // after the quoted name
  const std::string& a = request.args;
  if (name.empty() || a.compare(at, 2, "00") != 0) return reply('C', "");
  std::string value = a.substr(at + 2);
  DateTime t;
  if (name == "DATE") {
    if (!readDateTime(value, "DD-MM-YYYY", t)) return reply('C', "");
    date = t.dateText();
    return reply('A', "");
  }
  if (name == "TIME") {
    if (!readDateTime(value, "hh:mm:ss", t)) return reply('C', "");
    announceClock((date.empty() ? std::string("(date unchanged)") : date) + " " + value);
    return reply('A', "");
  }
  return reply('N', "");
}

void Emulation2210::generateRecord(long index, const DateTime& time, std::string& record) const {
  char line[96];
  std::snprintf(line, sizeof line, "%ld\t%02d-%02d-%04d\t%02d:%02d:%02d\tX%08X\t%ld", index % 4 + 1, time.day,
                time.month, time.year, time.hour, time.minute, time.second,
                0x0012AB34u + static_cast<unsigned>(index) * 7919u, index % 10);
  record = line;
}

Reply Emulation2210::reply(char code, const std::string& data) { return frame("11" + std::string(1, code) + data); }

}  // namespace Simulator
