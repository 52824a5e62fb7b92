// What a terminal does with the requests it receives: one emulation per terminal family.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "DateTime.h"
#include "Options.h"
#include "RecordStore.h"

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
  Reply() = default;
  explicit Reply(std::string segment) { segments.push_back(std::move(segment)); }

  std::vector<std::string> segments;
  bool silent = false;
  int delayMs = 0;  // held back this long before its first byte
};

class Emulation {
public:
  explicit Emulation(const Options& options) : options(options) {}
  virtual ~Emulation() = default;

  // Fills the record memory from --generate or --records; false (after a message) when the
  // records file cannot be read or holds a line that is no record of this family.
  bool loadRecords();
  size_t recordCount() const { return records.size(); }

  // Takes one complete request off the front of `input`; false when it holds no complete one yet.
  virtual bool nextRequest(std::string& input, Request& request) = 0;
  // The reply to a request, faults applied. The command is carried out when it is answered, in
  // the terminal's words or in those of --reply; --silent, --error and --garbage leave it undone.
  Reply respond(const Request& request);
  // True once this request ended a dialogue that counts as one "connection" (2210: log-out).
  virtual bool endsDialogue(const Request&) const { return false; }

protected:
  virtual Reply answer(const Request& request) = 0;
  virtual Reply refuse(const Request& request, const std::string& code) = 0;
  // Framed families close every reply with CR; the 870 has no closing byte.
  virtual bool framed() const { return false; }
  // Generated record `index`, stamped `time`, in the family's own format.
  virtual void generateRecord(long index, const DateTime& time, std::string& record) const = 0;
  // Whether line `number` of the records file is a record of this family; says why not on standard error.
  virtual bool acceptRecord(const std::string&, size_t) const { return true; }

  // --count: whether it was given, and its text (each family reads it its own way).
  bool countOverridden() const { return options.countGiven; }
  const std::string& countText() const { return options.count; }

  // Empties the record memory and says how many records went.
  void clearRecords();
  // Adds `count` new records, as if people punched while the program was reading.
  void punchRecords(long count);
  // Sets the clock to a YYYYMMDDhhmmss value and says so; false, said as well, when the value is
  // no such date and time.
  bool setClock(const std::string& value) const;
  void announceClock(const std::string& clock) const;

  const Options& options;
  RecordStore records;

private:
  void generateRecords();
  bool readRecordsFile();
};

}  // namespace Simulator
