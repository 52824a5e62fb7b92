// A lock file held through the operating system's own file locking, which ends with the last
// process that holds it (a run that inherited it included), and which records the holder's
// process id for whoever finds it taken. A holder that lets go removes the file, so a lock file
// that is there but not held was left by a holder that ended abnormally.
#pragma once

#include <cstdint>
#include <string>

namespace Common {

class Lock {
public:
  enum Result {
    Taken,      // it was free
    TakenOver,  // it was free, but its file was left by a holder that ended abnormally
    Held,       // a running process holds it
    Failed,     // it could not be opened, or the name is not a regular file
  };

  Lock() = default;
  ~Lock() { release(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  // Takes the lock without waiting and writes `record` into it (the process id first, as
  // ownRecord() gives it). `previous` is what the file held before (TakenOver, Held: the holder's
  // record, perhaps empty), or the error (Failed).
  Result tryTake(const std::string& path, const std::string& record, std::string& previous);
  // Takes the lock, waiting at most `timeoutMs`, and not beyond a stop request of the job's.
  bool take(const std::string& path, int64_t timeoutMs, std::string& error);
  // Removes the lock file and lets it go.
  void release();
  bool held() const { return handle_ != -1; }
  // The descriptor or HANDLE, for a child that is to hold the lock as long as it runs.
  intptr_t handle() const { return handle_; }

  // This process's record: its id and a line end.
  static std::string ownRecord();
  // The process id a lock file's record starts with, "" when it holds none.
  static std::string recordedId(const std::string& content);

private:
  std::string path_;
  // The descriptor, or the HANDLE; -1 (also INVALID_HANDLE_VALUE): none.
  intptr_t handle_ = -1;
};

}  // namespace Common
