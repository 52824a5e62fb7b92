// The 870/QVK terminal.
#include "Emulation870.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Output.h"

namespace Simulator {

namespace {

const char GetLogData[] = "GETLOGDATA";
const char SetTime[] = "SETTIME";
const char ClearLog[] = "CLEARLOG";
// SETTIME, two characters (taken as they come), YYYYMMDDhhmmss.
const size_t SetTimeClockAt = 7 + 2;
const size_t SetTimeSize = SetTimeClockAt + 14;

void put2(char* p, int v) {
  p[0] = static_cast<char>('0' + v / 10 % 10);
  p[1] = static_cast<char>('0' + v % 10);
}

}  // namespace

bool Emulation870::nextRequest(std::string& input, Request& request) {
  if (input.empty()) return false;
  struct Word {
    const char* text;
    size_t size;
  };
  static const Word words[] = {{GetLogData, 10}, {ClearLog, 8}, {SetTime, SetTimeSize}};
  for (const Word& w : words) {
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

Reply Emulation870::answer(const Request& request) {
  if (request.command == GetLogData) return download();
  if (request.command == SetTime) return Reply(setClock(request.raw.substr(SetTimeClockAt)) ? "OK" : "NO");
  if (request.command == ClearLog) {
    clearRecords();
    return Reply("OK");
  }
  Reply reply;
  reply.silent = true;  // a word it does not know: the terminal says nothing
  return reply;
}

Reply Emulation870::refuse(const Request&, const std::string&) { return Reply("NO"); }

Reply Emulation870::download() const {
  uint64_t stored = recordCount();
  uint64_t announced = countOverridden() ? std::strtoull(countText().c_str(), nullptr, 0) : stored;
  // --send-all: more than announced when more is stored, as a terminal that lost its count would.
  uint64_t sent = options.sendAll ? stored : std::min(stored, announced);
  std::string stream(4, '\0');
  stream[0] = static_cast<char>(announced >> 24);
  stream[1] = static_cast<char>(announced >> 16);
  stream[2] = static_cast<char>(announced >> 8);
  stream[3] = static_cast<char>(announced);
  stream += records.first(sent);
  if (sent < announced && options.verbose)
    say("announced %llu records, %llu stored: the stream stops after them", static_cast<unsigned long long>(announced),
        static_cast<unsigned long long>(sent));
  return Reply(std::move(stream));
}

void Emulation870::generateRecord(long index, const DateTime& time, std::string& record) const {
  // Written in place rather than formatted: a million records are made in a moment.
  static const char hex[] = "0123456789ABCDEF";
  record.resize(RecordSize);
  char* r = &record[0];
  uint32_t card = 0x00A1B2C3u + static_cast<uint32_t>(index) * 7919u;
  for (int k = 0; k < 8; ++k) r[k] = hex[(card >> (28 - 4 * k)) & 0xF];
  r[8] = ' ';
  r[9] = static_cast<char>('0' + index % 4);
  put2(r + 10, time.year / 100);
  put2(r + 12, time.year % 100);
  put2(r + 14, time.month);
  put2(r + 16, time.day);
  put2(r + 18, time.hour);
  put2(r + 20, time.minute);
  put2(r + 22, time.second);
  r[24] = '0';
  r[25] = '0';
}

bool Emulation870::acceptRecord(const std::string& line, size_t number) const {
  if (line.size() == RecordSize) return true;
  std::fprintf(stderr, "Zq-TerminalSimulator: %s line %zu: an 870 record is 26 characters, not %zu\n",
               options.recordsFile.c_str(), number, line.size());
  return false;
}

}  // namespace Simulator
