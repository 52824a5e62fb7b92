// Only operating-system independent code; the per-OS part is included at the end.
#include "Common/SerialPort.h"

#include <cstdio>
#include <vector>

#include "Common/Log.h"
#include "Common/RunTexts.h"
#include "Common/Stop.h"

#define LOG_SOURCE "Common\\SerialPort"

namespace Common {

bool SerialPortEvent::onReceive(const uint8_t*, int32_t) { return false; }

void SerialLineSettings::setTerminalLine() {
  byteSize = 8;
  parity = ParityNone;
  stopBits = OneStopBit;
  outxCtsFlow = false;
  outxDsrFlow = false;
  dtrEnabled = true;
  rtsEnabled = true;
  outX = true;
  xonChar = 0x11;
  xoffChar = 0x13;
  xonLim = 256;
  xoffLim = 256;
  eofChar = 0x1A;
  errorChar = 0x00;
  evtChar = 0x00;
}

bool SerialPort::create(uint16_t portNumber) {
  close();
  port = portNumber;
  std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(portNumber & 0xFF));
  if (!openDevice()) return false;

  // The line the terminals speak; every other flag stays as the device reported it.
  dcb.baudRate = 115200;
  dcb.setTerminalLine();
  return true;
}

int32_t SerialPort::recvTimeout(ByteBuffer& command) {
  command.clear();
  std::vector<uint8_t> chunk(ReadChunk);
  for (;;) {
    if (Stop::endsExchanges()) {
      LOG(LogWarning, "SerialPort::recvTimeout(): " ZQ_MSG_STOP_REQUESTED);
      command.clear();
      break;
    }
    if (replyDeadline.passed()) {
      LOG(LogError, "SerialPort::recvTimeout(): " ZQ_MSG_REPLY_DEADLINE, static_cast<int>(replyDeadlineMs));
      command.clear();
      break;
    }
    const int32_t received = recv(chunk.data());
    if (received <= 0) {
      if (lastError() != 0) fail("SerialPort::recvTimeout(): err");
      break;
    }
    command.bytes.insert(command.bytes.end(), chunk.begin(), chunk.begin() + received);
    if (event != nullptr && event->onReceive(command.data(), static_cast<int32_t>(command.size()))) break;
    // A device that never stops talking must not exhaust memory: give up on the reply.
    if (command.size() > MaxReplyBytes) {
      LOG(LogError, "SerialPort::recvTimeout(): No complete reply within %u bytes",
          static_cast<unsigned>(MaxReplyBytes));
      command.clear();
      break;
    }
  }
  return command.size() == 0 ? -1 : static_cast<int32_t>(command.size());
}

void SerialPort::setReplyDeadline(int32_t ms) {
  replyDeadline = Deadline::after(ms);
  replyDeadlineMs = ms;
}

std::string SerialPort::lastErrorText() { return errorText(lastError()); }

bool SerialPort::fail(const std::string& what) {
  const int32_t err = lastError();
  LOG(LogError, "%s => %d (%s)", what.c_str(), static_cast<int>(err), errorText(err).c_str());
  setLastError(err);
  return false;
}

std::string SerialPort::cutSystemMessage(const std::string& message) {
  size_t cut = message.rfind('.');
  if (cut == std::string::npos) cut = message.find('\r');
  return message.substr(0, cut);
}

}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/SerialPort.inc"
#else
#include "Common/Posix/SerialPort.inc"
#endif
