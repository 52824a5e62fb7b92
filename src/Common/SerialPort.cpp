// Placeholder until the serial port lands.
#include "Common/SerialPort.h"
#include "Zq/Command.h"
namespace Common {
bool SerialPortEvent::onReceive(const uint8_t*, int32_t) { return false; }
SerialPort::SerialPort() = default;
SerialPort::~SerialPort() { close(); }
bool SerialPort::create(uint16_t) { return false; }
bool SerialPort::open() { return false; }
bool SerialPort::close() { return true; }
int32_t SerialPort::send(const uint8_t*, int32_t) { return 0; }
int32_t SerialPort::recv(uint8_t*) { return 0; }
int32_t SerialPort::recvTimeout(Zq::Command&) { return -1; }
bool SerialPort::flushBuffers() { return false; }
std::string SerialPort::lastErrorText() { return {}; }
std::string SerialPort::devicePath(const std::string& name) { return name; }
}  // namespace Common
