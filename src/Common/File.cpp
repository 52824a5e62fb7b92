// Only operating-system independent code; the per-OS part is included at the end.
#include "Common/File.h"

namespace Common {

namespace {
bool syncToDisk(std::FILE* stream);
std::FILE* openNotSharingWrites(const char* path, const char* mode);
// Cuts an open stream's file to nothing.
bool emptyStream(std::FILE* stream);
bool removeFile(const std::string& path);
// What separates a directory from a name in a path.
extern const char* const PathSeparators;
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

ReplacingFile::~ReplacingFile() { discard(); }

bool ReplacingFile::flush() { return file.good() && std::fflush(file.handle) == 0 && file.good(); }

bool ReplacingFile::commit() {
  if (temporary.empty()) return false;
  if (!file.sync() || !replaceTarget()) {
    discard();
    return false;
  }
  temporary.clear();
  return file.close();
}

bool ReplacingFile::commitEmpty() {
  if (temporary.empty()) return false;
  // Whatever was written goes; the empty file takes the same way into place as a complete one.
  if (std::fflush(file.handle) != 0 || !emptyStream(file.handle) || !replaceTarget()) {
    discard();
    return truncate(target);
  }
  temporary.clear();
  return file.close();
}

void ReplacingFile::discard() {
  if (temporary.empty()) return;
  file.close();
  removeFile(temporary);
  temporary.clear();
}

std::string ReplacingFile::temporaryPath(const std::string& path) {
  const size_t cut = path.find_last_of(PathSeparators);
  const size_t nameAt = cut == std::string::npos ? 0 : cut + 1;
  return path.substr(0, nameAt) + "." + path.substr(nameAt) + ".zq-tmp";
}

}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/File.inc"
#else
#include "Common/Posix/File.inc"
#endif
