// Placeholder until the driver lands.
#include "Zq/Zq2210.h"
namespace Zq {
Zq2210::Zq2210() {}
bool Zq2210::reset() { return false; }
bool Zq2210::updateDateTime() { return false; }
bool Zq2210::dump(const std::string&, int32_t) { return false; }
bool Zq2210::onReceive(const uint8_t*, int32_t) { return false; }
}  // namespace Zq
