// Owner of one open runtime-library stream (the data file, the debug log).
// Kept as declared from the first version: the destructor is virtual, although nothing derives
// from File and nothing relies on it.
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

// True when `path` names a regular file or nothing yet; false (errno set) for a directory, a FIFO, a
// device or anything else a data file cannot be.
bool isRegularOrAbsent(const std::string& path);

// A file written under a temporary name beside its own and put in place by an atomic rename, so
// that under its own name it is only ever what a finished write left there, even after a crash or
// a power loss. The temporary name is hidden (".<name>.zq-tmp"); a writer holds it exclusively.
class ReplacingFile {
public:
  ReplacingFile() = default;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  // Removes a temporary file that was neither put in place nor emptied.
  ~ReplacingFile();

  // Creates the temporary file for `path`, emptying one that a run killed earlier left behind.
  // False (errno set, `path` untouched) when it cannot be created, another writer holds it or
  // `path` itself, or `path` is no regular file.
  bool open(const std::string& path);
  std::FILE* handle() const { return file.handle; }
  // False once a write failed or nothing is open.
  bool good() const { return file.good(); }
  // Hands what was written to the operating system; false when any part failed.
  bool flush();
  // Puts what was written on stable storage and in place of the file; false when any byte may be
  // missing (nothing is put in place then).
  bool commit();
  // Puts an empty file in place of the file: what a failed download leaves.
  bool commitEmpty();

  // The temporary name for `path`, in the same directory.
  static std::string temporaryPath(const std::string& path);

private:
  // Per-OS: the rename over `target`, durable once it returns true; the stream is still open.
  bool replaceTarget();
  // Per-OS: holds `target` for the time of the check that nobody else writes it.
  static bool targetFree(const std::string& target);
  void discard();

  File file;
  std::string target;     // the file to replace (a symbolic link's target on POSIX systems)
  std::string temporary;  // empty while nothing is open
};

}  // namespace Common
