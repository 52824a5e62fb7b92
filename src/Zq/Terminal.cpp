// Only operating-system independent code.
// Kept on purpose: the connection bases' reset, updateDateTime and dump log "Not Implemented" and
// fail, so that a driver that forgets one says so in the log instead of doing nothing quietly.
#include "Zq/Terminal.h"

#include <climits>

#include "Common/Log.h"
#include "Common/RunTexts.h"
#include "Zq/Command.h"

#define LOG_SOURCE "Zq\\Terminal"

namespace Zq {

namespace {
const uint32_t speedTable[] = {110,   300,   600,   1200,  2400,   4800,   9600,   14400,
                               19200, 38400, 56000, 57600, 115200, 128000, 256000, 0};
}

int32_t ConnectionSettings::replyDeadlineMs() const {
  const int64_t waits = static_cast<int64_t>(recvAttempts) * recvTimeoutMs;
  return waits > 5000 ? static_cast<int32_t>(waits > INT32_MAX ? INT32_MAX : waits) : 5000;
}

Clearing clearingFor(const LogSite& site, const char* owner, long saved) {
  if (saved < 0) {
    writeLog(LogError, site.source, site.line, "%s::reset(): No download saved: nothing is cleared", owner);
    return Clearing::Refused;
  }
  if (saved > 0) return Clearing::Needed;
  writeLog(LogInfo, site.source, site.line, "%s::reset(): " ZQ_MSG_NOTHING_TO_CLEAR, owner);
  return Clearing::NothingToClear;
}

uint32_t selectBaudRate(uint32_t requested) {
  for (const uint32_t* speed = speedTable; *speed != 0; ++speed) {
    if (*speed >= requested) return *speed;
  }
  return 115200;
}

bool TCPConnection::connect(const TCPSettings& s) {
  settings = s;
  if (!socket.create(Common::Socket::FamilyIPv4, Common::Socket::TypeStream, Common::Socket::ProtocolTcp)) {
    LOG(LogError, "TCPConnection::connect(): Can't create socket");
    return false;
  }
  if (!socket.connect(static_cast<uint16_t>(settings.port), settings.host, settings.connectTimeoutMs)) {
    LOG(LogError, "TCPConnection::connect(): Can't connect to %s:%d", settings.host.c_str(),
        static_cast<int>(settings.port));
    return false;
  }
  if (!socket.setBlockingMode(settings.blocking)) {
    LOG(LogError, "TCPConnection::connect(): Can't set %s mode", settings.blocking ? "blocking" : "non-blocking");
    return false;
  }
  LOG(LogInfo, "TCPConnection::connect(): Connected to %s:%d", settings.host.c_str(), static_cast<int>(settings.port));
  return true;
}

bool TCPConnection::connect(const Endpoint& endpoint) {
  TCPSettings s;
  static_cast<ConnectionSettings&>(s) = endpoint.settings;
  s.host = endpoint.host;
  return connect(s);
}

bool TCPConnection::disconnect() { return socket.close(); }

void TCPConnection::dropStrayBytes(const char* operation, int32_t waitMs) {
  Command stray;
  if (socket.takeWaiting(stray, waitMs) == 0) return;
  inStep = false;
  LOG(LogWarning, "%s(): " ZQ_MSG_UNASKED, operation, static_cast<unsigned>(stray.size()), hexDump(stray).c_str());
}

bool TCPConnection::readyForRequest(const char* operation, bool clearing) {
  if (clearing) return readyToClear(operation, settings.recvTimeoutMs);
  dropStrayBytes(operation);
  return true;
}

bool TCPConnection::readyToClear(const char* operation, int32_t waitMs) {
  if (inStep) dropStrayBytes(operation, waitMs);
  if (inStep) return true;
  LOG(LogWarning, "%s(): " ZQ_MSG_OUT_OF_STEP, operation);
  return false;
}

bool TCPConnection::reset() {
  LOG(LogWarning, "TCPConnection::reset(): Not Implemented");
  return false;
}

bool TCPConnection::updateDateTime() {
  LOG(LogWarning, "TCPConnection::updateDateTime(): Not Implemented");
  return false;
}

bool TCPConnection::dump(const std::string&, CardFormat) {
  LOG(LogWarning, "TCPConnection::dump(): Not Implemented");
  return false;
}

bool COMConnection::connect(const COMSettings& s) {
  settings = s;
  const unsigned port = static_cast<uint16_t>(settings.port);
  if (!serialPort.create(static_cast<uint16_t>(port))) {
    LOG(LogError, "COMConnection::connect(): Can't create serial port COM%u", port);
    return false;
  }
  Common::SerialLineSettings& line = serialPort.lineSettings();
  line.baudRate = selectBaudRate(settings.baudRate);
  line.setTerminalLine();
  if (!serialPort.open()) {
    serialPort.close();
    LOG(LogError, "COMConnection::connect(): Can't open serial port COM%u", port);
    return false;
  }
  LOG(LogInfo, "COMConnection::connect(): Opened serial port COM%u at %u bps", port,
      static_cast<unsigned>(serialPort.lineSettings().baudRate));
  return true;
}

bool COMConnection::connect(const Endpoint& endpoint) {
  COMSettings s;
  static_cast<ConnectionSettings&>(s) = endpoint.settings;
  s.baudRate = endpoint.baudRate;
  return connect(s);
}

bool COMConnection::disconnect() { return serialPort.close(); }

bool COMConnection::readyToClear(const char* operation) {
  if (inStep) return true;
  LOG(LogWarning, "%s(): " ZQ_MSG_OUT_OF_STEP, operation);
  return false;
}

int32_t COMConnection::send(const Command& command) {
  if (!serialPort.flushBuffers()) {
    LOG(LogError, "COMConnection::send(): Can't flush buffers");
    return 0;
  }
  return serialPort.send(command.data(), static_cast<int32_t>(command.size()));
}

bool COMConnection::reset() {
  LOG(LogWarning, "COMConnection::reset(): Not Implemented");
  return false;
}

bool COMConnection::updateDateTime() {
  LOG(LogWarning, "COMConnection::updateDateTime(): Not Implemented");
  return false;
}

bool COMConnection::dump(const std::string&, CardFormat) {
  LOG(LogWarning, "COMConnection::dump(): Not Implemented");
  return false;
}

}  // namespace Zq
