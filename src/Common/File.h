// Owner of one open runtime-library stream (the data file, the debug log).
#pragma once

#include <cstdio>
#include <string>

namespace Common {

class File {
public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  virtual ~File();

  // Opens `path` with the fopen `mode` without sharing write access with other processes.
  // Closes nothing: the caller closes an earlier stream first. errno tells why it failed.
  bool openExclusive(const char* path, const char* mode);

  // False when closing failed (buffered bytes may be lost); the stream is gone either way.
  bool close();

  // False once a write on the stream has failed (full disk, I/O error) or nothing is open.
  bool good() const;

  // Pushes everything written so far to stable storage: the runtime's buffer, then the
  // system's cache. False when either step fails or a write failed earlier.
  bool sync();

  std::FILE* handle = nullptr;
};

// Makes the named file exist and be empty; true when it could be opened and closed again.
bool truncate(const std::string& path);

}  // namespace Common
