// Command line and usage text of the terminal simulator.
#include "Options.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Simulator {

namespace {

const char* const kUsage =
    "Usage: Zq-TerminalSimulator MODEL [options]\n"
    "Plays an attendance terminal for Zq-ReadUtility, without hardware.\n"
    "MODEL: 870 or QVK (TCP), 735 (TCP), 2210 (serial line on a pseudo-terminal).\n"
    "\n"
    "Connection:\n"
    "  --port N            TCP port on 127.0.0.1 (870, QVK, 735; default 1001; 0 picks a free\n"
    "                      port). The first output line is \"port=N\".\n"
    "  --link PATH         2210: make PATH a symbolic link to the pseudo-terminal, e.g.\n"
    "                      $ZQ_COMPORT_DIR/COM7 or $WINEPREFIX/dosdevices/com7. The first\n"
    "                      output line is \"pty=/dev/pts/N\".\n"
    "  --once              serve one connection, then exit (2210: one log-in ... log-out)\n"
    "  --connections N     serve N connections, then exit (default: until killed)\n"
    "Records (kept, and cleared by the terminal's clear command, while the process runs):\n"
    "  --records FILE      one record per line, in the terminal's own format:\n"
    "                        870/QVK: 26 characters: 0-7 card, 8 any, 9 event digit 0-3,\n"
    "                                 10-23 YYYYMMDDhhmmss, 24-25 any\n"
    "                                 e.g. 0012AB34 02024013108150000\n"
    "                        735:     12,0001A2B3,0,2024/01/31,08:15:00\n"
    "                        2210:    1<TAB>05-01-2026<TAB>07:58:12<TAB>X0012AB34<TAB>3\n"
    "  --generate N        N generated records (the same ones on every run)\n"
    "Recording:\n"
    "  --received FILE     append every byte received (all connections) to FILE\n"
    "  --verbose           print each request and what the terminal did\n"
    "Faults (may repeat). SEL is a command: 870: GETLOGDATA, SETTIME, CLEARLOG;\n"
    "735: D, N, G, S, E; 2210: LI, LO, RA, RN, RG, RH, RI, IS. G:7 or RG:2 picks one\n"
    "record index, IS:DATE or IS:TIME one clock item, all every request.\n"
    "  --silent SEL        never answer SEL\n"
    "  --error SEL[=CODE]  refuse SEL and do not carry it out: 870 replies NO; 735 replies\n"
    "                      error code CODE (two digits, default 07); 2210 replies the code\n"
    "                      letter CODE (default N)\n"
    "  --reply SEL=TEXT    reply TEXT instead; the command is still carried out. Escapes\n"
    "                      \\r \\n \\t \\\\ \\| \\xHH; a plain | splits the reply into segments\n"
    "                      sent --pause apart (e.g. CLEARLOG='CLEAR|LOG_OK')\n"
    "  --garbage SEL       reply 16 noise bytes 0x80-0xFF (735 and 2210: then CR)\n"
    "  --no-end SEL        735, 2210: leave out the reply's closing CR\n"
    "  --count VALUE       announce VALUE records whatever is stored: 870 a number up to\n"
    "                      4294967295 (or 0xFFFFFFFF); 735, 2210 a number, or any other text\n"
    "                      sent as the count data. Missing records are never sent (870) or\n"
    "                      refused (735 code 06, 2210 code N).\n"
    "  --close-after N     870, 735: close the connection once N bytes have been sent on it\n"
    "  --hangup-after N    the terminal goes dead once N reply bytes have been sent: the rest\n"
    "                      of that reply is left out, later requests are recorded but neither\n"
    "                      answered nor carried out (870, 735: per connection, which stays\n"
    "                      open; 2210: for the life of the line, over every dialogue)\n"
    "  --split N[,N...]    send each reply in pieces of these sizes (the last size repeats)\n"
    "  --pause MS          pause between pieces and segments (default 50)\n"
    "  --drip MS           send replies one byte at a time, MS milliseconds apart\n"
    "  -h, --help          show this text\n";

bool fail(int& exitCode, const char* format, ...) __attribute__((format(printf, 2, 3)));

bool fail(int& exitCode, const char* format, ...) {
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

bool toLong(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  value = parsed;
  return true;
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

bool knownCommand(Model model, const std::string& command) {
  static const char* const k870[] = {"GETLOGDATA", "SETTIME", "CLEARLOG"};
  static const char* const k735[] = {"D", "N", "G", "S", "E"};
  static const char* const k2210[] = {"LI", "LO", "RA", "RN", "RG", "RH", "RI", "IS"};
  if (command == "*") return true;
  auto in = [&](const char* const* list, size_t n) {
    for (size_t i = 0; i < n; ++i)
      if (command == list[i]) return true;
    return false;
  };
  switch (model) {
    case Model::Zq870: return in(k870, 3);
    case Model::Zq735: return in(k735, 5);
    case Model::Zq2210: return in(k2210, 8);
  }
  return false;
}

}  // namespace

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
      std::printf("%s", kUsage);
      return false;
    }
  }
  if (args.empty()) return fail(exitCode, "missing MODEL");
  options.modelName = args[0];
  if (args[0] == "870" || args[0] == "QVK" || args[0] == "qvk") {
    options.model = Model::Zq870;
  } else if (args[0] == "735") {
    options.model = Model::Zq735;
  } else if (args[0] == "2210") {
    options.model = Model::Zq2210;
  } else {
    return fail(exitCode, "unknown MODEL \"%s\" (870, QVK, 735 or 2210)", args[0].c_str());
  }

  for (size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    size_t eq = name.find('=');
    if (name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    auto need = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    long long number = 0;
    if (name == "--once") {
      options.connections = 1;
    } else if (name == "--verbose" || name == "-v") {
      options.verbose = true;
    } else if (name == "--port") {
      if (!need() || !toLong(value, 0, 65535, number)) return fail(exitCode, "%s needs a port number 0-65535", "--port");
      options.port = static_cast<int>(number);
    } else if (name == "--link") {
      if (!need() || value.empty()) return fail(exitCode, "%s needs a path", "--link");
      options.link = value;
    } else if (name == "--connections") {
      if (!need() || !toLong(value, 1, 1000000000, number)) return fail(exitCode, "%s needs a positive number", "--connections");
      options.connections = static_cast<long>(number);
    } else if (name == "--records") {
      if (!need() || value.empty()) return fail(exitCode, "%s needs a file name", "--records");
      options.recordsFile = value;
    } else if (name == "--generate") {
      if (!need() || !toLong(value, 0, 100000000, number)) return fail(exitCode, "%s needs a number 0-100000000", "--generate");
      options.generate = static_cast<long>(number);
    } else if (name == "--received") {
      if (!need() || value.empty()) return fail(exitCode, "%s needs a file name", "--received");
      options.receivedFile = value;
    } else if (name == "--silent" || name == "--garbage" || name == "--no-end") {
      if (!need()) return fail(exitCode, "%s needs a command (or all)", name.c_str());
      Selector selector = toSelector(value);
      if (!knownCommand(options.model, selector.command))
        return fail(exitCode, "unknown command \"%s\" for this model", value.c_str());
      if (name == "--no-end" && options.model == Model::Zq870)
        return fail(exitCode, "%s: the 870 replies have no closing byte", name.c_str());
      (name == "--silent" ? options.silent : name == "--garbage" ? options.garbage : options.noEnd).push_back(selector);
    } else if (name == "--error" || name == "--reply") {
      if (!need()) return fail(exitCode, "%s needs SEL[=VALUE]", name.c_str());
      // The first '=' separates the selector; with "--reply=SEL=TEXT" the option's own '=' is gone already.
      size_t sep = value.find('=');
      Fault fault;
      fault.selector = toSelector(value.substr(0, sep));
      if (sep != std::string::npos) fault.value = value.substr(sep + 1);
      if (!knownCommand(options.model, fault.selector.command))
        return fail(exitCode, "unknown command \"%s\" for this model", value.c_str());
      if (name == "--reply") {
        if (sep == std::string::npos) return fail(exitCode, "%s needs SEL=TEXT", name.c_str());
        options.replies.push_back(fault);
      } else {
        if (fault.value.empty()) fault.value = options.model == Model::Zq735 ? "07" : "N";
        if (options.model == Model::Zq2210 && fault.value.size() != 1)
          return fail(exitCode, "%s: a 2210 reply code is one letter", name.c_str());
        if (options.model == Model::Zq735 && fault.value.size() != 2)
          return fail(exitCode, "%s: a 735 error code is two characters, e.g. 06", name.c_str());
        options.errors.push_back(fault);
      }
    } else if (name == "--count") {
      if (!need()) return fail(exitCode, "%s needs a value", "--count");
      if (options.model == Model::Zq870 && !toLong(value, 0, 0xFFFFFFFFLL, number))
        return fail(exitCode, "%s: the 870 count is a number 0-4294967295", "--count");
      options.countGiven = true;
      options.count = value;
    } else if (name == "--close-after") {
      if (!need() || !toLong(value, 0, 1LL << 50, number)) return fail(exitCode, "%s needs a byte count", "--close-after");
      if (options.model == Model::Zq2210) return fail(exitCode, "%s works on TCP connections only", "--close-after");
      options.closeAfter = number;
    } else if (name == "--hangup-after") {
      if (!need() || !toLong(value, 0, 1LL << 50, number)) return fail(exitCode, "%s needs a byte count", "--hangup-after");
      options.hangupAfter = number;
    } else if (name == "--split") {
      if (!need()) return fail(exitCode, "%s needs sizes", "--split");
      options.split.clear();
      size_t start = 0;
      while (start <= value.size()) {
        size_t comma = value.find(',', start);
        std::string part = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!toLong(part, 1, 1 << 30, number)) return fail(exitCode, "%s needs positive sizes, e.g. 10,16", "--split");
        options.split.push_back(static_cast<long>(number));
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else if (name == "--pause" || name == "--drip") {
      if (!need() || !toLong(value, 0, 600000, number)) return fail(exitCode, "%s needs milliseconds", name.c_str());
      (name == "--pause" ? options.pauseMs : options.dripMs) = static_cast<int>(number);
    } else {
      return fail(exitCode, "unknown option \"%s\"", args[i].c_str());
    }
  }
  if (!options.link.empty() && options.model != Model::Zq2210)
    return fail(exitCode, "%s is for the serial 2210 only", "--link");
  if (!options.recordsFile.empty() && options.generate >= 0)
    return fail(exitCode, "use either --records or --generate");
  return true;
}

}  // namespace Simulator
