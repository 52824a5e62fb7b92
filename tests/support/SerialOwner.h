// Helpers of the serial port tests, natively against a pseudo-terminal and under Wine.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Common/SerialPort.h"
#include "Zq/Command.h"

namespace ZqTest {

using Clock = std::chrono::steady_clock;

inline std::string text(const Zq::Command& command) { return std::string(command.bytes.begin(), command.bytes.end()); }

inline long msSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

inline void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// An owner whose replies end with a carriage return; it records what it was shown.
class CarriageReturnOwner : public Common::SerialPortEvent {
public:
  bool onReceive(const uint8_t* data, int32_t length) override {
    lengths.push_back(length);
    return std::memchr(data, 0x0D, static_cast<size_t>(length)) != nullptr;
  }
  std::vector<int32_t> lengths;
};

}  // namespace ZqTest
