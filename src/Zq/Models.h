// The terminal models of the command line: one table says what each keyword is, how its terminal
// is reached and which driver serves it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Zq/Terminal.h"

namespace Zq {

// The model codes of the command line.
enum Model : int32_t {
  ModelNone = 0,
  Model730 = 1,
  Model735 = 2,
  Model2210 = 3,
  Model2240 = 4,
  Model870 = 5,
  ModelQVK = 6,
};

// How a model's terminal is reached, and so what the second argument is.
enum class Transport { Serial, Tcp };

struct ModelEntry {
  Model model;
  const char* keyword;  // as typed, case-sensitive; the model's name in every message
  Transport transport;
  // Every model needs its data file but 730, which has nothing to do.
  bool needsFile;
  // Makes the model's driver (with nothrow new: null when memory is exhausted); null for the models
  // that are accepted and have nothing to drive.
  ITerminal* (*make)();

  // Where the terminal is reached, with the connection defaults every terminal of this transport
  // gets: five receive waits of 192 ms, 2.5 s to connect, 192 ms for room to send, the socket left
  // non-blocking; 38400 bps on the serial line, which waits on its own fixed times instead.
  Endpoint endpoint(const std::string& host, int32_t port) const;
};

// The models in the order the usage text names them.
extern const ModelEntry modelTable[];
extern const size_t modelTableSize;

// Null for an unknown keyword or code.
const ModelEntry* findModel(const std::string& keyword);
const ModelEntry* findModel(int32_t model);
// The keywords as the usage text lists them: "730, 735, 2210, 2240, 870, QVK".
std::string modelKeywords();

}  // namespace Zq
