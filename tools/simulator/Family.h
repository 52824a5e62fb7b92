// What a terminal family states about itself, so that the command line and main() can be read and
// run without knowing any family: the names it goes by, the commands a fault may pick, its line,
// and its rules for the options that not every family takes. Each Emulation class provides one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Options.h"

namespace Simulator {

class Emulation;

struct Family {
  std::vector<std::string> names;     // MODEL as typed
  std::vector<std::string> commands;  // what a fault's SEL may name, besides "all"
  bool pseudoTerminal;                // served on a pseudo-terminal rather than on a TCP port
  // Asked right after `option` has been read into `options` (a repeated one: its last entry). ""
  // when the family takes it; it may fill in its own default, as the --error code. Else the
  // complaint, option name included. Null: the family takes every option.
  std::string (*checkOption)(const std::string& option, Options& options);
  // Asked once every option has been read, so that an option's own complaints come first. Null:
  // nothing is left to check.
  std::string (*checkCommandLine)(const Options& options);
  std::unique_ptr<Emulation> (*make)(const Options& options);
};

// The family that MODEL `name` stands for; null for none.
const Family* findFamily(const std::string& name);

// Family::make for the emulation class `E`.
template <class E>
std::unique_ptr<Emulation> makeEmulation(const Options& options) {
  return std::make_unique<E>(options);
}

}  // namespace Simulator
