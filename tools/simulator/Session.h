// One line to the program, TCP connection or pseudo-terminal: the bytes that arrive are recorded,
// and every complete request among them is answered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Emulation.h"
#include "Options.h"
#include "Recorder.h"
#include "Sender.h"

namespace Simulator {

class Session {
public:
  // What came of one turn: a wait for the program's bytes and, when some came, their answers.
  enum Turn : int32_t {
    TurnQuiet,     // nothing arrived in time (or a signal came first)
    TurnHangup,    // the line reported a hang-up or an error instead of data
    TurnEnd,       // the read found the end of the stream, or failed
    TurnAnswered,  // bytes arrived; every complete request among them has been dealt with
    TurnClose,     // as TurnAnswered, but the connection is to be closed now: the rest waits
  };

  // `socket`: `fd` is a TCP connection, else the pseudo-terminal; reads take up to `readSize` bytes.
  Session(const Options& options, Emulation& emulation, Recorder& recorder, int fd, bool socket, size_t readSize);

  // Waits up to `timeoutMs` for bytes from the program, records them and answers what they complete.
  Turn serve(int timeoutMs);
  // Bytes received that do not form a complete request yet.
  const std::string& pending() const { return input; }

  // Set by serve(): a request of its turn ended a dialogue (2210: log-out), answered or not.
  bool dialogueEnded = false;

private:
  // Answers every complete request in `input`; false when the connection is to be closed.
  bool answerAll();
  // --verbose: the request and what went back.
  void report(const Request& request, const Reply& reply) const;

  const Options& options;
  Emulation& emulation;
  Recorder& recorder;
  int fd;
  Sender sender;
  std::string input;
  std::vector<char> buffer;
};

}  // namespace Simulator
