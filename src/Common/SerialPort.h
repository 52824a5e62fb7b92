// One COM port, opened exclusively, with fixed read and write time-outs.
//
// What the operations return:
//   create, open, close, flushBuffers  true; false after an Error line
//   send         the bytes written (> 0); -1 none within the write time-out, or a stop request
//                (Warning); 0 a failed write (Error)
//   recv         the bytes read (> 0); -1 silence for the whole read time-out; 0 a failed read (Error)
//   recvTimeout  the reply's length; -1 for none: silence, a failed read, its deadline or
//                MaxReplyBytes passed (Error), a stop request (Warning)
// A count is the success and 0 the failure, as the Windows calls report them: the socket's waits
// give -1 where this gives 0.
// Kept as declared from the first version: the destructor is virtual, although nothing derives
// from SerialPort and nothing relies on it.
#pragma once

#include <cstdint>
#include <string>

#include "Common/ByteBuffer.h"
#include "Common/Deadline.h"

namespace Common {

// Asked after every received chunk whether the reply received so far is complete.
class ISerialPortEvent {
public:
  virtual ~ISerialPortEvent() = default;
  virtual bool onReceive(const uint8_t* data, int32_t length) = 0;
};

class SerialPortEvent : public ISerialPortEvent {
public:
  bool onReceive(const uint8_t* data, int32_t length) override;
};

// The values are those of the Windows device-control block.
enum Parity : uint8_t { ParityNone = 0, ParityOdd = 1, ParityEven = 2, ParityMark = 3, ParitySpace = 4 };
enum StopBits : uint8_t { OneStopBit = 0, OneAndAHalfStopBits = 1, TwoStopBits = 2 };

// The line settings of the device-control block, in portable form: `create` reads them from
// the device and pre-fills them, the connection adjusts them, `open` applies them.
struct SerialLineSettings {
  uint32_t baudRate = 0;
  uint8_t byteSize = 0;
  Parity parity = ParityNone;
  StopBits stopBits = OneStopBit;
  bool outxCtsFlow = false;
  bool outxDsrFlow = false;
  bool dtrEnabled = false;
  bool rtsEnabled = false;
  bool outX = false;  // XON/XOFF output flow control
  bool inX = false;
  char xonChar = 0;
  char xoffChar = 0;
  uint16_t xonLim = 0;
  uint16_t xoffLim = 0;
  char eofChar = 0;
  char errorChar = 0;
  char evtChar = 0;

  // 8N1, DTR and RTS held on, XON/XOFF output flow control and the terminals' special
  // characters; the speed and every other flag are left as they are.
  void setTerminalLine();
};

class SerialPort {
public:
  static constexpr int32_t ReadChunk = 1024;
  // A receive gives up past this much data without a complete reply.
  static constexpr size_t MaxReplyBytes = 1024 * 1024;

  SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  virtual ~SerialPort();

  // Every operation reports by its result and logs its own failure at level Error, with the
  // system's error number and text; silence is no failure and is not logged.

  // Opens COM<port & 0xFF> exclusively and reads its line settings; nothing is configured yet.
  bool create(uint16_t port);
  // Applies `lineSettings()`, the fixed time-outs (a read waits 35 ms at most, a write 100 ms) and
  // purges both directions.
  bool open();
  // True when closed or nothing was open. Output still held back (XOFF) is dropped first, so that
  // closing never waits for the line.
  bool close();
  // Writes within the write time-out and returns once the bytes have left the port: the number
  // written, -1 when none went out in time or a stop request ends the exchange (logged), 0 for a
  // failure (logged).
  int32_t send(const uint8_t* data, int32_t length);
  // One read of up to ReadChunk bytes within the read time-out: the number read, -1 for silence,
  // 0 for a failure (logged).
  int32_t recv(uint8_t* buffer);
  // Gathers reads into `command` until the owner's `event` calls the reply complete, the line falls
  // silent or a read fails: the reply's length, or -1 for none (silence, or MaxReplyBytes without an end).
  int32_t recvTimeout(ByteBuffer& command);
  // The whole time the next replies may take, from this call, however slowly their bytes keep
  // coming; past it a receive ends (logged at Error) with -1.
  void setReplyDeadline(int32_t ms);
  // Discards what is queued in both directions.
  bool flushBuffers();
  // The system's text for the calling thread's last error, cut at its last full stop.
  std::string lastErrorText();

  // The device path that `create` opens for `name` (COM<n>), for messages and tests.
  static std::string devicePath(const std::string& name);

  bool isOpen() const { return handle != 0; }
  // "COM<n>", as every message names the port; empty before `create`.
  const char* portName() const { return name; }
  uint16_t portNumber() const { return port; }
  // The line settings that `open` applies; `create` fills them from the device.
  SerialLineSettings& lineSettings() { return dcb; }
  const SerialLineSettings& lineSettings() const { return dcb; }
  // The owner that judges, after every read, whether the reply is complete; null: none.
  void setEvent(ISerialPortEvent* sink) { event = sink; }
  ISerialPortEvent* eventSink() const { return event; }

private:
  struct Native;
  friend struct SerialPortTestAccess;

  // Per-OS part of `create`: opens devicePath(name) and reads the device's settings into `dcb`.
  bool openDevice();
  // The calling thread's last error (GetLastError or errno) and its system message, uncut.
  static int32_t lastError();
  static void setLastError(int32_t err);
  static std::string systemMessage(int32_t err);
  // The message cut at its last full stop, or else at its first carriage return.
  static std::string cutSystemMessage(const std::string& message);
  // Every failure of a system call is reported here: the calling thread's error is captured at
  // once, logged at Error as "<what> => <number> (<text>)", and left for the caller. False.
  bool fail(const std::string& what);
  static std::string errorText(int32_t err) { return cutSystemMessage(systemMessage(err)); }
  // The per-OS block behind `dcb` (DCB, termios), the flags without a portable form included.
  void* nativeLine();

  uintptr_t handle = 0;  // the HANDLE or the descriptor; 0: none
  // The device-control block in portable form. On Windows it maps onto the DCB; on Linux onto
  // the termios settings and the modem lines (DTR, RTS), the fields termios has no form for
  // (the XON/XOFF limits, the EOF, error and event characters) kept only to be reported back.
  SerialLineSettings dcb;
  uint16_t port = 0;
  char name[7] = {};
  ISerialPortEvent* event = nullptr;
  Deadline replyDeadline;
  int32_t replyDeadlineMs = 0;
  Native* native = nullptr;  // per-OS state behind the handle (the native DCB, termios)
};

}  // namespace Common
