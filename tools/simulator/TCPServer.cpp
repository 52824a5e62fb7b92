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
#include <list>
#include <vector>

#include "Output.h"
#include "Process.h"
#include "Session.h"

namespace Simulator {

namespace {

// One open connection: its number among those served (as printed), and the session on it.
struct Connection {
  Connection(const Options& options, Emulation& emulation, Recorder& recorder, int fd, long number);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // Reads and answers what has arrived; true when the connection is over (closed by either side).
  bool serveTurn();

  const Options& options;
  int fd;
  long number;
  Session session;
};

Connection::Connection(const Options& options, Emulation& emulation, Recorder& recorder, int fd, long number)
    : options(options), fd(fd), number(number), session(options, emulation, recorder, fd, true, 65536) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  say("connection %ld opened", number);
}

Connection::~Connection() {
  if (!session.pending().empty() && options.verbose)
    say("incomplete request left unanswered: %s", printable(session.pending()).c_str());
  ::close(fd);
  say("connection %ld closed", number);
}

bool Connection::serveTurn() {
  // The loop's poll found something on the line already: this turn does not wait.
  Session::Turn turn = session.serve(0);
  return turn == Session::TurnHangup || turn == Session::TurnEnd || turn == Session::TurnClose;
}

}  // namespace

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
  std::list<Connection> open;
  std::vector<pollfd> waits;
  long served = 0;
  while (!stopRequested()) {
    bool more = options.connections < 0 || served < options.connections;
    if (!more && open.empty()) break;
    // A terminal that takes one connection at a time leaves the next one in the backlog.
    bool listening = more && (options.parallel || open.empty());
    waits.clear();
    for (const Connection& c : open) waits.push_back({c.fd, POLLIN, 0});
    if (listening) waits.push_back({listener, POLLIN, 0});
    if (::poll(waits.data(), waits.size(), 200) <= 0) continue;
    // The waits are in the order of `open`, the listener's last; connections accepted below are
    // only polled from the next turn on.
    size_t wait = 0;
    for (auto c = open.begin(); c != open.end(); ++wait) {
      if (waits[wait].revents != 0 && c->serveTurn()) {
        c = open.erase(c);
      } else {
        ++c;
      }
    }
    if (!listening || waits.back().revents == 0) continue;
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    open.emplace_back(options, emulation, recorder, fd, ++served);
    say("connections open: %zu", open.size());
  }
  open.clear();  // a stop closes whatever is still open
}

}  // namespace Simulator
