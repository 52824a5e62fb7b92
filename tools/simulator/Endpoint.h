// The terminal's end of the line to the program: a TCP port (870/QVK, 735) or a pseudo-terminal (2210).
#pragma once

#include "Emulation.h"
#include "Options.h"
#include "Recorder.h"

namespace Simulator {

class Endpoint {
public:
  Endpoint(const Options& options, Emulation& emulation, Recorder& recorder)
      : options(options), emulation(emulation), recorder(recorder) {}
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;
  virtual ~Endpoint() = default;

  // Makes the line reachable and prints where as the first output line ("port=N", "pty=...");
  // false, with a message, when it cannot.
  virtual bool open() = 0;
  // Serves the program until stopped, or until --connections have been served.
  virtual void serve() = 0;

protected:
  const Options& options;
  Emulation& emulation;
  Recorder& recorder;
};

}  // namespace Simulator
