// The 2210 terminal: requests STX "11" two letters arguments CR; replies STX "11", a code letter, data, CR.
#include <cstdio>
#include <cstdlib>

#include "Emulation.h"

namespace Simulator {

namespace {

const char STX = 0x02;

bool digitsAt(const std::string& text, std::initializer_list<size_t> positions) {
  for (size_t p : positions)
    if (p >= text.size() || text[p] < '0' || text[p] > '9') return false;
  return true;
}

class Emulation2210 : public Emulation {
public:
  using Emulation::Emulation;

  bool loadRecords() override {
    if (options_.generate >= 0) {
      records_.reserve(static_cast<size_t>(options_.generate));
      for (long i = 0; i < options_.generate; ++i) {
        DateTime t = generatedTime(static_cast<uint64_t>(i) * 61 + 8 * 3600);
        char line[96];
        std::snprintf(line, sizeof line, "%ld\t%02d-%02d-%04d\t%02d:%02d:%02d\tX%08X\t%ld", i % 4 + 1, t.day, t.month,
                      t.year, t.hour, t.minute, t.second, 0x0012AB34u + static_cast<unsigned>(i) * 7919u, i % 10);
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
    if (stx == std::string::npos || stx + 5 > cr || request.raw.compare(stx + 1, 2, "11") != 0) {
      request.command = "?";
      return true;
    }
    request.command = request.raw.substr(stx + 3, 2);
    request.args = request.raw.substr(stx + 5, cr - stx - 5);
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

  bool endsDialogue(const Request& request) const override { return request.command == "LO"; }

protected:
  Reply answer(const Request& request) override {
    const std::string& c = request.command;
    if (c == "LI" || c == "LO" || c == "RA" || c == "RH") return reply('A', "");
    if (c == "RN") {
      if (countOverridden()) return reply('A', countText());
      return reply('A', std::to_string(records_.size()));
    }
    if (c == "RG") {
      const std::string& a = request.args;
      if (a.empty() || a.find_first_not_of("0123456789") != std::string::npos) return reply('C', "");
      unsigned long long index = std::strtoull(a.c_str(), nullptr, 10);
      if (index >= records_.size()) return reply('N', "");
      return reply('A', records_[index]);
    }
    if (c == "RI") {
      announceCleared(records_.size());
      records_.clear();
      return reply('A', "");
    }
    if (c == "IS") return setItem(request);
    return reply('I', "");
  }

  Reply refuse(const Request&, const std::string& code) override { return reply(code[0], ""); }

private:
  Reply setItem(const Request& request) {
    const std::string& name = request.argument;
    size_t at = name.size() + 2;  // after the quoted name
    const std::string& a = request.args;
    if (name.empty() || a.compare(at, 2, "00") != 0) return reply('C', "");
    std::string value = a.substr(at + 2);
    if (name == "DATE") {
      // dd-mm-yyyy
      if (value.size() != 10 || value[2] != '-' || value[5] != '-' || !digitsAt(value, {0, 1, 3, 4, 6, 7, 8, 9}))
        return reply('C', "");
      DateTime t{std::atoi(value.substr(6).c_str()), std::atoi(value.substr(3, 2).c_str()),
                 std::atoi(value.substr(0, 2).c_str()), 0, 0, 0};
      if (!validDateTime(t)) return reply('C', "");
      char text[16];
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
      date_ = text;
      return reply('A', "");
    }
    if (name == "TIME") {
      // hh:mm:ss
      if (value.size() != 8 || value[2] != ':' || value[5] != ':' || !digitsAt(value, {0, 1, 3, 4, 6, 7}))
        return reply('C', "");
      DateTime t{2000, 1, 1, std::atoi(value.substr(0, 2).c_str()), std::atoi(value.substr(3, 2).c_str()),
                 std::atoi(value.substr(6, 2).c_str())};
      if (!validDateTime(t)) return reply('C', "");
      announceClock((date_.empty() ? std::string("(date unchanged)") : date_) + " " + value);
      return reply('A', "");
    }
    return reply('N', "");
  }

  static Reply reply(char code, const std::string& data) {
    Reply r;
    r.segments.push_back(std::string(1, STX) + "11" + code + data + "\r");
    return r;
  }

  std::vector<std::string> records_;
  std::string date_;  // the date item last set, YYYY-MM-DD
};

}  // namespace

std::unique_ptr<Emulation> makeEmulation2210(const Options& options) {
  return std::make_unique<Emulation2210>(options);
}

}  // namespace Simulator
