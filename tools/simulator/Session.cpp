// One line to the program: record what arrives, answer what it completes.
#include "Session.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "Output.h"

namespace Simulator {

Session::Session(const Options& options, Emulation& emulation, Recorder& recorder, int fd, bool socket, size_t readSize)
    : options(options),
      emulation(emulation),
      recorder(recorder),
      fd(fd),
      sender(options, fd, socket),
      buffer(readSize) {}

Session::Turn Session::serve(int timeoutMs) {
  dialogueEnded = false;
  pollfd p{fd, POLLIN, 0};
  int ready = ::poll(&p, 1, timeoutMs);
  if (ready <= 0) return TurnQuiet;
  if (!(p.revents & POLLIN)) return TurnHangup;
  ssize_t n = ::read(fd, buffer.data(), buffer.size());
  if (n < 0 && errno == EINTR) return TurnQuiet;
  if (n <= 0) return TurnEnd;
  recorder.record(buffer.data(), static_cast<size_t>(n));
  input.append(buffer.data(), static_cast<size_t>(n));
  return answerAll() ? TurnAnswered : TurnClose;
}

bool Session::answerAll() {
  Request request;
  while (emulation.nextRequest(input, request)) {
    if (sender.hungUp()) {
      // A dead terminal: what reaches the line is still recorded, but nothing is carried out.
      if (options.verbose) say("request %s -> ignored, the line is silent", request.command.c_str());
    } else {
      Reply reply = emulation.respond(request);
      if (options.verbose) report(request, reply);
      if (!reply.silent && !sender.send(reply)) return false;
    }
    if (emulation.endsDialogue(request)) dialogueEnded = true;
    request = Request();
  }
  return true;
}

void Session::report(const Request& request, const Reply& reply) const {
  std::string what = request.argument.empty() ? request.command : request.command + ":" + request.argument;
  if (request.raw != request.command) what += " " + printable(request.raw);
  if (reply.silent) say("request %s -> no reply", what.c_str());
  else
    say("request %s -> %s", what.c_str(),
        printable(reply.segments.size() == 1 ? reply.segments[0] : std::string("(segments)")).c_str());
}

}  // namespace Simulator
