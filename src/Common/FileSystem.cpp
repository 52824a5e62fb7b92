// Only operating-system independent code.
#include "Common/FileSystem.h"

#include <vector>

namespace Common {
namespace FileSystem {
namespace {

char pathListSeparator();
bool hasSeparator(const std::string& path);
bool isExecutableFile(const std::string& path);
// The names a program may have on disk (Windows adds .exe).
std::vector<std::string> candidateNames(const std::string& name);
bool makeDirectory(const std::string& path, std::string& error);

std::string refusal(const std::string& path, const std::string& kind, const char* wanted) {
  return path + " is " + kind + ", not " + wanted + " of the job's own: refused";
}

}  // namespace

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == separator() || folder.back() == '/') return folder + name;
  return folder + separator() + name;
}

std::string findProgram(const std::string& name) {
  if (name.empty()) return std::string();
  if (hasSeparator(name)) {
    for (const std::string& candidate : candidateNames(absolute(name))) {
      if (!candidate.empty() && isExecutableFile(candidate)) return candidate;
    }
    return std::string();
  }
  const std::string list = environment("PATH");
  size_t start = 0;
  for (;;) {
    const size_t end = list.find(pathListSeparator(), start);
    const std::string folder = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // An empty entry is the working directory, as the shell reads it.
    for (const std::string& candidate : candidateNames(name)) {
      const std::string path = absolute(join(folder.empty() ? "." : folder, candidate));
      if (!path.empty() && isExecutableFile(path)) return path;
    }
    if (end == std::string::npos) return std::string();
    start = end + 1;
  }
}

bool exists(const std::string& path) { return kindOf(path) != Kind::Absent; }

bool makeDirectories(const std::string& path, std::string& error) {
  if (path.empty() || isDirectory(path)) return true;
  const size_t cut = path.find_last_of(std::string(1, separator()) + "/");
  if (cut != std::string::npos && cut > 0) {
    const std::string parent = path.substr(0, cut);
    if (!isDirectory(parent) && !makeDirectories(parent, error)) return false;
  }
  // Another job may create it at the same moment.
  return makeDirectory(path, error) || isDirectory(path);
}

bool makeOwnFolder(const std::string& path, std::string& error) {
  switch (kindOf(path)) {
    case Kind::Folder: return true;
    case Kind::Absent:
      // Another job may create it at the same moment.
      return makeDirectory(path, error) || kindOf(path) == Kind::Folder;
    case Kind::File: error = refusal(path, "a file", "a folder"); return false;
    case Kind::Other: error = refusal(path, strangeKind(path), "a folder"); return false;
  }
  return false;
}

}  // namespace FileSystem
}  // namespace Common

#ifdef _WIN32
#include "Common/Win32/FileSystem.inc"
#else
#include "Common/Posix/FileSystem.inc"
#endif
