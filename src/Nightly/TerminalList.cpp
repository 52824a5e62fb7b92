// Only operating-system independent code.
#include "Nightly/TerminalList.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <unordered_map>

#include "Zq/Address.h"
#include "Zq/Models.h"

namespace ZqNightly {
namespace {

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The models the program downloads from, network ones first: "735, 870, QVK or 2210".
std::string drivableModels() {
  std::vector<std::string> names;
  for (const Zq::Transport transport : {Zq::Transport::Tcp, Zq::Transport::Serial}) {
    for (size_t i = 0; i < Zq::modelTableSize; ++i) {
      const Zq::ModelEntry& entry = Zq::modelTable[i];
      if (entry.make != nullptr && entry.transport == transport) names.push_back(entry.keyword);
    }
  }
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  }
  return text;
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

// The switches of the fields after the address, -debug left out (it is always on); why they are
// refused, "" when they are not.
std::string switchesOf(const std::vector<std::string>& fields, std::vector<std::string>& switches) {
  bool cardFormat = false;
  for (size_t i = 3; i < fields.size(); ++i) {
    const std::string& option = fields[i];
    if (option == "-debug") continue;
    const bool isFormat = option == "-n0" || option == "-n1" || option == "-n2";
    if (!isFormat && option != "-c" && option != "-u")
      return "unknown switch " + option + ", not -c, -u, -n0, -n1 or -n2";
    const bool repeated = std::find(switches.begin(), switches.end(), option) != switches.end();
    if ((isFormat && cardFormat) || repeated) return "switch " + option + " repeats an earlier one";
    cardFormat = cardFormat || isFormat;
    switches.push_back(option);
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
  // The model table and the address readers are the program's own: a family added there is one
  // here too, and an address means here what it means to the program.
  const Zq::ModelEntry* entry = Zq::findModel(terminal.model);
  if (entry == nullptr) {
    terminal.invalid = "unknown model " + terminal.model + ", not " + drivableModels();
    return;
  }
  if (entry->make == nullptr) {
    terminal.invalid = "model " + terminal.model + ": Zq-ReadUtility downloads nothing from it";
    return;
  }
  if (entry->transport == Zq::Transport::Tcp) {
    std::string host;
    int32_t port = 0;
    if (Zq::readNetworkAddress(terminal.address, host, port) != Zq::AddressError::None) {
      terminal.invalid = "address " + terminal.address + " is not an IPv4 address a.b.c.d or a.b.c.d:port";
      return;
    }
    terminal.key = "tcp " + host + ":" + std::to_string(port);
  } else {
    const int32_t port = Zq::readComPort(terminal.address);
    if (port == 0) {
      terminal.invalid = "COM port " + terminal.address + " is not a number from 1 to 255";
      return;
    }
    terminal.key = "COM" + std::to_string(port);
  }
  terminal.invalid = switchesOf(fields, terminal.switches);
}

}  // namespace

bool Terminal::has(const char* option) const {
  for (const std::string& s : switches) {
    if (s == option) return true;
  }
  return false;
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
