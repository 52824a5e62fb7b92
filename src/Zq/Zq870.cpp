// Placeholder until the driver lands.
#include "Zq/Zq870.h"
namespace Zq {
Zq870::Zq870() {}
bool Zq870::reset() { return false; }
bool Zq870::updateDateTime() { return false; }
bool Zq870::dump(const std::string&, int32_t) { return false; }
bool Zq870::onReceive(const uint8_t*, int32_t) { return false; }
}  // namespace Zq
