// A point on the monotonic clock by which something must be done; none means no limit.
#pragma once

#include <chrono>
#include <climits>
#include <cstdint>

namespace Common {

class Deadline {
public:
  // No limit: never passes.
  Deadline() = default;
  static Deadline after(int32_t ms) {
    Deadline d;
    d.limited = true;
    d.at = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    return d;
  }

  bool isSet() const { return limited; }
  bool passed() const { return limited && std::chrono::steady_clock::now() >= at; }
  // Milliseconds left, rounded up so that a wait never ends early; INT32_MAX without a limit.
  int32_t remainingMs() const {
    if (!limited) return INT32_MAX;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(at - std::chrono::steady_clock::now()).count();
    if (left <= 0) return 0;
    return left > INT32_MAX ? INT32_MAX : static_cast<int32_t>(left);
  }
  // The shorter of `ms` and what is left.
  int32_t cap(int32_t ms) const {
    const int32_t left = remainingMs();
    return ms < left ? ms : left;
  }

private:
  bool limited = false;
  std::chrono::steady_clock::time_point at{};
};

}  // namespace Common
