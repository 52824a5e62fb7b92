// One IPv4 TCP client socket with a bounded connect and select-bounded sends and receives.
#pragma once

#include <cstdint>
#include <string>

namespace Zq {
class Command;
}

namespace Common {

// Asked after every received chunk whether the reply received so far is complete.
class ISocketEvent {
public:
  virtual ~ISocketEvent() = default;
  virtual bool onReceive(const uint8_t* data, int32_t length) = 0;
};

class SocketEvent : public ISocketEvent {
public:
  bool onReceive(const uint8_t* data, int32_t length) override;
};

class Socket {
public:
  // The same numbers on Windows and POSIX systems.
  static constexpr int32_t FamilyIPv4 = 2;    // AF_INET
  static constexpr int32_t TypeStream = 1;    // SOCK_STREAM
  static constexpr int32_t ProtocolTcp = 6;   // IPPROTO_TCP
  // A growable receive gives up past this much data without a complete reply.
  static constexpr size_t MaxReplyBytes = 1024 * 1024;

  Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  virtual ~Socket();

  bool create(int32_t family, int32_t type, int32_t protocol);
  bool close();
  bool connect(uint16_t port, const std::string& host, int32_t timeoutMs);
  bool setBlockingMode(bool blocking);
  bool canRead(int32_t timeoutMs);
  bool canWrite(int32_t timeoutMs);
  int32_t sendTimeout(const uint8_t* data, int32_t length, int32_t timeoutMs);
  int32_t recvTimeout(uint8_t* buffer, int32_t size, int32_t timeoutMs, int32_t attempts);
  int32_t recvTimeout(Zq::Command& command, int32_t timeoutMs, int32_t attempts);

  bool isOpen() const { return handle != 0; }
  bool isBlocking() const { return blocking; }
  // The peer of the last successful connect; 0 and empty while not connected.
  uint16_t peerPort() const { return port; }
  const std::string& peerHost() const { return host; }
  // The owner that judges, after every received chunk, whether the reply is complete; null: none.
  void setEvent(ISocketEvent* sink) { event = sink; }
  ISocketEvent* eventSink() const { return event; }

private:
  friend struct SocketTestAccess;

  // A plain connect that takes as long as the system lets it.
  bool connectAtOnce(uint16_t port, const std::string& host, uint32_t address);
  // A connect started non-blocking and awaited for `timeoutMs` at most.
  bool connectWithin(uint16_t port, const std::string& host, uint32_t address, int32_t timeoutMs);
  // setBlockingMode in the name of connect: both steps' lines on failure.
  bool setModeForConnect(bool blocking);

  uintptr_t handle = 0;  // the SOCKET or the descriptor; 0: none
  int32_t family = 0;
  int32_t type = 0;
  int32_t protocol = 0;
  uint16_t port = 0;
  std::string host;
  bool blocking = true;
  ISocketEvent* event = nullptr;
};

}  // namespace Common
