// Driver of the 735 terminal family.
#pragma once

#include "Zq/Terminal.h"

namespace Zq {

class Zq735 : public TCPConnection, public Common::SocketEvent {
public:
  Zq735();

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, int32_t cardFormat) override;

  bool onReceive(const uint8_t* data, int32_t length) override;
};

}  // namespace Zq
