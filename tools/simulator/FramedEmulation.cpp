// The framing of the 735 and 2210 families.
#include "FramedEmulation.h"

namespace Simulator {

namespace {

const char STX = 0x02;
const char CR = '\r';

}  // namespace

bool FramedEmulation::nextRequest(std::string& input, Request& request) {
  size_t cr = input.find(CR);
  if (cr == std::string::npos) return false;
  request.raw = input.substr(0, cr + 1);
  input.erase(0, cr + 1);
  size_t stx = request.raw.find(STX);
  if (stx == std::string::npos || !readFrame(request.raw.substr(stx + 1, cr - stx - 1), request)) request.command = "?";
  return true;
}

Reply FramedEmulation::frame(const std::string& body) { return Reply(STX + body + CR); }

}  // namespace Simulator
