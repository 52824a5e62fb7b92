// A lock file held through the operating system's own file locking, which ends with the process
// that holds it, and which records the holder's process id for whoever finds it taken.
#pragma once

#include <cstdint>
#include <string>

namespace ZqNightly {

class Lock {
public:
  enum Result {
    Taken,      // it was free
    TakenOver,  // it was free, but named a process that is gone (a job that crashed)
    Held,       // a running process holds it
    Failed,     // it could not be opened
  };

  Lock() = default;
  ~Lock() { release(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  // Takes the lock without waiting. `detail` is the holder's (or the gone holder's) process id,
  // or the error.
  Result tryTake(const std::string& path, std::string& detail);
  // Takes the lock, waiting for it; it is held for moments only.
  bool take(const std::string& path, std::string& error);
  // Removes the lock file and lets it go.
  void release();

private:
  std::string path_;
  // The descriptor, or the HANDLE; -1 (also INVALID_HANDLE_VALUE): none.
  intptr_t handle_ = -1;
};

}  // namespace ZqNightly
