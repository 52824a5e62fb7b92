// Command line and usage text of the terminal simulator: one table row per option. What a family
// does not take is the family's to say: it is asked after each option and at the end.
#include "Options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "Family.h"

namespace Simulator {

namespace {

const char* const usageIntro =
    "Usage: Zq-TerminalSimulator MODEL [options]\n"
    "Plays an attendance terminal for Zq-ReadUtility, without hardware.\n"
    "MODEL: 870 or QVK (TCP), 735 (TCP), 2210 (serial line on a pseudo-terminal).\n"
    "\n";

// Where the usage starts an option's help, and how its further help lines are indented.
const size_t helpColumn = 22;

struct OptionRow;

// The options read so far and the row of the option being read; every message goes through here.
struct OptionReader {
  Options& options;
  int& exitCode;
  const OptionRow* row = nullptr;

  bool fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The option's own complaint: "<name> needs <what its row says>".
  bool needs();
  // A family's answer: true when it is "", else fails with it as the complaint.
  bool accept(const std::string& complaint);
  // Whether the chosen family takes the option just read; else its complaint.
  bool familyTakes();
  // `text` as a number from `low` to `high` into `value`; else the option's complaint.
  bool number(const std::string& text, long long low, long long high, long long& value);
};

struct OptionRow {
  const char* heading;  // usage lines printed before this option, or null
  const char* name;     // as typed; "-h, --help" is looked for before the table is
  const char* value;    // what the usage calls its value; null: the option takes none (and ignores "=...")
  const char* needs;    // what a missing or unusable value is reported as needing
  bool (*set)(OptionReader& reader, const std::string& value);
  const char* help;  // usage lines, '\n' between them; null: a spelling the usage leaves out
};

bool OptionReader::fail(const char* format, ...) {
  std::fprintf(stderr, "Zq-TerminalSimulator: ");
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fprintf(stderr,
               "\nUsage: Zq-TerminalSimulator MODEL [options]   (MODEL: 870, QVK, 735 or 2210)\n"
               "Run Zq-TerminalSimulator --help for the options.\n");
  exitCode = 2;
  return false;
}

bool OptionReader::needs() { return fail("%s needs %s", row->name, row->needs); }

bool OptionReader::accept(const std::string& complaint) { return complaint.empty() || fail("%s", complaint.c_str()); }

bool OptionReader::familyTakes() {
  const Family& family = *options.family;
  return family.checkOption == nullptr || accept(family.checkOption(row->name, options));
}

bool OptionReader::number(const std::string& text, long long low, long long high, long long& value) {
  return readNumber(text, low, high, value) || needs();
}

Selector toSelector(const std::string& text) {
  Selector selector;
  size_t colon = text.find(':');
  selector.command = text.substr(0, colon);
  if (colon != std::string::npos) selector.argument = text.substr(colon + 1);
  for (char& c : selector.command) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (selector.command == "ALL" || selector.command == "*") selector.command = "*";
  return selector;
}

bool knownCommand(const Family& family, const std::string& command) {
  const std::vector<std::string>& commands = family.commands;
  return command == "*" || std::find(commands.begin(), commands.end(), command) != commands.end();
}

// What each option sets.

// A number from `low` to `high` into `field`.
template <auto field, long long low, long long high>
bool setNumber(OptionReader& r, const std::string& value) {
  long long n = 0;
  if (!r.number(value, low, high, n)) return false;
  r.options.*field = static_cast<std::remove_reference_t<decltype(r.options.*field)>>(n);
  return true;
}

// A text that may not be empty into `field`.
template <std::string Options::*field>
bool setText(OptionReader& r, const std::string& value) {
  if (value.empty()) return r.needs();
  r.options.*field = value;
  return true;
}

bool setOnce(OptionReader& r, const std::string&) {
  r.options.connections = 1;
  return true;
}

template <bool Options::*field>
bool setFlag(OptionReader& r, const std::string&) {
  r.options.*field = true;
  return true;
}

// SEL: a command of this model (or all), optionally with its record index or clock item.
bool readSelector(OptionReader& r, const std::string& value, Selector& selector) {
  selector = toSelector(value);
  if (!knownCommand(*r.options.family, selector.command))
    return r.fail("unknown command \"%s\" for this model", value.c_str());
  return true;
}

template <std::vector<Selector> Options::*list>
bool addSelector(OptionReader& r, const std::string& value) {
  Selector selector;
  if (!readSelector(r, value, selector)) return false;
  (r.options.*list).push_back(selector);
  return true;
}

// SEL[=VALUE]. The first '=' separates the selector; with "--reply=SEL=TEXT" the option's own
// '=' is gone already. `given`: whether there was a '=' at all.
bool readFault(OptionReader& r, const std::string& value, Fault& fault, bool& given) {
  size_t sep = value.find('=');
  given = sep != std::string::npos;
  if (given) fault.value = value.substr(sep + 1);
  fault.selector = toSelector(value.substr(0, sep));
  if (!knownCommand(*r.options.family, fault.selector.command))
    return r.fail("unknown command \"%s\" for this model", value.c_str());
  return true;
}

// The code's shape and its default are the family's.
bool addError(OptionReader& r, const std::string& value) {
  Fault fault;
  bool given = false;
  if (!readFault(r, value, fault, given)) return false;
  r.options.errors.push_back(fault);
  return true;
}

bool addReply(OptionReader& r, const std::string& value) {
  Fault fault;
  bool given = false;
  if (!readFault(r, value, fault, given)) return false;
  if (!given) return r.fail("%s needs SEL=TEXT", r.row->name);
  r.options.replies.push_back(fault);
  return true;
}

// SEL=N: a number from `low` to `high` after the selector.
bool addCounted(OptionReader& r, const std::string& value, long long low, long long high, std::vector<Fault>& list) {
  Fault fault;
  bool given = false;
  if (!readFault(r, value, fault, given)) return false;
  long long n = 0;
  if (!given || !readNumber(fault.value, low, high, n)) return r.fail("%s needs SEL=%s", r.row->name, r.row->needs);
  list.push_back(fault);
  return true;
}

bool addLate(OptionReader& r, const std::string& value) { return addCounted(r, value, 1, 600000, r.options.late); }

bool addPunch(OptionReader& r, const std::string& value) { return addCounted(r, value, 1, 1000000, r.options.punches); }

// Any text: each family reads its count its own way.
bool setCount(OptionReader& r, const std::string& value) {
  r.options.countGiven = true;
  r.options.count = value;
  return true;
}

bool setSplit(OptionReader& r, const std::string& value) {
  r.options.split.clear();
  size_t start = 0;
  while (start <= value.size()) {
    size_t comma = value.find(',', start);
    std::string size = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    long long n = 0;
    if (!readNumber(size, 1, 1 << 30, n)) return r.fail("%s needs positive sizes, e.g. 10,16", r.row->name);
    r.options.split.push_back(static_cast<long>(n));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

const OptionRow optionTable[] = {
    {"Connection:", "--port", "N", "a port number 0-65535", setNumber<&Options::port, 0, 65535>,
     "TCP port on 127.0.0.1 (870, QVK, 735; default 1001; 0 picks a free\n"
     "port). The first output line is \"port=N\"."},
    {nullptr, "--link", "PATH", "a path", setText<&Options::link>,
     "2210: make PATH a symbolic link to the pseudo-terminal, e.g.\n"
     "$ZQ_COMPORT_DIR/COM7 or $WINEPREFIX/dosdevices/com7. The first\n"
     "output line is \"pty=/dev/pts/N\"."},
    {nullptr, "--once", nullptr, nullptr, setOnce, "serve one connection, then exit (2210: one log-in ... log-out)"},
    {nullptr, "--connections", "N", "a positive number", setNumber<&Options::connections, 1, 1000000000>,
     "serve N connections, then exit once all are closed (default:\n"
     "until killed)"},
    {nullptr, "--parallel", nullptr, nullptr, setFlag<&Options::parallel>,
     "870, QVK, 735: accept further connections while some are open, and\n"
     "answer them all from the one record memory (a clear on one empties\n"
     "it for all). One loop serves them: a reply being sent, with its\n"
     "--late, --drip or --pause waits, holds up the other connections."},
    {"Records (kept, and cleared by the terminal's clear command, while the process runs):", "--records", "FILE",
     "a file name", setText<&Options::recordsFile>,
     "one record per line, in the terminal's own format:\n"
     "  870/QVK: 26 characters: 0-7 card, 8 any, 9 event digit 0-3,\n"
     "           10-23 YYYYMMDDhhmmss, 24-25 any\n"
     "           e.g. 0012AB34 02024013108150000\n"
     "  735:     12,0001A2B3,0,2024/01/31,08:15:00\n"
     "  2210:    1<TAB>05-01-2026<TAB>07:58:12<TAB>X0012AB34<TAB>3"},
    {nullptr, "--generate", "N", "a number 0-100000000", setNumber<&Options::generate, 0, 100000000>,
     "N generated records (the same ones on every run)"},
    {"Recording:", "--received", "FILE", "a file name", setText<&Options::receivedFile>,
     "append every byte received (all connections) to FILE"},
    {nullptr, "--verbose", nullptr, nullptr, setFlag<&Options::verbose>,
     "print each request and what the terminal did"},
    {nullptr, "-v", nullptr, nullptr, setFlag<&Options::verbose>, nullptr},
    {"Faults (may repeat). SEL is a command: 870: GETLOGDATA, SETTIME, CLEARLOG;\n"
     "735: D, N, G, S, E; 2210: LI, LO, RA, RN, RG, RH, RI, IS. G:7 or RG:2 picks one\n"
     "record index, IS:DATE or IS:TIME one clock item, all every request.",
     "--silent", "SEL", "a command (or all)", addSelector<&Options::silent>, "never answer SEL"},
    {nullptr, "--error", "SEL[=CODE]", "SEL[=VALUE]", addError,
     "refuse SEL and do not carry it out: 870 replies NO; 735 replies\n"
     "error code CODE (two digits, default 07); 2210 replies the code\n"
     "letter CODE (default N)"},
    {nullptr, "--reply", "SEL=TEXT", "SEL[=VALUE]", addReply,
     "reply TEXT instead; the command is still carried out. Escapes\n"
     "\\r \\n \\t \\\\ \\| \\xHH; a plain | splits the reply into segments\n"
     "sent --pause apart (e.g. CLEARLOG='CLEAR|LOG_OK')"},
    {nullptr, "--garbage", "SEL", "a command (or all)", addSelector<&Options::garbage>,
     "reply 16 noise bytes 0x80-0xFF (735 and 2210: then CR)"},
    {nullptr, "--no-end", "SEL", "a command (or all)", addSelector<&Options::noEnd>,
     "735, 2210: leave out the reply's closing CR"},
    {nullptr, "--count", "VALUE", "a value", setCount,
     "announce VALUE records whatever is stored: 870 a number up to\n"
     "4294967295 (or 0xFFFFFFFF); 735, 2210 a number, or any other text\n"
     "sent as the count data. Missing records are never sent (870) or\n"
     "refused (735 code 06, 2210 code N)."},
    {nullptr, "--send-all", nullptr, nullptr, setFlag<&Options::sendAll>,
     "870: stream every stored record, also when --count announced fewer"},
    {nullptr, "--duplicate", "SEL", "a command (or all)", addSelector<&Options::duplicate>,
     "send the reply to SEL twice, back to back (carried out once)"},
    {nullptr, "--late", "SEL=MS", "milliseconds 1-600000", addLate, "hold the reply to SEL back for MS milliseconds"},
    {nullptr, "--punch", "SEL=N", "a record count 1-1000000", addPunch,
     "N new records appear right after SEL is answered, as if people\n"
     "punched while the program was reading"},
    {nullptr, "--close-after", "N", "a byte count", setNumber<&Options::closeAfter, 0, 1LL << 50>,
     "870, 735: close the connection once N bytes have been sent on it"},
    {nullptr, "--hangup-after", "N", "a byte count", setNumber<&Options::hangupAfter, 0, 1LL << 50>,
     "the terminal goes dead once N reply bytes have been sent: the rest\n"
     "of that reply is left out, later requests are recorded but neither\n"
     "answered nor carried out (870, 735: per connection, which stays\n"
     "open; 2210: for the life of the line, over every dialogue)"},
    {nullptr, "--split", "N[,N...]", "sizes", setSplit,
     "send each reply in pieces of these sizes (the last size repeats)"},
    {nullptr, "--pause", "MS", "milliseconds", setNumber<&Options::pauseMs, 0, 600000>,
     "pause between pieces and segments (default 50)"},
    {nullptr, "--drip", "MS", "milliseconds", setNumber<&Options::dripMs, 0, 600000>,
     "send replies one byte at a time, MS milliseconds apart"},
    {nullptr, "-h, --help", nullptr, nullptr, nullptr, "show this text"},
};

std::string usageText() {
  std::string text = usageIntro;
  for (const OptionRow& row : optionTable) {
    if (row.help == nullptr) continue;
    if (row.heading != nullptr) text += std::string(row.heading) + "\n";
    std::string synopsis = "  " + std::string(row.name) + (row.value != nullptr ? std::string(" ") + row.value : "");
    text += synopsis + std::string(helpColumn - synopsis.size(), ' ');
    for (const char* c = row.help; *c != '\0'; ++c)
      text += *c == '\n' ? "\n" + std::string(helpColumn, ' ') : std::string(1, *c);
    text += "\n";
  }
  return text;
}

const OptionRow* findOption(const std::string& name) {
  for (const OptionRow& row : optionTable)
    if (row.set != nullptr && name == row.name) return &row;
  return nullptr;
}

// Reads the option at args[i] (and its value, which may be the next argument).
bool readOption(OptionReader& reader, const std::vector<std::string>& args, size_t& i) {
  std::string name = args[i];
  std::string value;
  bool hasValue = false;
  size_t eq = name.find('=');
  if (name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
    value = name.substr(eq + 1);
    name = name.substr(0, eq);
    hasValue = true;
  }
  reader.row = findOption(name);
  if (reader.row == nullptr) return reader.fail("unknown option \"%s\"", args[i].c_str());
  if (reader.row->value != nullptr && !hasValue) {
    if (i + 1 >= args.size()) return reader.needs();
    value = args[++i];
  }
  return reader.row->set(reader, value) && reader.familyTakes();
}

bool readModel(OptionReader& reader, const std::string& name) {
  reader.options.modelName = name;
  reader.options.family = findFamily(name);
  if (reader.options.family == nullptr)
    return reader.fail("unknown MODEL \"%s\" (870, QVK, 735 or 2210)", name.c_str());
  return true;
}

}  // namespace

bool readNumber(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  value = parsed;
  return true;
}

std::vector<std::string> unescapeSegments(const std::string& text) {
  std::vector<std::string> segments(1);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '|') {
      segments.emplace_back();
      continue;
    }
    if (c != '\\' || i + 1 == text.size()) {
      segments.back() += c;
      continue;
    }
    char e = text[++i];
    switch (e) {
      case 'r': segments.back() += '\r'; break;
      case 'n': segments.back() += '\n'; break;
      case 't': segments.back() += '\t'; break;
      case 'x': {
        std::string hex = text.substr(i + 1, 2);
        char* end = nullptr;
        long value = std::strtol(hex.c_str(), &end, 16);
        if (hex.size() == 2 && *end == '\0') {
          segments.back() += static_cast<char>(value);
          i += 2;
        } else {
          segments.back() += "\\x";
        }
        break;
      }
      default: segments.back() += e; break;  // \\ and \| and anything else: the character itself
    }
  }
  return segments;
}

bool parseOptions(int argc, char** argv, Options& options, int& exitCode) {
  exitCode = 0;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      std::fputs(usageText().c_str(), stdout);
      return false;
    }
  }
  OptionReader reader{options, exitCode};
  if (args.empty()) return reader.fail("missing MODEL");
  if (!readModel(reader, args[0])) return false;
  for (size_t i = 1; i < args.size(); ++i)
    if (!readOption(reader, args, i)) return false;
  const Family& family = *options.family;
  if (family.checkCommandLine != nullptr && !reader.accept(family.checkCommandLine(options))) return false;
  if (!options.recordsFile.empty() && options.generate >= 0) return reader.fail("use either --records or --generate");
  return true;
}

}  // namespace Simulator
