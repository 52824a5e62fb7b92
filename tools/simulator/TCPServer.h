// The 870/QVK and 735 terminals' side of the network: a port of 127.0.0.1, one connection at a time.
#pragma once

#include "Endpoint.h"

namespace Simulator {

class TCPServer : public Endpoint {
public:
  using Endpoint::Endpoint;
  ~TCPServer() override;

  // Listens on 127.0.0.1, never another address.
  bool open() override;
  // Connections are served one after another.
  void serve() override;

private:
  // Serves connection number `number` until the program closes it or a fault does.
  void serveConnection(int connection, long number);

  int listener = -1;
};

}  // namespace Simulator
