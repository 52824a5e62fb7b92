// The terminals file: one terminal a line, "name model address [switches]", '#' starting a
// comment. Read the same way on every platform: a UTF-8 byte-order mark and CR LF line ends are
// accepted, and two lines that reach one terminal are refused by the address's value.
#pragma once

#include <string>
#include <vector>

namespace ZqNightly {

struct Terminal {
  int line = 0;      // its line number in the file
  std::string name;  // the data file's name without .txt
  std::string model;
  std::string address;                // as written
  std::vector<std::string> switches;  // as written, -debug left out (it is always on)
  std::string invalid;                // why the line is refused; empty when it is valid
  std::string key;                    // the terminal it reaches: "tcp 127.0.0.1:1001", "COM7"

  bool valid() const { return invalid.empty(); }
  bool has(const char* option) const;
};

// The lines of a terminals file that name a terminal (blank and comment lines left out), each
// checked; a line that repeats an earlier one's name or terminal is refused.
std::vector<Terminal> readTerminals(const std::string& text);

}  // namespace ZqNightly
