// The 870/QVK terminal: bare command words, a binary record stream, "OK"/"NO" replies.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Emulation.h"

namespace Simulator {

namespace {

const size_t kRecordSize = 26;
const char kGetLogData[] = "GETLOGDATA";
const char kSetTime[] = "SETTIME";
const char kClearLog[] = "CLEARLOG";
const size_t kSetTimeSize = 7 + 2 + 14;

void put2(char* p, int v) {
  p[0] = static_cast<char>('0' + v / 10 % 10);
  p[1] = static_cast<char>('0' + v % 10);
}

class Emulation870 : public Emulation {
public:
  using Emulation::Emulation;

  bool loadRecords() override {
    if (options_.generate >= 0) {
      // Built once into one buffer: a download is then a few large writes, however many records.
      records_.resize(static_cast<size_t>(options_.generate) * kRecordSize);
      static const char kHex[] = "0123456789ABCDEF";
      for (long i = 0; i < options_.generate; ++i) {
        char* r = &records_[static_cast<size_t>(i) * kRecordSize];
        uint32_t card = 0x00A1B2C3u + static_cast<uint32_t>(i) * 7919u;
        for (int k = 0; k < 8; ++k) r[k] = kHex[(card >> (28 - 4 * k)) & 0xF];
        r[8] = ' ';
        r[9] = static_cast<char>('0' + i % 4);
        DateTime t = generatedTime(static_cast<uint64_t>(i) * 61 + 8 * 3600);
        put2(r + 10, t.year / 100);
        put2(r + 12, t.year % 100);
        put2(r + 14, t.month);
        put2(r + 16, t.day);
        put2(r + 18, t.hour);
        put2(r + 20, t.minute);
        put2(r + 22, t.second);
        r[24] = '0';
        r[25] = '0';
      }
      return true;
    }
    if (options_.recordsFile.empty()) return true;
    std::vector<std::string> lines;
    if (!readLines(lines)) return false;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].size() != kRecordSize) {
        std::fprintf(stderr, "Zq-TerminalSimulator: %s line %zu: an 870 record is 26 characters, not %zu\n",
                     options_.recordsFile.c_str(), i + 1, lines[i].size());
        return false;
      }
      records_ += lines[i];
    }
    return true;
  }

  size_t recordCount() const override { return records_.size() / kRecordSize; }

  bool nextRequest(std::string& input, Request& request) override {
    if (input.empty()) return false;
    // No terminator: a request is recognised by its word (and SETTIME by its fixed length).
    struct Word {
      const char* text;
      size_t size;
    };
    static const Word kWords[] = {{kGetLogData, 10}, {kClearLog, 8}, {kSetTime, kSetTimeSize}};
    for (const Word& w : kWords) {
      size_t prefix = std::strlen(w.text);
      size_t n = std::min(prefix, input.size());
      if (input.compare(0, n, w.text, n) != 0) continue;
      if (input.size() < w.size) return false;  // the start of a known word: wait for the rest
      request.command = w.text;
      request.raw = input.substr(0, w.size);
      input.erase(0, w.size);
      return true;
    }
    // Not a word this terminal knows: whatever arrived together is taken as one unknown request.
    request.command = "?";
    request.raw = input;
    input.clear();
    return true;
  }

protected:
  bool framed() const override { return false; }

  Reply answer(const Request& request) override {
    Reply reply;
    if (request.command == kGetLogData) {
      uint64_t stored = recordCount();
      uint64_t announced = countOverridden() ? std::strtoull(countText().c_str(), nullptr, 0) : stored;
      uint64_t sent = std::min(stored, announced);
      std::string stream(4 + sent * kRecordSize, '\0');
      stream[0] = static_cast<char>(announced >> 24);
      stream[1] = static_cast<char>(announced >> 16);
      stream[2] = static_cast<char>(announced >> 8);
      stream[3] = static_cast<char>(announced);
      std::memcpy(&stream[4], records_.data(), sent * kRecordSize);
      reply.segments.push_back(std::move(stream));
      if (sent < announced && options_.verbose)
        say("announced %llu records, %llu stored: the stream stops after them",
            static_cast<unsigned long long>(announced), static_cast<unsigned long long>(sent));
    } else if (request.command == kSetTime) {
      // SETTIME, two characters (taken as they come), YYYYMMDDhhmmss.
      const std::string digits = request.raw.substr(9);
      bool ok = digits.find_first_not_of("0123456789") == std::string::npos;
      DateTime t{};
      if (ok) {
        auto num = [&](size_t at, size_t len) { return std::atoi(digits.substr(at, len).c_str()); };
        t = DateTime{num(0, 4), num(4, 2), num(6, 2), num(8, 2), num(10, 2), num(12, 2)};
        ok = validDateTime(t);
      }
      if (ok) {
        char clock[32];
        std::snprintf(clock, sizeof clock, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second);
        announceClock(clock);
      } else {
        say("clock not set: bad value %s", printable(digits).c_str());
      }
      reply.segments.push_back(ok ? "OK" : "NO");
    } else if (request.command == kClearLog) {
      announceCleared(recordCount());
      records_.clear();
      reply.segments.push_back("OK");
    } else {
      reply.silent = true;  // a word it does not know: the terminal says nothing
    }
    return reply;
  }

  Reply refuse(const Request&, const std::string&) override {
    Reply reply;
    reply.segments.push_back("NO");
    return reply;
  }

private:
  std::string records_;  // 26 bytes per record, back to back, as they go on the wire
};

}  // namespace

std::unique_ptr<Emulation> makeEmulation870(const Options& options) {
  return std::make_unique<Emulation870>(options);
}

}  // namespace Simulator
