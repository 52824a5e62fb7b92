// Driver of the 2210 terminal family.
#pragma once

#include "Zq/Terminal.h"

namespace Zq {

class Zq2210 : public COMConnection, public Common::SerialPortEvent {
public:
  Zq2210();

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, int32_t cardFormat) override;

  bool onReceive(const uint8_t* data, int32_t length) override;
};

}  // namespace Zq
