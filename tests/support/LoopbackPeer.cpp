// Test code: speaks to the sockets library of either system directly.
#include "LoopbackPeer.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace ZqTest {

namespace {

#ifdef _WIN32
using Native = SOCKET;
const Native invalidNative = INVALID_SOCKET;
const int sendFlags = 0;
void closeNative(Native s) { ::closesocket(s); }
void setNonBlocking(Native s, bool on) {
  u_long value = on ? 1 : 0;
  ::ioctlsocket(s, FIONBIO, &value);
}
// Every peer holds its own reference to the library, so tests need no WSAContext of their own.
struct Library {
  Library() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) std::abort();
  }
  ~Library() { ::WSACleanup(); }
};
#else
using Native = int;
const Native invalidNative = -1;
const int sendFlags = MSG_NOSIGNAL;
void closeNative(Native s) { ::close(s); }
void setNonBlocking(Native s, bool on) {
  const int flags = ::fcntl(s, F_GETFL, 0);
  ::fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}
struct Library {};
#endif

Native native(uintptr_t handle) { return static_cast<Native>(handle); }
uintptr_t stored(Native s) { return static_cast<uintptr_t>(s); }

Library& library() {
  static Library instance;
  return instance;
}

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A socket bound to 127.0.0.1 on a port the system chooses; `port` receives that port.
Native boundLoopbackSocket(uint16_t& port) {
  library();
  const Native s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == invalidNative) std::abort();
  sockaddr_in address = loopback(0);
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
  socklen_t length = sizeof address;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) std::abort();
  port = ntohs(address.sin_port);
  return s;
}

// Waits until `s` is readable (or writable); false on time-out.
bool waitFor(Native s, bool write, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval timeout;
  timeout.tv_sec = timeoutMs / 1000;
  timeout.tv_usec = (timeoutMs % 1000) * 1000;
  const int n = ::select(static_cast<int>(s) + 1, write ? nullptr : &set, write ? &set : nullptr, nullptr, &timeout);
  return n > 0;
}

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// How long a peer waits for its one connection before it gives up.
const int acceptTimeoutMs = 10000;

}  // namespace

PeerConnection::PeerConnection(uintptr_t handle, LoopbackPeer& owner) : handle_(handle), owner_(owner) {}

PeerConnection::~PeerConnection() { close(); }

void PeerConnection::send(const std::string& bytes) {
  size_t sent = 0;
  while (open_ && sent < bytes.size()) {
    const int n = ::send(native(handle_), bytes.data() + sent, static_cast<int>(bytes.size() - sent), sendFlags);
    if (n <= 0) return;
    sent += static_cast<size_t>(n);
  }
}

bool PeerConnection::fillOnce(int timeoutMs) {
  if (!open_ || peerClosed_) return false;
  if (!waitFor(native(handle_), false, timeoutMs)) return false;
  char chunk[4096];
  const int n = ::recv(native(handle_), chunk, sizeof chunk, 0);
  if (n <= 0) {
    peerClosed_ = true;
    return false;
  }
  pending_.append(chunk, static_cast<size_t>(n));
  owner_.record(chunk, static_cast<size_t>(n));
  return true;
}

std::string PeerConnection::receive(size_t count, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pending_.size() < count) {
    if (!fillOnce(remainingMs(deadline))) break;
  }
  const std::string result = pending_.substr(0, count);
  pending_.erase(0, result.size());
  return result;
}

std::string PeerConnection::receiveUntil(char terminator, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t end;
  while ((end = pending_.find(terminator)) == std::string::npos) {
    if (!fillOnce(remainingMs(deadline))) break;
  }
  const size_t take = end == std::string::npos ? pending_.size() : end + 1;
  const std::string result = pending_.substr(0, take);
  pending_.erase(0, take);
  return result;
}

void PeerConnection::pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void PeerConnection::close() {
  if (!open_) return;
  open_ = false;
  closeNative(native(handle_));
}

void PeerConnection::reset() {
  if (!open_) return;
  // A zero linger time turns the close into a reset.
  linger option;
  option.l_onoff = 1;
  option.l_linger = 0;
  ::setsockopt(native(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof option);
  close();
}

LoopbackPeer::LoopbackPeer(Script script) : script_(std::move(script)) {
  const Native s = boundLoopbackSocket(port_);
  if (::listen(s, 1) != 0) std::abort();
  listener_ = stored(s);
  thread_ = std::thread([this] { run(); });
}

LoopbackPeer::~LoopbackPeer() {
  waitDone();
  closeNative(native(listener_));
}

void LoopbackPeer::run() {
  const Native listener = native(listener_);
  if (!waitFor(listener, false, acceptTimeoutMs)) return;
  const Native s = ::accept(listener, nullptr, nullptr);
  if (s == invalidNative) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    accepted_ = true;
  }
  PeerConnection connection(stored(s), *this);
  if (script_) script_(connection);
}

void LoopbackPeer::record(const char* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.append(data, length);
}

std::string LoopbackPeer::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool LoopbackPeer::accepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

void LoopbackPeer::waitDone() {
  if (thread_.joinable()) thread_.join();
}

Zq::TCPSettings applicationSettings(uint16_t port, int32_t recvTimeoutMs) {
  Zq::TCPSettings s;
  s.port = port;
  s.blocking = false;
  s.recvAttempts = 5;
  s.connectTimeoutMs = 2500;
  s.sendTimeoutMs = 192;
  s.recvTimeoutMs = recvTimeoutMs;
  s.host = "127.0.0.1";
  return s;
}

uint16_t closedLoopbackPort() {
  uint16_t port = 0;
  closeNative(boundLoopbackSocket(port));
  return port;
}

FullBacklogListener::FullBacklogListener() {
  const Native s = boundLoopbackSocket(port_);
  listener_ = stored(s);
  if (::listen(s, 0) != 0) std::abort();
  // The system rounds a backlog of 0 up to a small number; connect until one gets no answer.
  const size_t limit = 64;
  clients_.reset(new uintptr_t[limit]);
  const sockaddr_in address = loopback(port_);
  while (clientCount_ < limit) {
    const Native client = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (client == invalidNative) break;
    clients_[clientCount_++] = stored(client);
    setNonBlocking(client, true);
    ::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (!waitFor(client, true, 300)) {
      available_ = true;
      break;
    }
  }
}

FullBacklogListener::~FullBacklogListener() {
  for (size_t i = 0; i < clientCount_; ++i) closeNative(native(clients_[i]));
  closeNative(native(listener_));
}

}  // namespace ZqTest
