// The 870/QVK and 735 terminals' side of the network: a port of 127.0.0.1, one connection at a time,
// or with --parallel several at once that share the one record memory.
#pragma once

#include "Endpoint.h"

namespace Simulator {

class TCPServer : public Endpoint {
public:
  using Endpoint::Endpoint;
  ~TCPServer() override;

  // Listens on 127.0.0.1, never another address.
  bool open() override;
  // One poll loop over the listener and every open connection, answering each as its bytes come.
  // Without --parallel the listener is left out while a connection is open, so the next program
  // waits in the backlog until the connection before it has closed.
  void serve() override;

private:
  int listener = -1;
};

}  // namespace Simulator
