// The terminal interface and the TCP and serial connection bases of the drivers.
#pragma once

#include <cstdint>
#include <string>

#include "Common/SerialPort.h"
#include "Common/Socket.h"

namespace Zq {

class Command;

struct TCPSettings {
  int32_t port = 0;
  bool blocking = true;
  int32_t recvAttempts = 1;
  int32_t connectTimeoutMs = -1;
  int32_t sendTimeoutMs = -1;
  int32_t recvTimeoutMs = -1;
  std::string host;
};

struct COMSettings {
  int32_t port = 0;
  bool blocking = true;
  int32_t recvAttempts = 1;
  int32_t connectTimeoutMs = -1;
  int32_t sendTimeoutMs = -1;
  int32_t recvTimeoutMs = -1;
  uint32_t baudRate = 0;
};

class ITerminal {
public:
  virtual ~ITerminal() = default;
  virtual bool reset() = 0;
  virtual bool updateDateTime() = 0;
  virtual bool dump(const std::string& fileName, int32_t cardFormat) = 0;
};

class TCPConnection : public ITerminal {
public:
  bool connect(const TCPSettings& s);
  bool disconnect();

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, int32_t cardFormat) override;

  Common::Socket socket;
  TCPSettings settings;
};

class COMConnection : public ITerminal {
public:
  bool connect(const COMSettings& s);
  bool disconnect();
  // Purges both directions of the line, then writes the request.
  int32_t send(const Command& command);

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, int32_t cardFormat) override;

  Common::SerialPort serialPort;
  COMSettings settings;
};

// The first speed of the table at or above `requested`; 115200 past its end.
uint32_t selectBaudRate(uint32_t requested);

}  // namespace Zq
