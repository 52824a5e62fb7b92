// Only operating-system independent code.
#include "Nightly/TerminalList.h"

#include <cctype>
#include <unordered_map>

namespace ZqNightly {
namespace {

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The value of a run of decimal digits, saturating above `limit` (leading zeros do not count).
long valueOf(const std::string& digits, long limit) {
  long value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > limit) return limit + 1;
  }
  return value;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size() || line[i] == '#') break;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

// Why a name cannot be a data file's name on both platforms, "" when it can.
std::string nameProblem(const std::string& name) {
  if (name.size() > 64) return "name " + name + " is longer than 64 characters";
  const unsigned char first = static_cast<unsigned char>(name[0]);
  bool safe = std::isalnum(first) != 0;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!(u < 0x80 && (std::isalnum(u) || c == '.' || c == '_' || c == '-'))) safe = false;
  }
  if (!safe) return "name " + name + ": use letters, digits, '.', '_' and '-', starting with a letter or digit";
  // <name>.2.txt is the day's second download of <name>: "a.2" would be taken for one.
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && allDigits(name.substr(dot + 1))) {
    return "name " + name + " ends in a dot and a number, as the further downloads of a day are named";
  }
  // Windows' device names, whatever follows the first dot.
  const std::string base = lower(name.substr(0, name.find('.')));
  static const char* const devices[] = {"con", "prn", "aux", "nul"};
  for (const char* device : devices) {
    if (base == device) return "name " + name + " is a device name on Windows";
  }
  if (base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
      std::isdigit(static_cast<unsigned char>(base[3]))) {
    return "name " + name + " is a device name on Windows";
  }
  return std::string();
}

void check(Terminal& terminal, const std::vector<std::string>& fields) {
  if (fields.size() < 3) {
    terminal.invalid = "wants at least a name, a model and an address";
    return;
  }
  terminal.invalid = nameProblem(terminal.name);
  if (!terminal.valid()) return;
  const std::string& model = terminal.model;
  if (model == "735" || model == "870" || model == "QVK") {
    const std::string canonical = canonicalAddress(terminal.address);
    if (canonical.empty()) {
      terminal.invalid = "address " + terminal.address + " is not an IPv4 address a.b.c.d or a.b.c.d:port";
      return;
    }
    terminal.key = "tcp " + canonical;
  } else if (model == "2210") {
    const long port = allDigits(terminal.address) ? valueOf(terminal.address, 255) : 0;
    if (port < 1 || port > 255) {
      terminal.invalid = "COM port " + terminal.address + " is not a number from 1 to 255";
      return;
    }
    terminal.key = "COM" + std::to_string(port);
  } else if (model == "730" || model == "2240") {
    terminal.invalid = "model " + model + ": Zq-ReadUtility downloads nothing from it";
    return;
  } else {
    terminal.invalid = "unknown model " + model + ", not 735, 870, QVK or 2210";
    return;
  }
  bool cardFormat = false;
  for (size_t i = 3; i < fields.size(); ++i) {
    const std::string& option = fields[i];
    if (option == "-debug") continue;
    const bool isFormat = option == "-n0" || option == "-n1" || option == "-n2";
    if (!isFormat && option != "-c" && option != "-u") {
      terminal.invalid = "unknown switch " + option + ", not -c, -u, -n0, -n1 or -n2";
      return;
    }
    if ((isFormat && cardFormat) || terminal.has(option.c_str())) {
      terminal.invalid = "switch " + option + " repeats an earlier one";
      return;
    }
    cardFormat = cardFormat || isFormat;
    terminal.switches.push_back(option);
  }
}

}  // namespace

bool Terminal::has(const char* option) const {
  for (const std::string& s : switches) {
    if (s == option) return true;
  }
  return false;
}

std::string canonicalAddress(const std::string& text) {
  const size_t colon = text.find(':');
  const std::string host = text.substr(0, colon);
  long port = 1001;
  if (colon != std::string::npos) {
    const std::string digits = text.substr(colon + 1);
    port = allDigits(digits) ? valueOf(digits, 65535) : 0;
    if (port < 1 || port > 65535) return std::string();
  }
  std::string canonical;
  size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const size_t dot = host.find('.', start);
    if ((part < 3) != (dot != std::string::npos)) return std::string();
    const std::string digits = host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (!allDigits(digits) || valueOf(digits, 255) > 255) return std::string();
    canonical += (part > 0 ? "." : "") + std::to_string(valueOf(digits, 255));
    start = dot + 1;
  }
  return canonical + ":" + std::to_string(port);
}

std::vector<Terminal> readTerminals(const std::string& text) {
  std::vector<Terminal> terminals;
  // The earlier valid lines by folded name and by terminal: one look-up a line, so that a file of
  // thousands of lines is read at once.
  std::unordered_map<std::string, size_t> byName;
  std::unordered_map<std::string, size_t> byKey;
  size_t position = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (int number = 1; position <= text.size(); ++number) {
    size_t end = text.find('\n', position);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(position, end - position);
    position = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = fieldsOf(line);
    if (fields.empty()) continue;
    Terminal terminal;
    terminal.line = number;
    terminal.name = fields[0];
    if (fields.size() > 1) terminal.model = fields[1];
    if (fields.size() > 2) terminal.address = fields[2];
    check(terminal, fields);
    if (terminal.valid()) {
      // Names compare as Windows compares file names; terminals by the address's value.
      const auto sameName = byName.find(lower(terminal.name));
      const auto sameKey = byKey.find(terminal.key);
      if (sameName != byName.end()) {
        terminal.invalid =
            "name " + terminal.name + " is used by line " + std::to_string(terminals[sameName->second].line);
      } else if (sameKey != byKey.end()) {
        const Terminal& earlier = terminals[sameKey->second];
        terminal.invalid = "address " + terminal.address + " reaches the terminal of line " +
                           std::to_string(earlier.line) + " (" + earlier.name + ")";
      } else {
        byName[lower(terminal.name)] = terminals.size();
        byKey[terminal.key] = terminals.size();
      }
    }
    terminals.push_back(terminal);
  }
  return terminals;
}

}  // namespace ZqNightly
