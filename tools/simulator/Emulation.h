// What a terminal does with the requests it receives: one emulation per terminal family.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Options.h"

namespace Simulator {

// One complete request as the terminal understood it.
struct Request {
  std::string command;   // "GETLOGDATA", "G", "RG", ...; "?" for bytes the terminal does not understand
  std::string argument;  // record index (decimal) or clock item, as a selector names it
  std::string args;      // the argument bytes between the command and the end of the frame
  std::string raw;       // the request's bytes
};

// What goes back: segments sent one after another with the pause between them.
struct Reply {
  std::vector<std::string> segments;
  bool silent = false;
  size_t size() const;
};

// Prints one line on standard output at once (tests and users read it while the simulator runs).
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Request and reply bytes for a human: printable ASCII as is, the rest as <HH>; long texts cut.
std::string printable(const std::string& bytes, size_t limit = 96);

class Emulation {
public:
  explicit Emulation(const Options& options) : options_(options) {}
  virtual ~Emulation() = default;

  // Loads the records from the file or generates them; false (after a message) when unusable.
  virtual bool loadRecords() = 0;
  virtual size_t recordCount() const = 0;

  // Takes one complete request off the front of `input`; false when it holds no complete one yet.
  virtual bool nextRequest(std::string& input, Request& request) = 0;
  // The reply to a request, faults applied. Carries the command out unless a fault refuses it.
  Reply respond(const Request& request);
  // True once this request ended a dialogue that counts as one "connection" (2210: log-out).
  virtual bool endsDialogue(const Request&) const { return false; }

protected:
  virtual Reply answer(const Request& request) = 0;
  virtual Reply refuse(const Request& request, const std::string& code) = 0;
  // Framed families close every reply with CR; the 870 has no closing byte.
  virtual bool framed() const { return true; }

  // Announced count: --count when given, else the stored count (as the family formats it).
  bool countOverridden() const { return options_.countGiven; }
  const std::string& countText() const { return options_.count; }

  // Lines of the records file, without line ends; empty lines skipped. False if unreadable.
  bool readLines(std::vector<std::string>& lines) const;
  void announceCleared(size_t count) const;
  void announceClock(const std::string& clock) const;

  const Options& options_;
};

std::unique_ptr<Emulation> makeEmulation870(const Options& options);
std::unique_ptr<Emulation> makeEmulation735(const Options& options);
std::unique_ptr<Emulation> makeEmulation2210(const Options& options);

// Calendar of generated records: second `n` after 2024-01-01 00:00:00.
struct DateTime {
  int year, month, day, hour, minute, second;
};
DateTime generatedTime(uint64_t n);
// Validates and stores a clock value; false when a field is out of range.
bool validDateTime(const DateTime& t);

}  // namespace Simulator
