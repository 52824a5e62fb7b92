// Placeholder until the socket lands.
#include "Common/Socket.h"
#include "Zq/Command.h"
namespace Common {
bool SocketEvent::onReceive(const uint8_t*, int32_t) { return false; }
Socket::Socket() = default;
Socket::~Socket() { close(); }
bool Socket::create(int32_t, int32_t, int32_t) { return false; }
bool Socket::close() { return true; }
bool Socket::connect(uint16_t, const std::string&, int32_t) { return false; }
bool Socket::setBlockingMode(bool) { return false; }
bool Socket::canRead(int32_t) { return false; }
bool Socket::canWrite(int32_t) { return false; }
int32_t Socket::sendTimeout(const uint8_t*, int32_t, int32_t) { return -1; }
int32_t Socket::recvTimeout(uint8_t*, int32_t, int32_t, int32_t) { return -1; }
int32_t Socket::recvTimeout(Zq::Command&, int32_t, int32_t) { return -1; }
}  // namespace Common
