// A scripted TCP peer on 127.0.0.1 for tests of the socket and the network drivers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Zq/Terminal.h"

namespace ZqTest {

class LoopbackPeer;

// The accepted connection, used from the peer's thread.
class PeerConnection {
public:
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;
  ~PeerConnection();

  // Sends all bytes (or as many as the connection takes before it breaks).
  void send(const std::string& bytes);
  // Up to `count` bytes; fewer when `timeoutMs` passes or the other side closes.
  std::string receive(size_t count, int timeoutMs);
  // Everything through `terminator`, or what came before the time-out or close.
  std::string receiveUntil(char terminator, int timeoutMs);
  void pause(int ms);
  // Closes the connection now (an orderly close: the other side reads end of stream).
  void close();
  // Closes the connection with a reset: the other side's next receive fails.
  void reset();
  // True once the other side has closed its end (a receive saw end of stream).
  bool peerClosed() const { return peerClosed_; }

private:
  friend class LoopbackPeer;
  PeerConnection(uintptr_t handle, LoopbackPeer& owner);
  // Reads what arrives within `timeoutMs` into pending_ (one receive); false on close or error.
  bool fillOnce(int timeoutMs);

  uintptr_t handle_;
  bool open_ = true;
  bool peerClosed_ = false;
  std::string pending_;
  LoopbackPeer& owner_;
};

// Listens on 127.0.0.1:<ephemeral port> and accepts ONE connection on its own thread, then runs
// the script on it. The connection is closed when the script returns.
class LoopbackPeer {
public:
  using Script = std::function<void(PeerConnection&)>;

  explicit LoopbackPeer(Script script);
  // Waits for the script to end, then closes everything.
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  uint16_t port() const { return port_; }
  // Every byte the peer has received so far.
  std::string received() const;
  // Joins the script thread. A peer that nobody connects to gives up after a few seconds.
  void waitDone();
  // True when a connection was accepted (and so the script ran).
  bool accepted() const;

private:
  friend class PeerConnection;
  void run();
  void record(const char* data, size_t length);

  Script script_;
  uintptr_t listener_;
  uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::string received_;
  bool accepted_ = false;
  std::thread thread_;
};

// A loopback port with nothing listening (bound, read and closed again).
uint16_t closedLoopbackPort();

// The application's connection values towards 127.0.0.1:port; tests about something other than
// waiting may shorten the receive wait.
Zq::TCPSettings applicationSettings(uint16_t port, int32_t recvTimeoutMs = 192);

// A listener on 127.0.0.1 whose backlog is full and which never accepts: a further connect to
// it gets no answer, so it can only end by its time-out. available() is false when the queue
// could not be filled on this system.
class FullBacklogListener {
public:
  FullBacklogListener();
  ~FullBacklogListener();
  FullBacklogListener(const FullBacklogListener&) = delete;
  FullBacklogListener& operator=(const FullBacklogListener&) = delete;

  uint16_t port() const { return port_; }
  bool available() const { return available_; }

private:
  uintptr_t listener_;
  uint16_t port_ = 0;
  bool available_ = false;
  std::unique_ptr<uintptr_t[]> clients_;
  size_t clientCount_ = 0;
};

}  // namespace ZqTest
