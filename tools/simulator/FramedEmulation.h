// The families whose requests and replies are frames: STX, a body, CR (735, 2210).
#pragma once

#include <string>

#include "Emulation.h"

namespace Simulator {

class FramedEmulation : public Emulation {
public:
  using Emulation::Emulation;

  // A request ends at its CR and starts at the STX before it; bytes ahead of that STX do not belong
  // to the frame. Without STX, or with a body the family cannot read, the request is "?".
  bool nextRequest(std::string& input, Request& request) override;

protected:
  bool framed() const override { return true; }
  // Reads the command and its arguments from a frame's body (the bytes between STX and CR).
  // False, with `request` untouched, when the body is no request of this family.
  virtual bool readFrame(const std::string& body, Request& request) const = 0;
  // The reply that carries `body` in one frame.
  static Reply frame(const std::string& body);
};

}  // namespace Simulator
