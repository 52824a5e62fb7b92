// What every family shares: the record memory and its loading, the clock, and the faults.
#include "Emulation.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "Output.h"

namespace Simulator {

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

// Deterministic noise above ASCII: never a CR, never "OK"/"NO", never the reply code "A".
std::string noise() {
  std::string bytes;
  uint32_t state = 0x2545F491u;
  for (int i = 0; i < 16; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes += static_cast<char>(0x80 | (state >> 24));
  }
  return bytes;
}

}  // namespace

bool Emulation::loadRecords() {
  if (options.generate >= 0) {
    generateRecords();
    return true;
  }
  return options.recordsFile.empty() || readRecordsFile();
}

void Emulation::generateRecords() {
  records.reserve(static_cast<size_t>(options.generate));
  std::string record;
  for (long i = 0; i < options.generate; ++i) {
    generateRecord(i, generatedTime(static_cast<uint64_t>(i) * 61 + 8 * 3600), record);
    records.add(record);
  }
}

bool Emulation::readRecordsFile() {
  std::ifstream in(options.recordsFile, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "Zq-TerminalSimulator: can't read records file \"%s\"\n", options.recordsFile.c_str());
    return false;
  }
  // LF or CR LF line ends; empty lines are skipped, and not counted either.
  std::string line;
  size_t number = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (!acceptRecord(line, ++number)) return false;
    records.add(line);
  }
  return true;
}

Reply Emulation::respond(const Request& request) {
  Reply reply;
  if (anyMatch(options.silent, request)) {
    reply.silent = true;
    return reply;
  }
  if (const Fault* error = firstMatch(options.errors, request)) {
    reply = refuse(request, error->value);
  } else if (anyMatch(options.garbage, request)) {
    reply = Reply(framed() ? noise() + '\r' : noise());
  } else if (const Fault* custom = firstMatch(options.replies, request)) {
    answer(request);  // the wording changes, the terminal still does the work
    reply.segments = unescapeSegments(custom->value);
  } else {
    reply = answer(request);
  }
  if (framed() && anyMatch(options.noEnd, request) && !reply.segments.empty()) {
    std::string& last = reply.segments.back();
    if (!last.empty() && last.back() == '\r') last.pop_back();
  }
  // The same reply twice, in one write: its copy reaches the program together with it.
  if (anyMatch(options.duplicate, request) && !reply.segments.empty()) {
    std::string whole;
    for (const std::string& segment : reply.segments) whole += segment;
    reply.segments.back() += whole;
  }
  if (const Fault* late = firstMatch(options.late, request)) reply.delayMs = std::atoi(late->value.c_str());
  if (const Fault* punch = firstMatch(options.punches, request)) punchRecords(std::atol(punch->value.c_str()));
  return reply;
}

void Emulation::punchRecords(long count) {
  std::string record;
  for (long i = 0; i < count; ++i) {
    const long index = static_cast<long>(records.size());
    // A minute after the generated records' pattern would put them: new, and unlike any stored.
    generateRecord(index, generatedTime(static_cast<uint64_t>(index) * 61 + 9 * 3600), record);
    records.add(record);
  }
  say("records punched (%ld), %zu stored", count, records.size());
}

void Emulation::clearRecords() {
  say("records cleared (%zu)", records.size());
  records.clear();
}

bool Emulation::setClock(const std::string& value) const {
  DateTime t;
  if (!readDateTime(value, "YYYYMMDDhhmmss", t)) {
    say("clock not set: bad value %s", printable(value).c_str());
    return false;
  }
  announceClock(t.text());
  return true;
}

void Emulation::announceClock(const std::string& clock) const { say("clock set to %s", clock.c_str()); }

}  // namespace Simulator
