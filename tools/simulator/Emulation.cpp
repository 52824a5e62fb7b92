// Faults common to every family, output helpers and the calendar of generated records.
#include "Emulation.h"

#include <cstdarg>
#include <cstdio>
#include <fstream>

namespace Simulator {

size_t Reply::size() const {
  size_t n = 0;
  for (const std::string& s : segments) n += s.size();
  return n;
}

void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string printable(const std::string& bytes, size_t limit) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (out.size() >= limit) {
      out += "... (" + std::to_string(bytes.size()) + " bytes)";
      break;
    }
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7F && c != '<') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", c);
      out += hex;
    }
  }
  return out;
}

namespace {

bool matches(const Selector& selector, const Request& request) {
  if (selector.command == "*") return true;
  if (selector.command != request.command) return false;
  return selector.argument.empty() || selector.argument == request.argument;
}

bool anyMatch(const std::vector<Selector>& selectors, const Request& request) {
  for (const Selector& s : selectors)
    if (matches(s, request)) return true;
  return false;
}

const Fault* firstMatch(const std::vector<Fault>& faults, const Request& request) {
  for (const Fault& f : faults)
    if (matches(f.selector, request)) return &f;
  return nullptr;
}

}  // namespace

Reply Emulation::respond(const Request& request) {
  Reply reply;
  if (anyMatch(options_.silent, request)) {
    reply.silent = true;
    return reply;
  }
  if (const Fault* error = firstMatch(options_.errors, request)) {
    reply = refuse(request, error->value);
  } else if (anyMatch(options_.garbage, request)) {
    // Deterministic noise above ASCII: never a CR, never "OK"/"NO", never the reply code "A".
    std::string noise;
    uint32_t state = 0x2545F491u;
    for (int i = 0; i < 16; ++i) {
      state = state * 1664525u + 1013904223u;
      noise += static_cast<char>(0x80 | (state >> 24));
    }
    if (framed()) noise += '\r';
    reply.segments.push_back(noise);
  } else if (const Fault* custom = firstMatch(options_.replies, request)) {
    answer(request);  // the wording changes, the terminal still does the work
    reply.segments = unescapeSegments(custom->value);
  } else {
    reply = answer(request);
  }
  if (framed() && anyMatch(options_.noEnd, request) && !reply.segments.empty()) {
    std::string& last = reply.segments.back();
    if (!last.empty() && last.back() == '\r') last.pop_back();
  }
  return reply;
}

bool Emulation::readLines(std::vector<std::string>& lines) const {
  std::ifstream in(options_.recordsFile, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "Zq-TerminalSimulator: can't read records file \"%s\"\n", options_.recordsFile.c_str());
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return true;
}

void Emulation::announceCleared(size_t count) const { say("records cleared (%zu)", count); }

void Emulation::announceClock(const std::string& clock) const { say("clock set to %s", clock.c_str()); }

DateTime generatedTime(uint64_t n) {
  // Days since 2024-01-01 to a civil date (the usual era-based conversion, shifted to 1970).
  int64_t days = static_cast<int64_t>(n / 86400) + 19723;  // 2024-01-01 is day 19723 after 1970-01-01
  uint64_t rest = n % 86400;
  days += 719468;
  int64_t era = days / 146097;
  int64_t doe = days - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  DateTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

bool validDateTime(const DateTime& t) {
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.year < 1900 || t.year > 9999 || t.month < 1 || t.month > 12) return false;
  bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  int days = kDays[t.month - 1] - (t.month == 2 && !leap ? 1 : 0);
  return t.day >= 1 && t.day <= days && t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 &&
         t.second >= 0 && t.second < 60;
}

}  // namespace Simulator
