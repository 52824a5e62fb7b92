// Placeholder until the driver lands.
#include "Zq/Zq735.h"
namespace Zq {
Zq735::Zq735() {}
bool Zq735::reset() { return false; }
bool Zq735::updateDateTime() { return false; }
bool Zq735::dump(const std::string&, int32_t) { return false; }
bool Zq735::onReceive(const uint8_t*, int32_t) { return false; }
}  // namespace Zq
