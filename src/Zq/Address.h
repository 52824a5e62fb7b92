// A terminal's address as the command line and the nightly job's terminals file give it, read
// strictly, so that a typing error never reaches another terminal than the one meant.
#pragma once

#include <cstdint>
#include <string>

namespace Zq {

// Decimal digits only ("" counts; a sign or a blank does not).
bool isDigits(const char* text);

// Four decimal numbers 0 to 255 separated by dots, leading zeros allowed ("192.168.001.010"),
// written without them ("192.168.1.10"); "" for anything else.
std::string normalizeIpAddress(const std::string& text);

// What reading "a.b.c.d[:port]" found wrong.
enum class AddressError {
  None,
  Address,  // not an IPv4 address, or a port that is not decimal digits (or is empty)
  Port,     // a port of digits outside 1 to 65535
};

// Reads "a.b.c.d[:port]": `host` normalised, `port` the one given (1001 without one). With
// AddressError::Port, `port` is the number read (saturated).
AddressError readNetworkAddress(const std::string& text, std::string& host, int32_t& port);

// A serial port's number, decimal digits only (leading zeros allowed), 1 to 255; 0 for anything else.
int32_t readComPort(const std::string& text);

}  // namespace Zq
