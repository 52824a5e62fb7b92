// Only operating-system independent code; the per-OS part is included at the end.
#include "Common/File.h"

namespace Common {

namespace {
bool syncToDisk(std::FILE* stream);
std::FILE* openNotSharingWrites(const char* path, const char* mode);
}  // namespace

File::~File() { close(); }

bool File::openExclusive(const char* path, const char* mode) {
  handle = openNotSharingWrites(path, mode);
  return handle != nullptr;
}

bool File::close() {
  if (handle == nullptr) return true;
  // fclose releases the stream even when it fails; closing it again would be undefined,
  // so the handle is forgotten either way and only the result tells of the failure.
  const int result = std::fclose(handle);
  handle = nullptr;
  return result == 0;
}

bool File::good() const { return handle != nullptr && std::ferror(handle) == 0; }

bool File::sync() {
  if (!good()) return false;
  if (std::fflush(handle) != 0 || std::ferror(handle) != 0) return false;
  return syncToDisk(handle);
}

bool truncate(const std::string& path) {
  File file;
  if (!file.openExclusive(path.c_str(), "w")) return false;
  return file.close();
}

}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/File.inc"
#else
#include "Common/Posix/File.inc"
#endif
