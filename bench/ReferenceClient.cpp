// The least a client can do for the same transfer as Zq-ReadUtility's download: the same
// requests and replies with blocking I/O and no decoding, so the program's figures can be
// compared with what the line and the simulator allow on this machine.
//   Zq-ReferenceClient 870 <port> | 735 <port> | 2210 <device>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char Stx = 0x02;  // starts every request of the framed families

[[noreturn]] void fail(const char* what) {
  std::perror(what);
  std::exit(1);
}

int connectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) fail("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("connect");
  return fd;
}

void sendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) fail("write");
    sent += static_cast<size_t>(n);
  }
}

void readExactly(int fd, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, buffer + got, size - got);
    if (n <= 0) fail("read");
    got += static_cast<size_t>(n);
  }
}

// Reads one CR-terminated reply; on a serial line, waits with poll like a careful client.
std::string readReply(int fd) {
  std::string reply;
  char chunk[1024];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) fail("poll");
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) fail("read");
    reply.append(chunk, static_cast<size_t>(n));
    if (reply.find('\r') != std::string::npos) return reply;
  }
}

long download870(int port) {
  const int fd = connectLoopback(port);
  sendAll(fd, "GETLOGDATA");
  unsigned char count[4];
  readExactly(fd, reinterpret_cast<char*>(count), 4);
  const unsigned long records = (unsigned long)count[0] << 24 | count[1] << 16 | count[2] << 8 | count[3];
  std::vector<char> buffer(1 << 16);
  unsigned long long remaining = records * 26ull;
  while (remaining > 0) {
    const size_t want = remaining < buffer.size() ? static_cast<size_t>(remaining) : buffer.size();
    const ssize_t n = ::read(fd, buffer.data(), want);
    if (n <= 0) fail("read");
    remaining -= static_cast<unsigned long long>(n);
  }
  ::close(fd);
  return static_cast<long>(records);
}

long download735(int port) {
  const int fd = connectLoopback(port);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sendAll(fd, std::string(1, Stx) + "D00\r");
  readReply(fd);
  sendAll(fd, std::string(1, Stx) + "N\r");
  const std::string reply = readReply(fd);
  const long records = reply.size() >= 5 ? std::strtol(reply.substr(2, reply.size() - 5).c_str(), nullptr, 16) : 0;
  char request[32];
  for (long i = 0; i < records; ++i) {
    std::snprintf(request, sizeof request, "\x02G%04lX\r", i);
    sendAll(fd, request);
    readReply(fd);
  }
  ::close(fd);
  return records;
}

std::string exchange2210(int fd, const std::string& command) {
  ::tcflush(fd, TCIOFLUSH);
  sendAll(fd, std::string(1, Stx) + "11" + command + "\r");
  return readReply(fd);
}

long download2210(const char* device) {
  const int fd = ::open(device, O_RDWR | O_NOCTTY);
  if (fd < 0) fail("open");
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B38400);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  exchange2210(fd, "LI");
  exchange2210(fd, "RA");
  const std::string count = exchange2210(fd, "RN");
  const long records = count.size() > 5 ? std::strtol(count.substr(4).c_str(), nullptr, 10) : 0;
  for (long i = 0; i < records; ++i) {
    exchange2210(fd, "RG" + std::to_string(i));
    exchange2210(fd, "RH");
  }
  exchange2210(fd, "LO");
  ::close(fd);
  return records;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: Zq-ReferenceClient 870|735 <loopback port> | 2210 <device>\n");
    return 2;
  }
  const std::string family = argv[1];
  long records = 0;
  if (family == "870") records = download870(std::atoi(argv[2]));
  else if (family == "735") records = download735(std::atoi(argv[2]));
  else if (family == "2210") records = download2210(argv[2]);
  else return 2;
  std::printf("%ld\n", records);
  return 0;
}
