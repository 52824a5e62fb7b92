// Only operating-system independent code.
#include "Nightly/DayFolder.h"

#include <algorithm>

#include "Nightly/Platform.h"

namespace ZqNightly {

const char* const DayFolder::runRecordName = "zq-nightly.run";
const char* const DayFolder::consoleName = "console.txt";
const char* const DayFolder::debugLogName = "Zq-ReadUtility.log";

DayFolder::DayFolder(const std::string& outputFolder, const std::string& day)
    : day_(day), path_(FileSystem::join(outputFolder, day)) {}

std::string DayFolder::file(const std::string& relative) const {
  std::string path = path_;
  size_t start = 0;
  for (;;) {
    const size_t slash = relative.find('/', start);
    path =
        FileSystem::join(path, relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) return path;
    start = slash + 1;
  }
}

std::string DayFolder::workFile(const std::string& name, const std::string& file) const {
  return FileSystem::join(workFolder(name), file);
}

bool DayFolder::prepare(std::string& error) const {
  if (!FileSystem::makeOwnFolder(path_, error) || !FileSystem::makeOwnFolder(file("new"), error) ||
      !FileSystem::makeOwnFolder(file("logs"), error)) {
    return false;
  }
  // stopped/ and .work/ are made when needed; what is there already must be the job's own.
  for (const char* folder : {"stopped", ".work"}) {
    if (FileSystem::exists(file(folder)) && !FileSystem::makeOwnFolder(file(folder), error)) return false;
  }
  return true;
}

bool DayFolder::prepareWork(const std::string& name, std::string& error) const {
  return FileSystem::makeOwnFolder(file(".work"), error) && FileSystem::makeOwnFolder(workFolder(name), error);
}

bool DayFolder::hasWork() const { return FileSystem::kindOf(file(".work")) != FileSystem::Kind::Absent; }

std::vector<std::string> DayFolder::workNames() const {
  std::vector<std::string> names;
  std::string ignored;
  if (FileSystem::kindOf(file(".work")) != FileSystem::Kind::Folder) return names;
  FileSystem::listFolder(file(".work"), names, ignored);
  std::sort(names.begin(), names.end());
  return names;
}

void DayFolder::cleanWork(const std::string& name) const {
  for (const char* own : {runRecordName, consoleName, debugLogName}) FileSystem::removeOwnFile(workFile(name, own));
  // A job killed while it replaced the run's record leaves the record's temporary file.
  std::vector<std::string> names;
  std::string ignored;
  const std::string temporary = "." + std::string(runRecordName) + ".";
  if (FileSystem::listFolder(workFolder(name), names, ignored)) {
    for (const std::string& left : names) {
      if (left.compare(0, temporary.size(), temporary) == 0 && left.size() > 4 &&
          left.compare(left.size() - 4, 4, ".tmp") == 0) {
        FileSystem::removeOwnFile(workFile(name, left));
      }
    }
  }
  FileSystem::removeEmptyDirectory(workFolder(name));
  FileSystem::removeEmptyDirectory(file(".work"));
}

namespace {

std::string numbered(const std::string& stem, int n) {
  return n == 1 ? stem + ".txt" : stem + "." + std::to_string(n) + ".txt";
}

}  // namespace

std::string DayFolder::freeDataName(const std::string& stem) const {
  for (int n = 1;; ++n) {
    const std::string name = numbered(stem, n);
    if (!FileSystem::exists(file(name)) && !FileSystem::exists(newPath(name))) return name;
  }
}

std::string DayFolder::lastDataName(const std::string& stem) const {
  std::string last;
  for (int n = 1; FileSystem::kindOf(file(numbered(stem, n))) == FileSystem::Kind::File; ++n) last = numbered(stem, n);
  return last;
}

std::string DayFolder::keepStopped(const std::string& from, const std::string& stem, std::string& error) const {
  if (!FileSystem::makeOwnFolder(file("stopped"), error)) return std::string();
  for (int n = 1; n <= 1000; ++n) {
    const std::string name = numbered(stem, n);
    if (FileSystem::exists(file("stopped/" + name))) continue;
    return FileSystem::placeFile(from, file("stopped/" + name), error) ? "stopped/" + name : std::string();
  }
  error = "no free name in " + file("stopped") + " for " + stem;
  return std::string();
}

bool DayFolder::appendLog(const std::string& name, const std::string& text, std::string& error) const {
  return FileSystem::makeOwnFolder(file("logs"), error) && FileSystem::appendOwnFile(logPath(name), text, error);
}

std::string DayFolder::relative(const std::string& path) const {
  std::string text =
      path.compare(0, path_.size() + 1, path_ + FileSystem::separator()) == 0 ? path.substr(path_.size() + 1) : path;
  for (char& c : text) {
    if (c == FileSystem::separator()) c = '/';
  }
  return text;
}

bool DayFolder::isDayName(const std::string& name) {
  LocalTime day;
  return Common::readDate(name, day);
}

std::vector<std::string> DayFolder::days(const std::string& outputFolder) {
  std::vector<std::string> names;
  std::vector<std::string> days;
  std::string ignored;
  FileSystem::listFolder(outputFolder, names, ignored);
  for (const std::string& name : names) {
    if (isDayName(name) && FileSystem::kindOf(FileSystem::join(outputFolder, name)) == FileSystem::Kind::Folder) {
      days.push_back(name);
    }
  }
  std::sort(days.begin(), days.end());
  return days;
}

}  // namespace ZqNightly
