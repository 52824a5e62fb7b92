// The terminal interface and the TCP and serial connection bases of the drivers.
#pragma once

#include <cstdint>
#include <string>

#include "Common/SerialPort.h"
#include "Common/Socket.h"
#include "Zq/TerminalRecord.h"

namespace Zq {

class Command;

// What both kinds of connection are given. A wait of -1 does not wait (a poll); a receive makes
// up to `recvAttempts` waits of `recvTimeoutMs` each for every chunk, so a silent peer costs
// recvAttempts x recvTimeoutMs. The serial line has fixed waits of its own and uses only `port`.
struct ConnectionSettings {
  int32_t port = 0;  // the IP port, or the COM port number
  bool blocking = true;
  int32_t recvAttempts = 1;
  int32_t connectTimeoutMs = -1;
  int32_t sendTimeoutMs = -1;
  int32_t recvTimeoutMs = -1;
};

struct TCPSettings : ConnectionSettings {
  std::string host;  // dotted IPv4 address
};

struct COMSettings : ConnectionSettings {
  uint32_t baudRate = 0;
};

class ITerminal {
public:
  virtual ~ITerminal() = default;
  virtual bool reset() = 0;
  virtual bool updateDateTime() = 0;
  virtual bool dump(const std::string& fileName, CardFormat cardFormat) = 0;
};

class TCPConnection : public ITerminal {
public:
  bool connect(const TCPSettings& s);
  bool disconnect();

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, CardFormat cardFormat) override;

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
  bool dump(const std::string& fileName, CardFormat cardFormat) override;

  Common::SerialPort serialPort;
  COMSettings settings;
};

// The first speed of the table at or above `requested`; 115200 past its end.
uint32_t selectBaudRate(uint32_t requested);

}  // namespace Zq
