// One IPv4 TCP client socket with a bounded connect and select-bounded sends and receives.
//
// What the operations return:
//   create, close, connect, setBlockingMode  true; false after an Error line
//   canRead, canWrite  true when ready; false after a Warning (time-out, stop request) or an Error
//   sendTimeout        the bytes sent, 0 to length (a failed send logs an Error and ends it); -1
//                      when no room came within the wait
//   recvTimeout        the bytes received (> 0); -1 for none: silence, the peer closed, a failure,
//                      its deadline or MaxReplyBytes passed (Error), a stop request (Warning)
//   takeWaiting        the bytes taken, 0 for none
// Kept as declared from the first version: the destructor is virtual, although nothing derives
// from Socket and nothing relies on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Common/ByteBuffer.h"
#include "Common/Deadline.h"
#include "Common/Log.h"

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
  static constexpr int32_t FamilyIPv4 = 2;   // AF_INET
  static constexpr int32_t TypeStream = 1;   // SOCK_STREAM
  static constexpr int32_t ProtocolTcp = 6;  // IPPROTO_TCP
  // A growable receive gives up past this much data without a complete reply.
  static constexpr size_t MaxReplyBytes = 1024 * 1024;

  Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  virtual ~Socket();

  // Every operation reports by its result and logs its own failure at level Error (a time-out at
  // Warning), with the system's error number.

  // A new socket, after closing any earlier one. False when the system refuses one.
  bool create(int32_t family, int32_t type, int32_t protocol);
  // True when closed or nothing was open. The descriptor is forgotten even when the system
  // reports a failure where the system releases it anyway (POSIX).
  bool close();
  // Connects to the dotted IPv4 `host`; 0.0.0.0 and 255.255.255.255 are refused without a
  // packet sent. A negative `timeoutMs` connects plainly, however long the system takes; otherwise
  // the connect is started non-blocking and awaited for `timeoutMs` at most, and the socket is left
  // in blocking mode.
  bool connect(uint16_t port, const std::string& host, int32_t timeoutMs);
  bool setBlockingMode(bool blocking);
  // One wait of at most `timeoutMs` for data (or for room to send). Always true in blocking mode,
  // where the send or receive itself waits. A time-out is logged as a Warning; so is a stop request,
  // which ends the wait at once until the data file is saved.
  bool canRead(int32_t timeoutMs);
  bool canWrite(int32_t timeoutMs);
  // One wait for room, then sends until all is out or the connection breaks: the bytes sent
  // (0 for nothing), or -1 when the wait ran out first.
  int32_t sendTimeout(const uint8_t* data, int32_t length, int32_t timeoutMs);
  // Receives into `buffer` until `size` bytes, the owner's event calls the reply complete, the
  // peer closes or resets, or `attempts` waits of `timeoutMs` each find nothing: each chunk may
  // cost attempts x timeoutMs. The bytes received, or -1 for none.
  int32_t recvTimeout(uint8_t* buffer, int32_t size, int32_t timeoutMs, int32_t attempts);
  // The same into a growing `command`, without a size limit below MaxReplyBytes: past it the reply
  // is dropped (logged) and the result is -1.
  int32_t recvTimeout(ByteBuffer& command, int32_t timeoutMs, int32_t attempts);

  // The whole time a reply may take, however slowly its bytes keep coming: receives end (logged at
  // Error) once `ms` have passed from this call. The owner's event may call it again, as parts of a
  // reply complete, to give the next part the same time. A growable receive that runs out of it
  // gives -1; a fixed one what it has (and `replyTimedOut` tells).
  void setReplyDeadline(int32_t ms);
  void clearReplyDeadline();
  bool replyTimedOut() const { return deadlineLogged; }

  // Takes what arrived without being asked for: bytes an owner gave back after its reply (see
  // keepUnread), then whatever is waiting now, if need be after one wait of `waitMs`. Never more
  // than MaxReplyBytes. The bytes taken, 0 for none.
  int32_t takeWaiting(ByteBuffer& stray, int32_t waitMs);
  // Bytes received after the end of a reply: they belong to no request and are taken next.
  void keepUnread(const uint8_t* data, size_t length);

  bool isOpen() const { return handle != 0; }
  // The error number of the last failure reported; 0 before any.
  int lastError() const { return error; }
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
  // canRead (`wanted` the read set) or canWrite (the write set).
  bool waitFor(unsigned wanted, int32_t timeoutMs);
  // One receive of at most `length` bytes: the count, or 0 when the reply has ended (peer closed,
  // reset or failure).
  int32_t receiveChunk(uint8_t* buffer, int32_t length);
  // Every failure of a system call is reported here: logged at Error as "<what> => <number>" with
  // the system's error number, which is kept for the caller (lastError). False.
  bool fail(int err, const char* what, ...) ZQ_PRINTF_FORMAT(3, 4);
  // Up to `attempts` readability waits; false at once past the reply deadline (logged once).
  bool waitReadable(int32_t timeoutMs, int32_t attempts);
  // Waits for `wanted` in short slices, so that a stop request is seen within one; `marked` gets
  // what became ready. The system's error number, or 0 (also on time-out and stop: `stopped`).
  int waitSliced(unsigned wanted, int32_t timeoutMs, const Deadline& limit, unsigned& marked, bool& stopped);

  uintptr_t handle = 0;  // the SOCKET or the descriptor; 0: none
  int32_t family = 0;
  int32_t type = 0;
  int32_t protocol = 0;
  uint16_t port = 0;
  std::string host;
  bool blocking = true;
  ISocketEvent* event = nullptr;
  Deadline replyDeadline;
  int32_t replyDeadlineMs = 0;
  bool deadlineLogged = false;
  int error = 0;
  std::vector<uint8_t> unread;
};

}  // namespace Common
