// Writes replies with the pieces, pauses and byte budgets that the options ask for.
#include "Sender.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Output.h"
#include "Process.h"

namespace Simulator {

bool Sender::send(const Reply& reply) {
  if (reply.delayMs > 0) sleepMs(reply.delayMs);
  for (size_t s = 0; s < reply.segments.size(); ++s) {
    if (s > 0) sleepMs(options.pauseMs);
    if (!sendSegment(reply.segments[s])) return false;
    if (lineCut) return true;  // the rest of the reply is left out
  }
  return true;
}

bool Sender::sendSegment(const std::string& segment) {
  size_t at = 0;
  size_t piece = 0;
  while (at < segment.size()) {
    size_t size = pieceSize(segment.size() - at, piece);
    if (at > 0) sleepMs(pieceGap());
    Limit limit = cutToBudget(size);
    if (!writeAll(segment.data() + at, size)) return false;
    sent += static_cast<long long>(size);
    if (limit == LimitHangup) {
      lineCut = true;
      say("silent after %lld bytes sent", sent);
      return true;
    }
    if (limit == LimitClose) {
      say("closing after %lld bytes sent", sent);
      return false;
    }
    at += size;
    ++piece;
  }
  return true;
}

size_t Sender::pieceSize(size_t left, size_t piece) const {
  if (options.dripMs >= 0) return 1;
  if (options.split.empty()) return left;
  return std::min<size_t>(left, static_cast<size_t>(options.split[std::min(piece, options.split.size() - 1)]));
}

int Sender::pieceGap() const {
  if (options.dripMs >= 0) return options.dripMs;
  return options.split.empty() ? 0 : options.pauseMs;
}

Sender::Limit Sender::cutToBudget(size_t& size) const {
  Limit limit = LimitNone;
  if (options.closeAfter >= 0 && sent + static_cast<long long>(size) >= options.closeAfter) {
    size = static_cast<size_t>(options.closeAfter - sent);
    limit = LimitClose;
  }
  // The line may go dead anywhere, in the middle of a frame too; whichever limit comes first counts.
  if (options.hangupAfter >= 0 && sent + static_cast<long long>(size) >= options.hangupAfter &&
      (limit == LimitNone || options.hangupAfter < options.closeAfter)) {
    size = static_cast<size_t>(options.hangupAfter - sent);
    limit = LimitHangup;
  }
  return limit;
}

bool Sender::writeAll(const char* data, size_t size) {
  while (size > 0) {
    size_t chunk = std::min<size_t>(size, 1 << 20);
    ssize_t n = socket ? ::send(fd, data, chunk, MSG_NOSIGNAL) : ::write(fd, data, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
      if (stopRequested()) return false;
      continue;
    }
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace Simulator
