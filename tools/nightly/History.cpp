// Only operating-system independent code.
#include "History.h"

#include "FileSystem.h"
#include "Lock.h"
#include "Records.h"

namespace ZqNightly {
namespace {

// The pending note: "day", "file", "work" (relative to the day folder, '/' separated) and
// "memory" ("cleared" or "kept"), one "key value" a line.
std::string valueOf(const std::string& note, const std::string& key) {
  const std::string prefix = key + " ";
  for (const std::string& raw : Records::lines(note)) {
    std::string line = raw;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  }
  return std::string();
}

std::string nativeSeparators(std::string path) {
  for (char& c : path) {
    if (c == '/') c = FileSystem::separator();
  }
  return path;
}

}  // namespace

History::History(const std::string& outputFolder)
    : outputFolder_(outputFolder), stateFolder_(FileSystem::join(outputFolder, ".state")) {}

std::string History::path(const std::string& name, const char* suffix) const {
  return FileSystem::join(stateFolder_, name + suffix);
}

bool History::open(const std::vector<std::string>& names, std::string& error) {
  if (!FileSystem::makeDirectories(stateFolder_, error)) return false;
  Lock lock;
  if (!lock.take(FileSystem::join(stateFolder_, ".lock"), error)) return false;
  for (const std::string& name : names) {
    if (!recover(name, error)) return false;
  }
  return true;
}

bool History::recover(const std::string& name, std::string& error) {
  std::string note;
  if (!FileSystem::exists(path(name, ".pending"))) return true;
  if (!FileSystem::readFile(path(name, ".pending"), note, error)) return false;
  const std::string dayFolder = FileSystem::join(outputFolder_, valueOf(note, "day"));
  const std::string file = valueOf(note, "file");
  const std::string finalPath = FileSystem::join(dayFolder, file);
  const std::string workPath = FileSystem::join(dayFolder, nativeSeparators(valueOf(note, "work")));
  if (!file.empty() && !FileSystem::exists(finalPath) && FileSystem::exists(workPath) &&
      !FileSystem::placeFile(workPath, finalPath, error)) {
    return false;
  }
  if (!file.empty() && FileSystem::exists(finalPath)) {
    Placed placed;
    return finish(name, dayFolder, file, valueOf(note, "memory") == "cleared", placed, error);
  }
  // The download never reached its place and its file is gone: nothing to complete.
  FileSystem::removeFile(path(name, ".pending"));
  return true;
}

bool History::commit(const std::string& name, const std::string& day, const std::string& workFile, bool cleared,
                     Placed& placed, std::string& error) {
  Lock lock;
  if (!lock.take(FileSystem::join(stateFolder_, ".lock"), error) || !recover(name, error)) return false;
  const std::string dayFolder = FileSystem::join(outputFolder_, day);
  std::string file = name + ".txt";
  for (int n = 2; FileSystem::exists(FileSystem::join(dayFolder, file)) ||
                  FileSystem::exists(FileSystem::join(FileSystem::join(dayFolder, "new"), file));
       ++n) {
    file = name + "." + std::to_string(n) + ".txt";
  }
  std::string work = workFile.substr(dayFolder.size() + 1);
  for (char& c : work) {
    if (c == FileSystem::separator()) c = '/';
  }
  const std::string note =
      "day " + day + "\nfile " + file + "\nwork " + work + "\nmemory " + (cleared ? "cleared" : "kept") + "\n";
  if (!FileSystem::writeAtomically(path(name, ".pending"), note, error)) return false;
  if (!FileSystem::placeFile(workFile, FileSystem::join(dayFolder, file), error)) {
    FileSystem::removeFile(path(name, ".pending"));
    return false;
  }
  return finish(name, dayFolder, file, cleared, placed, error);
}

bool History::finish(const std::string& name, const std::string& dayFolder, const std::string& file, bool cleared,
                     Placed& placed, std::string& error) {
  placed.file = file;
  if (!FileSystem::readFile(FileSystem::join(dayFolder, file), placed.data, error)) return false;
  placed.records = Records::lines(placed.data).size();
  std::string previous;
  if (FileSystem::exists(path(name, ".last")) && !FileSystem::readFile(path(name, ".last"), previous, error)) {
    return false;
  }
  const std::string newFolder = FileSystem::join(dayFolder, "new");
  const std::string newPath = FileSystem::join(newFolder, file);
  // A new/ file that exists was written whole by the job that died after it: it stays as it is.
  if (FileSystem::exists(newPath)) {
    std::string existing;
    if (!FileSystem::readFile(newPath, existing, error)) return false;
    placed.newRecords = Records::lines(existing).size();
  } else {
    const std::string fresh = Records::fresh(previous, placed.data, placed.newRecords);
    if (!FileSystem::makeDirectories(newFolder, error) || !FileSystem::writeAtomically(newPath, fresh, error)) {
      return false;
    }
  }
  if (!FileSystem::writeAtomically(path(name, ".last"), cleared ? std::string() : placed.data, error)) return false;
  FileSystem::removeFile(path(name, ".pending"));
  return true;
}

}  // namespace ZqNightly
