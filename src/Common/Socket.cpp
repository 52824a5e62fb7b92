// Only operating-system independent code; the per-OS part is included at the end.
// Kept on purpose: the log texts name the Winsock calls (closesocket, ioctlsocket, select) on every
// platform, because log readers compare them; toWaitTime's carry cannot happen today and stays as
// the conversion every wait has always made.
#include "Common/Socket.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "Common/Log.h"
#include "Common/RunTexts.h"
#include "Common/Stop.h"

#define LOG_SOURCE "Common\\Socket"

namespace Common {

namespace {

// A select-style time-out.
struct WaitTime {
  long seconds;
  long microseconds;
};

WaitTime toWaitTime(int32_t timeoutMs) {
  // The program only waits with positive time-outs; a negative one polls instead of blocking for ever.
  if (timeoutMs < 0) timeoutMs = 0;
  WaitTime time{timeoutMs / 1000, (timeoutMs % 1000) * 1000L};
  if (time.microseconds > 999999) {
    time.microseconds -= 1000000;
    time.seconds += 1;
  }
  return time;
}

// What a wait asks for and what it found.
enum WaitSet : unsigned { WaitRead = 1, WaitWrite = 2, WaitExcept = 4 };

// Thin wrappers, one per system call, defined in the per-OS part. Each returns the system's error
// number for the failure (0 on success), read at once before anything can overwrite it.
int sysSocket(int32_t family, int32_t type, int32_t protocol, uintptr_t& handle);
int sysClose(uintptr_t handle);
// The IPv4 address of a dotted text, in network byte order (what inet_addr gives).
uint32_t sysInetAddr(const char* host);
int sysConnect(uintptr_t handle, int32_t family, uint16_t port, uint32_t address);
int sysSetNonBlocking(uintptr_t handle, bool nonBlocking);
// Waits for the sets in `wanted`; `marked` receives those that became ready (0 on time-out).
int sysSelect(uintptr_t handle, unsigned wanted, const WaitTime& time, unsigned& marked);
// The outcome of a connect that was started non-blocking: `pending` is 0 once it succeeded.
int sysConnectResult(uintptr_t handle, int& pending);
int sysSend(uintptr_t handle, const uint8_t* data, int32_t length, int32_t& sent);
int sysRecv(uintptr_t handle, uint8_t* buffer, int32_t length, int32_t& received);
void clearLastError();

// The error numbers treated specially, as the system reports them (defined in the per-OS part).
extern const int ErrWouldBlock;            // a non-blocking connect has started
extern const int ErrIsConnected;           // the socket is already connected
extern const int ErrConnectionReset;       // the peer reset the connection
extern const int ErrConnectionRefused;     // the peer refused the connection
extern const int ErrAddressNotAvailable;   // the destination is not a usable address
extern const int ErrInterrupted;           // a wait was interrupted by a signal
extern const bool CloseReleasesOnFailure;  // whether a failed close has still released the socket

// The receive loops' chunk.
const int32_t chunkBytes = 1024;
// Waits are cut into slices of at most this: Windows delivers a stop request on another thread,
// and a signal may arrive just before a wait begins.
const int32_t sliceMs = 50;

}  // namespace

bool SocketEvent::onReceive(const uint8_t*, int32_t) { return false; }

bool Socket::fail(int err, const char* what, ...) {
  error = err;
  char text[256];
  va_list args;
  va_start(args, what);
  std::vsnprintf(text, sizeof text, what, args);
  va_end(args);
  LOG(LogError, "%s => %d", text, err);
  return false;
}

int32_t Socket::receiveChunk(uint8_t* buffer, int32_t length) {
  clearLastError();
  int32_t n = 0;
  if (const int err = sysRecv(handle, buffer, length, n)) {
    // A reset ends the reply like a close; anything else is worth a line.
    if (err != ErrConnectionReset) fail(err, "Socket::recvTimeout(): recv(): err");
    return 0;
  }
  return n;
}

Socket::Socket() = default;

Socket::~Socket() { close(); }

bool Socket::create(int32_t family, int32_t type, int32_t protocol) {
  close();
  uintptr_t created = 0;
  if (const int err = sysSocket(family, type, protocol, created)) return fail(err, "Socket::create(): socket(): err");
  handle = created;
  this->family = family;
  this->type = type;
  this->protocol = protocol;
  return true;
}

bool Socket::close() {
  if (handle == 0) return true;
  const int err = sysClose(handle);
  if (err != 0) fail(err, "Socket::close(): closesocket(): err");
  if (err != 0 && !CloseReleasesOnFailure) return false;
  handle = 0;
  family = 0;
  type = 0;
  protocol = 0;
  port = 0;
  host.clear();
  blocking = true;
  return err == 0;
}

bool Socket::connect(uint16_t port, const std::string& host, int32_t timeoutMs) {
  const uint32_t address = sysInetAddr(host.c_str());
  // 0.0.0.0 leads to this machine's own services on some systems; 255.255.255.255 is also what an
  // empty or unreadable address text converts to (a network model given a bare port number).
  // Neither is ever a terminal, and nothing is sent towards them.
  if (address == 0 || address == 0xFFFFFFFFu) {
    return fail(ErrAddressNotAvailable, "Socket::connect(): " ZQ_MSG_CONNECT_FAILED, host.c_str(), port);
  }
  const bool connected =
      timeoutMs < 0 ? connectAtOnce(port, host, address) : connectWithin(port, host, address, timeoutMs);
  if (!connected) return false;
  this->port = port;
  this->host = host;
  return true;
}

bool Socket::connectAtOnce(uint16_t port, const std::string& host, uint32_t address) {
  clearLastError();
  const int err = sysConnect(handle, family, port, address);
  if (err == 0) return true;
  return fail(err, "Socket::connect(): " ZQ_MSG_CONNECT_FAILED, host.c_str(), port);
}

bool Socket::connectWithin(uint16_t port, const std::string& host, uint32_t address, int32_t timeoutMs) {
  // Started non-blocking, so that the wait below bounds it.
  if (!setModeForConnect(false)) return false;
  clearLastError();
  const int connectErr = sysConnect(handle, family, port, address);
  // A refusal may be known before connect returns (loopback on some systems); it then ends the same
  // way as one that the wait sees.
  if (connectErr == ErrConnectionRefused) {
    return fail(ErrWouldBlock, "Socket::connect(): " ZQ_MSG_CONNECT_TIMEOUT, host.c_str(), port);
  }
  if (connectErr != 0 && connectErr != ErrWouldBlock && connectErr != ErrIsConnected) {
    return fail(connectErr, "Socket::connect(): " ZQ_MSG_CONNECT_FAILED, host.c_str(), port);
  }
  if (!setModeForConnect(true)) return false;

  unsigned marked = 0;
  bool stopped = false;
  if (const int err = waitSliced(WaitWrite | WaitExcept, timeoutMs, Deadline(), marked, stopped)) {
    return fail(err, "Socket::connect(): select(): err");
  }
  if (stopped) {
    LOG(LogWarning, "Socket::connect(): " ZQ_MSG_STOP_REQUESTED);
    return false;
  }
  bool connected = (marked & WaitWrite) != 0;
  // Some systems mark a refused connect writable instead of exceptional; its pending error tells.
  if (connected) {
    int pending = 0;
    connected = sysConnectResult(handle, pending) == 0 && (pending == 0 || pending == ErrIsConnected);
  }
  if (!connected) return fail(connectErr, "Socket::connect(): " ZQ_MSG_CONNECT_TIMEOUT, host.c_str(), port);
  return true;
}

bool Socket::setModeForConnect(bool blocking) {
  if (const int err = sysSetNonBlocking(handle, !blocking)) {
    fail(err, "Socket::setBlockingMode(): ioctlsocket(): err");
    LOG(LogError, "Socket::connect(): Can't set %s mode", blocking ? "blocking" : "non-blocking");
    return false;
  }
  this->blocking = blocking;
  return true;
}

bool Socket::setBlockingMode(bool blocking) {
  if (const int err = sysSetNonBlocking(handle, !blocking))
    return fail(err, "Socket::setBlockingMode(): ioctlsocket(): err");
  this->blocking = blocking;
  return true;
}

bool Socket::canRead(int32_t timeoutMs) { return waitFor(WaitRead, timeoutMs); }

bool Socket::canWrite(int32_t timeoutMs) { return waitFor(WaitWrite, timeoutMs); }

int Socket::waitSliced(unsigned wanted, int32_t timeoutMs, const Deadline& limit, unsigned& marked, bool& stopped) {
  const Deadline end = Deadline::after(timeoutMs);
  stopped = false;
  for (;;) {
    marked = 0;
    if (Stop::endsExchanges()) {
      stopped = true;
      return 0;
    }
    const int32_t slice = limit.cap(end.cap(sliceMs));
    const int err = sysSelect(handle, wanted, toWaitTime(slice), marked);
    if (err != 0 && err != ErrInterrupted) return err;
    if (marked != 0 || end.passed() || limit.passed()) return 0;
  }
}

bool Socket::waitFor(unsigned wanted, int32_t timeoutMs) {
  if (blocking) return true;
  const bool reading = wanted == WaitRead;
  const char* operation = reading ? "canRead" : "canWrite";
  clearLastError();
  unsigned marked = 0;
  bool stopped = false;
  // A read never waits past the reply's deadline; the receive says so when it ends.
  if (const int err = waitSliced(wanted, timeoutMs, reading ? replyDeadline : Deadline(), marked, stopped)) {
    return fail(err, "Socket::%s(): select(): err", operation);
  }
  if (stopped) {
    LOG(LogWarning, "Socket::%s(): " ZQ_MSG_STOP_REQUESTED, operation);
    return false;
  }
  if (marked & wanted) return true;
  if (reading && replyDeadline.passed()) return false;
  LOG(LogWarning, "Socket::%s(): " ZQ_MSG_WAIT_TIMEOUT, operation, reading ? "Read" : "Write", timeoutMs);
  return false;
}

bool Socket::waitReadable(int32_t timeoutMs, int32_t attempts) {
  bool ready = true;
  for (int32_t attempt = 0; attempt < attempts && !replyDeadline.passed(); ++attempt) {
    ready = canRead(timeoutMs);
    if (ready || Stop::endsExchanges()) break;
  }
  if (replyDeadline.passed()) {
    if (!deadlineLogged) {
      LOG(LogError, "Socket::recvTimeout(): " ZQ_MSG_REPLY_DEADLINE, static_cast<int>(replyDeadlineMs));
    }
    deadlineLogged = true;
    return false;
  }
  return ready;
}

void Socket::setReplyDeadline(int32_t ms) {
  replyDeadline = Deadline::after(ms);
  replyDeadlineMs = ms;
  deadlineLogged = false;
}

void Socket::clearReplyDeadline() {
  replyDeadline = Deadline();
  deadlineLogged = false;
}

void Socket::keepUnread(const uint8_t* data, size_t length) { unread.insert(unread.end(), data, data + length); }

int32_t Socket::takeWaiting(ByteBuffer& stray, int32_t waitMs) {
  stray.clear();
  stray.bytes.swap(unread);
  // Asked before every request: the usual answer, nothing, costs one poll and no allocation.
  uint8_t chunk[chunkBytes];
  bool waited = false;
  while (handle != 0 && stray.size() < MaxReplyBytes) {
    unsigned marked = 0;
    bool stopped = false;
    const int32_t wait = waited || !stray.bytes.empty() ? 0 : waitMs;
    waited = true;
    if (waitSliced(WaitRead, wait, Deadline(), marked, stopped) != 0 || stopped || !(marked & WaitRead)) break;
    const int32_t n = receiveChunk(chunk, chunkBytes);
    if (n == 0) break;
    stray.bytes.insert(stray.bytes.end(), chunk, chunk + n);
  }
  return static_cast<int32_t>(stray.size());
}

int32_t Socket::sendTimeout(const uint8_t* data, int32_t length, int32_t timeoutMs) {
  if (!canWrite(timeoutMs)) return -1;
  if (length <= 0) return 0;
  int32_t sent = 0;
  int32_t remaining = length;
  while (remaining > 0) {
    clearLastError();
    int32_t n = 0;
    if (const int err = sysSend(handle, data + sent, remaining, n)) {
      fail(err, "Socket::sendTimeout(): send(): err");
      break;
    }
    if (n == 0) break;
    sent += n;
    remaining -= n;
  }
  return length - remaining;
}

int32_t Socket::recvTimeout(uint8_t* buffer, int32_t size, int32_t timeoutMs, int32_t attempts) {
  if (size <= 0) return -1;
  int32_t received = 0;
  while (waitReadable(timeoutMs, attempts)) {
    const int32_t n = receiveChunk(buffer + received, size - received);
    if (n == 0) break;
    received += n;
    if (event && event->onReceive(buffer, received)) break;
    if (received >= size) break;
  }
  return received > 0 ? received : -1;
}

int32_t Socket::recvTimeout(ByteBuffer& command, int32_t timeoutMs, int32_t attempts) {
  command.clear();
  std::vector<uint8_t> scratch(chunkBytes);
  while (waitReadable(timeoutMs, attempts)) {
    const int32_t n = receiveChunk(scratch.data(), chunkBytes);
    if (n == 0) break;
    command.bytes.insert(command.bytes.end(), scratch.begin(), scratch.begin() + n);
    if (event && event->onReceive(command.bytes.data(), static_cast<int32_t>(command.bytes.size()))) break;
    // A device that never completes its reply must not be able to exhaust memory.
    if (command.bytes.size() > MaxReplyBytes) {
      LOG(LogError, "Socket::recvTimeout(): Reply exceeds %u bytes without completing",
          static_cast<unsigned>(MaxReplyBytes));
      command.clear();
      command.bytes.shrink_to_fit();
      return -1;
    }
  }
  // A reply still incomplete at its deadline is no reply: its rest may come later, as a stray.
  if (deadlineLogged) command.clear();
  return command.bytes.empty() ? -1 : static_cast<int32_t>(command.bytes.size());
}

}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/Socket.inc"
#else
#include "Common/Posix/Socket.inc"
#endif
