// Zq-TerminalSimulator: plays an 870/QVK or 735 terminal on a loopback TCP port, or a 2210 on a
// pseudo-terminal, so that Zq-ReadUtility and the pipelines around it can run without hardware.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "Emulation2210.h"
#include "Emulation735.h"
#include "Emulation870.h"
#include "Options.h"
#include "Output.h"

namespace Simulator {

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

void pauseMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Appends the raw bytes received to --received at once, before they are answered: whoever reads
// the file after a reply has arrived finds the request in it.
class Recorder {
public:
  bool open(const std::string& path) {
    if (path.empty()) return true;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      std::fprintf(stderr, "Zq-TerminalSimulator: can't open \"%s\": %s\n", path.c_str(), std::strerror(errno));
      return false;
    }
    return true;
  }
  void record(const char* data, size_t size) {
    while (fd_ >= 0 && size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      data += n;
      size -= static_cast<size_t>(n);
    }
  }
  ~Recorder() {
    if (fd_ >= 0) ::close(fd_);
  }

private:
  int fd_ = -1;
};

// Writes replies with the pieces, pauses and byte budget that the options ask for.
class Sender {
public:
  Sender(const Options& options, int fd, bool socket) : options_(options), fd_(fd), socket_(socket) {}

  // True once --hangup-after has cut the line: the terminal neither answers nor acts any more.
  bool hungUp() const { return hungUp_; }

  // False when the connection is to be closed now (byte budget used up, or the peer went away).
  bool send(const Reply& reply) {
    for (size_t s = 0; s < reply.segments.size(); ++s) {
      if (s > 0) pauseMs(options_.pauseMs);
      const std::string& segment = reply.segments[s];
      size_t at = 0;
      size_t piece = 0;
      while (at < segment.size()) {
        size_t size = segment.size() - at;
        int gap = 0;
        if (options_.dripMs >= 0) {
          size = 1;
          gap = options_.dripMs;
        } else if (!options_.split.empty()) {
          size = std::min<size_t>(size, static_cast<size_t>(options_.split[std::min(piece, options_.split.size() - 1)]));
          gap = options_.pauseMs;
        }
        if (at > 0) pauseMs(gap);
        bool budgetEnds = false;
        if (options_.closeAfter >= 0 && sent_ + static_cast<long long>(size) >= options_.closeAfter) {
          size = static_cast<size_t>(options_.closeAfter - sent_);
          budgetEnds = true;
        }
        // The line may go dead anywhere, in the middle of a frame too; whichever limit comes first counts.
        bool hangsUp = false;
        if (options_.hangupAfter >= 0 && sent_ + static_cast<long long>(size) >= options_.hangupAfter &&
            (!budgetEnds || options_.hangupAfter < options_.closeAfter)) {
          size = static_cast<size_t>(options_.hangupAfter - sent_);
          hangsUp = true;
          budgetEnds = false;
        }
        if (!writeAll(segment.data() + at, size)) return false;
        sent_ += static_cast<long long>(size);
        if (hangsUp) {
          hungUp_ = true;
          say("silent after %lld bytes sent", sent_);
          return true;
        }
        if (budgetEnds) {
          say("closing after %lld bytes sent", sent_);
          return false;
        }
        at += size;
        ++piece;
      }
    }
    return true;
  }

private:
  bool writeAll(const char* data, size_t size) {
    while (size > 0) {
      size_t chunk = std::min<size_t>(size, 1 << 20);
      ssize_t n = socket_ ? ::send(fd_, data, chunk, MSG_NOSIGNAL) : ::write(fd_, data, chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 100);
        if (stopRequested) return false;
        continue;
      }
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  const Options& options_;
  int fd_;
  bool socket_;
  long long sent_ = 0;
  bool hungUp_ = false;
};

// Answers every complete request in `input`; false when the connection is to be closed.
bool answerAll(Emulation& emulation, const Options& options, std::string& input, Sender& sender, bool& dialogueEnded) {
  Request request;
  while (emulation.nextRequest(input, request)) {
    if (sender.hungUp()) {
      // A dead terminal: what reaches the line is still recorded, but nothing is carried out.
      if (options.verbose) say("request %s -> ignored, the line is silent", request.command.c_str());
      if (emulation.endsDialogue(request)) dialogueEnded = true;
      request = Request();
      continue;
    }
    Reply reply = emulation.respond(request);
    if (options.verbose) {
      std::string what = request.argument.empty() ? request.command : request.command + ":" + request.argument;
      if (request.raw != request.command) what += " " + printable(request.raw);
      if (reply.silent)
        say("request %s -> no reply", what.c_str());
      else
        say("request %s -> %s", what.c_str(),
            printable(reply.segments.size() == 1 ? reply.segments[0] : std::string("(segments)")).c_str());
    }
    if (!reply.silent && !sender.send(reply)) return false;
    if (emulation.endsDialogue(request)) dialogueEnded = true;
    request = Request();
  }
  return true;
}

int serveTcp(const Options& options, Emulation& emulation, Recorder& recorder) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(options.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // loopback only, never a real network
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0) {
    std::fprintf(stderr, "Zq-TerminalSimulator: can't listen on 127.0.0.1:%d: %s\n", options.port, std::strerror(errno));
    return 1;
  }
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  say("port=%d", ntohs(address.sin_port));
  say("%s terminal on 127.0.0.1:%d, %zu records", options.modelName.c_str(), ntohs(address.sin_port),
      emulation.recordCount());

  long served = 0;
  std::vector<char> buffer(65536);
  while (!stopRequested && (options.connections < 0 || served < options.connections)) {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    ++served;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    say("connection %ld opened", served);
    Sender sender(options, connection, true);
    std::string input;
    bool open = true;
    while (open && !stopRequested) {
      pollfd c{connection, POLLIN, 0};
      if (::poll(&c, 1, 200) <= 0) continue;
      ssize_t n = ::recv(connection, buffer.data(), buffer.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      recorder.record(buffer.data(), static_cast<size_t>(n));
      input.append(buffer.data(), static_cast<size_t>(n));
      bool ended = false;
      open = answerAll(emulation, options, input, sender, ended);
    }
    if (!input.empty() && options.verbose) say("incomplete request left unanswered: %s", printable(input).c_str());
    ::close(connection);
    say("connection %ld closed", served);
  }
  ::close(listener);
  return 0;
}

int serveSerial(const Options& options, Emulation& emulation, Recorder& recorder) {
  int master = -1;
  int slave = -1;
  char name[256] = {0};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::fprintf(stderr, "Zq-TerminalSimulator: can't create a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  // Raw until the program sets its own line: no echo of replies back into the request stream.
  termios line{};
  ::tcgetattr(slave, &line);
  ::cfmakeraw(&line);
  ::cfsetspeed(&line, B38400);
  ::tcsetattr(slave, TCSANOW, &line);
  if (!options.link.empty()) {
    ::unlink(options.link.c_str());
    if (::symlink(name, options.link.c_str()) != 0) {
      std::fprintf(stderr, "Zq-TerminalSimulator: can't link \"%s\" to %s: %s\n", options.link.c_str(), name,
                   std::strerror(errno));
      return 1;
    }
  }
  say("pty=%s", name);
  say("%s terminal on %s%s%s, %zu records", options.modelName.c_str(), name, options.link.empty() ? "" : " linked as ",
      options.link.c_str(), emulation.recordCount());

  // Our own slave descriptor keeps the line alive while the program closes and reopens it. A
  // program opens the port for exclusive use; a program that ends without giving that back leaves
  // it on the line, so it is cleared after each reply and whenever the line is idle, or the next
  // run could not open it.
  Sender sender(options, master, false);
  std::string input;
  long dialogues = 0;
  std::vector<char> buffer(4096);
  while (!stopRequested && (options.connections < 0 || dialogues < options.connections)) {
    pollfd p{master, POLLIN, 0};
    int ready = ::poll(&p, 1, 100);
    if (ready <= 0 || !(p.revents & POLLIN)) {
      ::ioctl(slave, TIOCNXCL);
      if (ready > 0) pauseMs(10);  // hang-up without data: nobody on the line
      continue;
    }
    ssize_t n = ::read(master, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      pauseMs(10);
      continue;
    }
    recorder.record(buffer.data(), static_cast<size_t>(n));
    input.append(buffer.data(), static_cast<size_t>(n));
    bool ended = false;
    answerAll(emulation, options, input, sender, ended);
    ::ioctl(slave, TIOCNXCL);
    if (ended) {
      ++dialogues;
      say("dialogue %ld ended", dialogues);
    }
  }
  // Let the last reply drain to the program before the line goes away.
  pauseMs(200);
  if (!options.link.empty()) ::unlink(options.link.c_str());
  ::close(slave);
  ::close(master);
  return 0;
}

}  // namespace

}  // namespace Simulator

int main(int argc, char** argv) {
  using namespace Simulator;
  Options options;
  int exitCode = 0;
  if (!parseOptions(argc, argv, options, exitCode)) return exitCode;

  struct sigaction action {};
  action.sa_handler = onSignal;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<Emulation> emulation;
  if (options.model == Model870) emulation = std::make_unique<Emulation870>(options);
  if (options.model == Model735) emulation = std::make_unique<Emulation735>(options);
  if (options.model == Model2210) emulation = std::make_unique<Emulation2210>(options);
  if (!emulation->loadRecords()) return 1;
  Recorder recorder;
  if (!recorder.open(options.receivedFile)) return 1;
  return options.model == Model2210 ? serveSerial(options, *emulation, recorder)
                                    : serveTcp(options, *emulation, recorder);
}
