// The 735 terminal.
#include "Emulation735.h"

#include <cstdio>
#include <cstdlib>

#include "Family.h"

namespace Simulator {

namespace {

const char HexDigits[] = "0123456789ABCDEFabcdef";

// The two characters before the closing CR of a data reply: the sum of the data bytes, in hex.
std::string check(const std::string& data) {
  unsigned sum = 0;
  for (unsigned char c : data) sum += c;
  char text[4];
  std::snprintf(text, sizeof text, "%02X", sum & 0xFF);
  return text;
}

bool allOf(const std::string& text, const char* set) {
  return !text.empty() && text.find_first_not_of(set) == std::string::npos;
}

std::string hex4(unsigned long long n) {
  char text[24];
  std::snprintf(text, sizeof text, "%04llX", n);
  return text;
}

// An error reply carries two code characters, 07 unless --error names them. The 735 answers
// record by record rather than streaming them.
std::string checkOption(const std::string& option, Options& options) {
  if (option == "--send-all") return option + ": only the 870 streams its records";
  if (option != "--error") return "";
  std::string& code = options.errors.back().value;
  if (code.empty()) code = "07";
  return code.size() == 2 ? "" : option + ": a 735 error code is two characters, e.g. 06";
}

std::string checkCommandLine(const Options& options) {
  return options.link.empty() ? "" : "--link is for the serial 2210 only";
}

}  // namespace

const Family Emulation735::family = {
    {"735"},                    // MODEL
    {"D", "N", "G", "S", "E"},  // what SEL may name
    false,                      // on a TCP port
    checkOption,
    checkCommandLine,
    makeEmulation<Emulation735>,
};

bool Emulation735::readFrame(const std::string& body, Request& request) const {
  if (body.empty()) return false;
  request.command = body.substr(0, 1);
  request.args = body.substr(1);
  if (request.command == "G" && allOf(request.args, HexDigits))
    request.argument = std::to_string(std::strtoul(request.args.c_str(), nullptr, 16));
  return true;
}

Reply Emulation735::answer(const Request& request) {
  const std::string& c = request.command;
  const std::string& args = request.args;
  if (c == "D") return allOf(args, HexDigits) && args.size() == 2 ? accepted(args, false) : error("04");
  if (c == "N") return countReply();
  if (c == "G") return recordReply(request);
  if (c == "S") return setClock(args) ? accepted("", false) : error("04");
  if (c == "E") {
    clearRecords();
    return accepted("", false);
  }
  return error("04");
}

Reply Emulation735::refuse(const Request&, const std::string& code) { return error(code); }

Reply Emulation735::countReply() const {
  if (!countOverridden()) return accepted(hex4(recordCount()), true);
  const std::string& text = countText();
  if (allOf(text, "0123456789")) return accepted(hex4(std::strtoull(text.c_str(), nullptr, 10)), true);
  return accepted(text, true);
}

Reply Emulation735::recordReply(const Request& request) const {
  if (request.argument.empty()) return error("04");
  unsigned long index = std::strtoul(request.argument.c_str(), nullptr, 10);
  if (index >= recordCount()) return error("06");
  return accepted(std::string(records.at(index)), true);
}

void Emulation735::generateRecord(long index, const DateTime& time, std::string& record) const {
  char line[96];
  std::snprintf(line, sizeof line, "%ld,%08X,%ld,%04d/%02d/%02d,%02d:%02d:%02d", index % 16 + 1,
                0x0001A2B3u + static_cast<unsigned>(index) * 7919u, index % 2, time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  record = line;
}

Reply Emulation735::accepted(const std::string& data, bool withCheck) {
  return frame("A" + data + (withCheck ? check(data) : ""));
}

Reply Emulation735::error(const std::string& code) { return frame("N" + code); }

}  // namespace Simulator
