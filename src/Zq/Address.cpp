// Only operating-system independent code.
#include "Zq/Address.h"

#include <cstdio>
#include <vector>

#include "Zq/Command.h"

namespace Zq {

bool isDigits(const char* text) {
  if (text == nullptr) return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

std::string normalizeIpAddress(const std::string& text) {
  const std::vector<std::string> parts = split(text, ".");
  if (parts.size() != 4) return std::string();
  int octets[4];
  for (size_t i = 0; i < 4; ++i) {
    // Leading zeros are allowed, so the value decides, not the length (the reading saturates).
    if (parts[i].empty() || !isDigits(parts[i].c_str())) return std::string();
    octets[i] = readDecimal(parts[i].c_str());
    if (octets[i] > 255) return std::string();
  }
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
  return buffer;
}

AddressError readNetworkAddress(const std::string& text, std::string& host, int32_t& port) {
  const size_t colon = text.find(':');
  const bool hasPort = colon != std::string::npos;
  const std::string digits = hasPort ? text.substr(colon + 1) : std::string();
  host = normalizeIpAddress(text.substr(0, colon));
  port = 1001;
  if (host.empty() || (hasPort && (digits.empty() || !isDigits(digits.c_str())))) return AddressError::Address;
  if (!hasPort) return AddressError::None;
  port = readDecimal(digits.c_str());
  return port >= 1 && port <= 65535 ? AddressError::None : AddressError::Port;
}

int32_t readComPort(const std::string& text) {
  const int32_t port = !text.empty() && isDigits(text.c_str()) ? readDecimal(text.c_str()) : 0;
  return port >= 1 && port <= 255 ? port : 0;
}

}  // namespace Zq
