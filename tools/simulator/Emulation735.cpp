// The 735 terminal: frames STX, letter, arguments, CR; replies STX "A" ... CR or STX "N" code CR.
#include <cstdio>
#include <cstdlib>

#include "Emulation.h"

namespace Simulator {

namespace {

const char STX = 0x02;

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

class Emulation735 : public Emulation {
public:
  using Emulation::Emulation;

  bool loadRecords() override {
    if (options_.generate >= 0) {
      records_.reserve(static_cast<size_t>(options_.generate));
      for (long i = 0; i < options_.generate; ++i) {
        DateTime t = generatedTime(static_cast<uint64_t>(i) * 61 + 8 * 3600);
        char line[96];
        std::snprintf(line, sizeof line, "%ld,%08X,%ld,%04d/%02d/%02d,%02d:%02d:%02d", i % 16 + 1,
                      0x0001A2B3u + static_cast<unsigned>(i) * 7919u, i % 2, t.year, t.month, t.day, t.hour,
                      t.minute, t.second);
        records_.push_back(line);
      }
      return true;
    }
    return options_.recordsFile.empty() || readLines(records_);
  }

  size_t recordCount() const override { return records_.size(); }

  bool nextRequest(std::string& input, Request& request) override {
    size_t cr = input.find('\r');
    if (cr == std::string::npos) return false;
    request.raw = input.substr(0, cr + 1);
    input.erase(0, cr + 1);
    size_t stx = request.raw.find(STX);
    if (stx == std::string::npos || stx + 2 > cr) {
      request.command = "?";
      return true;
    }
    request.command = request.raw.substr(stx + 1, 1);
    request.args = request.raw.substr(stx + 2, cr - stx - 2);
    request.argument.clear();
    if (request.command == "G" && allOf(request.args, "0123456789ABCDEFabcdef"))
      request.argument = std::to_string(std::strtoul(request.args.c_str(), nullptr, 16));
    return true;
  }

protected:
  Reply answer(const Request& request) override {
    const std::string& c = request.command;
    const std::string& args = request.args;
    if (c == "D") {
      if (!allOf(request.args, "0123456789ABCDEFabcdef") || args.size() != 2) return error("04");
      return accepted(args, false);
    }
    if (c == "N") {
      if (countOverridden()) {
        const std::string& text = countText();
        if (allOf(text, "0123456789")) return accepted(hex4(std::strtoull(text.c_str(), nullptr, 10)), true);
        return accepted(text, true);
      }
      return accepted(hex4(records_.size()), true);
    }
    if (c == "G") {
      if (request.argument.empty()) return error("04");
      unsigned long index = std::strtoul(request.argument.c_str(), nullptr, 10);
      if (index >= records_.size()) return error("06");
      return accepted(records_[index], true);
    }
    if (c == "S") {
      bool ok = args.size() == 14 && allOf(request.args, "0123456789");
      DateTime t{};
      if (ok) {
        auto num = [&](size_t at, size_t len) { return std::atoi(args.substr(at, len).c_str()); };
        t = DateTime{num(0, 4), num(4, 2), num(6, 2), num(8, 2), num(10, 2), num(12, 2)};
        ok = validDateTime(t);
      }
      if (!ok) {
        say("clock not set: bad value %s", printable(args).c_str());
        return error("04");
      }
      char clock[32];
      std::snprintf(clock, sizeof clock, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                    t.second);
      announceClock(clock);
      return accepted("", false);
    }
    if (c == "E") {
      announceCleared(records_.size());
      records_.clear();
      return accepted("", false);
    }
    return error("04");
  }

  Reply refuse(const Request&, const std::string& code) override { return error(code); }

private:
  static std::string hex4(unsigned long long n) {
    char text[24];
    std::snprintf(text, sizeof text, "%04llX", n);
    return text;
  }

  static Reply accepted(const std::string& data, bool withCheck) {
    Reply reply;
    reply.segments.push_back(std::string(1, STX) + "A" + data + (withCheck ? check(data) : "") + "\r");
    return reply;
  }

  static Reply error(const std::string& code) {
    Reply reply;
    reply.segments.push_back(std::string(1, STX) + "N" + code + "\r");
    return reply;
  }

  std::vector<std::string> records_;
};

}  // namespace

std::unique_ptr<Emulation> makeEmulation735(const Options& options) {
  return std::make_unique<Emulation735>(options);
}

}  // namespace Simulator
