// Driver of the 870 terminal family.
#pragma once

#include "Zq/Terminal.h"

namespace Zq {

class Zq870 : public TCPConnection, public Common::SocketEvent {
public:
  Zq870();

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, int32_t cardFormat) override;

  bool onReceive(const uint8_t* data, int32_t length) override;
};

}  // namespace Zq
