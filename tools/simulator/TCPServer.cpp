// The 870/QVK and 735 terminals' side of the network.
#include "TCPServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Output.h"
#include "Process.h"
#include "Session.h"

namespace Simulator {

TCPServer::~TCPServer() {
  if (listener >= 0) ::close(listener);
}

bool TCPServer::open() {
  listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(options.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // loopback only, never a real network
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0) {
    std::fprintf(stderr, "Zq-TerminalSimulator: can't listen on 127.0.0.1:%d: %s\n", options.port,
                 std::strerror(errno));
    return false;
  }
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  say("port=%d", ntohs(address.sin_port));
  say("%s terminal on 127.0.0.1:%d, %zu records", options.modelName.c_str(), ntohs(address.sin_port),
      emulation.recordCount());
  return true;
}

void TCPServer::serve() {
  long served = 0;
  while (!stopRequested() && (options.connections < 0 || served < options.connections)) {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    serveConnection(connection, ++served);
  }
}

void TCPServer::serveConnection(int connection, long number) {
  int one = 1;
  ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  say("connection %ld opened", number);
  Session session(options, emulation, recorder, connection, true, 65536);
  while (!stopRequested()) {
    Session::Turn turn = session.serve(200);
    if (turn == Session::TurnHangup || turn == Session::TurnEnd || turn == Session::TurnClose) break;
  }
  if (!session.pending().empty() && options.verbose)
    say("incomplete request left unanswered: %s", printable(session.pending()).c_str());
  ::close(connection);
  say("connection %ld closed", number);
}

}  // namespace Simulator
