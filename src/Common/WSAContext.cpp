// Only operating-system independent code; the per-OS part is included at the end.
#include "Common/WSAContext.h"

#include <cstring>

#include "Common/Log.h"

#define LOG_SOURCE "Common\\WSAContext"

namespace Common {

namespace {
// Starts the library; fills `data` and the version it reports. Returns the error number, 0 on success.
int startLibrary(unsigned char* data, size_t size, unsigned& major, unsigned& minor);
// Returns the error number, 0 on success.
int releaseLibrary();
}  // namespace

WSAContext::WSAContext() { std::memset(wsaData, 0, sizeof wsaData); }

WSAContext::~WSAContext() { cleanUp(); }

bool WSAContext::startUp() {
  if (started) {
    LOG(LogWarning, "WSAContext::startUp(): Winsock dll already initialized");
    return true;
  }
  std::memset(wsaData, 0, sizeof wsaData);
  unsigned major = 0;
  unsigned minor = 0;
  if (const int err = startLibrary(wsaData, sizeof wsaData, major, minor)) {
    LOG(LogError, "WSAContext::startUp(): WSAStartup(): Winsock dll not found, err => %d", err);
    return false;
  }
  if (major == 2 && minor == 2) {
    started = true;
    return true;
  }
  LOG(LogError, "WSAContext::startUp(): Dll do not support the Winsock version %u.%u\n", major, minor);
  releaseLibrary();
  return false;
}

bool WSAContext::cleanUp() {
  if (!started) return true;
  if (const int err = releaseLibrary()) {
    LOG(LogError, "WSAContext::cleanUp(): WSACleanup(): err => %d", err);
    return false;
  }
  std::memset(wsaData, 0, sizeof wsaData);
  started = false;
  return true;
}

}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/WSAContext.inc"
#else
#include "Common/Posix/WSAContext.inc"
#endif
