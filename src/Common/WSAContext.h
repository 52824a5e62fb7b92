// Start-up and release of the sockets library, once per process.
// Kept as declared from the first version: the destructor is virtual, although nothing derives
// from WSAContext and nothing relies on it.
#pragma once

#include <cstdint>

namespace Common {

class WSAContext {
public:
  WSAContext();
  WSAContext(const WSAContext&) = delete;
  WSAContext& operator=(const WSAContext&) = delete;
  virtual ~WSAContext();

  bool startUp();
  bool cleanUp();
  bool isStarted() const { return started; }

private:
  bool started = false;
  // Room for the platform's WSADATA block; zero while not started.
  alignas(8) unsigned char wsaData[512];
};

}  // namespace Common
