// The 2210 terminal's serial line: a pseudo-terminal, optionally reached through a symbolic link.
#pragma once

#include "Endpoint.h"

namespace Simulator {

class PseudoTerminal : public Endpoint {
public:
  using Endpoint::Endpoint;
  ~PseudoTerminal() override;

  // Creates the line and links --link to it.
  bool open() override;
  // A "connection" is one dialogue, log-in ... log-out. At the end the last reply is left time to
  // drain, and the link is removed.
  void serve() override;

private:
  int master = -1;
  int slave = -1;
};

}  // namespace Simulator
