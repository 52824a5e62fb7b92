// Writes replies with the pieces, pauses and byte budgets that the options ask for.
#pragma once

#include <cstddef>
#include <string>

#include "Emulation.h"
#include "Options.h"

namespace Simulator {

class Sender {
public:
  // `socket`: `fd` is a TCP connection, else the pseudo-terminal. The byte budgets count what this
  // sender sends: per connection on TCP, for the life of the line on the pseudo-terminal.
  Sender(const Options& options, int fd, bool socket) : options(options), fd(fd), socket(socket) {}

  // True once --hangup-after has cut the line: the terminal neither answers nor acts any more.
  bool hungUp() const { return lineCut; }

  // False when the connection is to be closed now (byte budget used up, or the peer went away).
  bool send(const Reply& reply);

private:
  // Which budget, if any, the piece about to be sent uses up.
  enum Limit { LimitNone, LimitClose, LimitHangup };

  // One segment in pieces; false as for send().
  bool sendSegment(const std::string& segment);
  // The size of piece number `piece` when `left` bytes of the segment remain.
  size_t pieceSize(size_t left, size_t piece) const;
  // The pause before each piece after a segment's first.
  int pieceGap() const;
  // Cuts `size` down to what --close-after and --hangup-after still allow; which of them ends there.
  Limit cutToBudget(size_t& size) const;
  bool writeAll(const char* data, size_t size);

  const Options& options;
  int fd;
  bool socket;
  long long sent = 0;
  bool lineCut = false;
};

}  // namespace Simulator
