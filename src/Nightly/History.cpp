// Only operating-system independent code.
#include "Nightly/History.h"

#include <cstdio>

#include "Nightly/DayFolder.h"
#include "Nightly/Platform.h"
#include "Nightly/Records.h"

namespace ZqNightly {
namespace {

// .state/.lock is held for moments; a holder that keeps it longer is stuck, and waiting for ever
// would hold every later job too.
const int64_t stateLockWaitMs = 120000;

const char* const memoryHeader = "zq-nightly memory 1";

// FNV-1a, 64 bits: enough to tell a damaged file from a whole one.
std::string checksum(const std::string& data) {
  uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : data) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  char text[20];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

// The value of "key value" lines, "" when the key is missing.
std::string valueOf(const std::vector<std::string>& lines, const std::string& key) {
  const std::string prefix = key + " ";
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  }
  return std::string();
}

bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A plain file name: no folder, nothing that climbs out.
bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

// Whether `file` is one of the names a download of the terminal `key` gets: <name>.txt or
// <name>.<n>.txt, in any case.
bool isDataName(const std::string& file, const std::string& key) {
  const std::string folded = foldName(file);
  if (folded.size() < key.size() + 4 || folded.compare(0, key.size(), key) != 0 ||
      folded.compare(folded.size() - 4, 4, ".txt") != 0) {
    return false;
  }
  const std::string middle = folded.substr(key.size(), folded.size() - key.size() - 4);
  return middle.empty() || (middle[0] == '.' && allDigits(middle.substr(1)));
}

// The pending note: "day", "file", "work" (relative to the day folder, '/' separated) and
// "memory" ("cleared" or "kept"), one "key value" a line. Every value is checked before it is
// used: a note is only ever the job's own, and one that is not must not lead it elsewhere.
struct PendingNote {
  std::string day;
  std::string file;
  std::string work;
  bool cleared = false;
};

std::string readNote(const std::string& text, const std::string& key, PendingNote& note) {
  const std::vector<std::string> lines = Records::lines(text);
  std::vector<std::string> clean;
  for (std::string line : lines) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    clean.push_back(line);
  }
  note.day = valueOf(clean, "day");
  note.file = valueOf(clean, "file");
  note.work = valueOf(clean, "work");
  const std::string memory = valueOf(clean, "memory");
  note.cleared = memory == "cleared";
  if (!DayFolder::isDayName(note.day)) return "day \"" + note.day + "\" is no calendar date YYYY-MM-DD";
  if (!isPlainName(note.file) || !isDataName(note.file, key)) {
    return "file \"" + note.file + "\" is no data file name of " + key;
  }
  const size_t slash = note.work.find('/', 6);
  if (note.work.compare(0, 6, ".work/") != 0 || slash == std::string::npos ||
      !isPlainName(note.work.substr(6, slash - 6)) || !isPlainName(note.work.substr(slash + 1))) {
    return "work \"" + note.work + "\" is no file in the day's .work/";
  }
  if (memory != "cleared" && memory != "kept") return "memory \"" + memory + "\" is neither cleared nor kept";
  return std::string();
}

}  // namespace

std::string foldName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string History::memoryRecord(bool cleared, const std::string& data) {
  const std::string kept = cleared ? std::string() : data;
  return std::string(memoryHeader) + "\nstate " + (cleared ? "cleared" : "kept") + "\nrecords " +
         std::to_string(Records::lines(kept).size()) + "\nbytes " + std::to_string(kept.size()) + "\nfnv1a64 " +
         checksum(kept) + "\n\n" + kept;
}

bool History::readMemoryRecord(const std::string& text, bool& cleared, std::string& data) {
  const size_t end = text.find("\n\n");
  if (end == std::string::npos) return false;
  std::vector<std::string> header;
  size_t start = 0;
  while (start <= end) {
    const size_t line = text.find('\n', start);
    header.push_back(text.substr(start, line - start));
    start = line + 1;
  }
  const std::string body = text.substr(end + 2);
  const std::string state = valueOf(header, "state");
  if (header.empty() || header[0] != memoryHeader || (state != "cleared" && state != "kept")) return false;
  if (valueOf(header, "bytes") != std::to_string(body.size()) ||
      valueOf(header, "records") != std::to_string(Records::lines(body).size()) ||
      valueOf(header, "fnv1a64") != checksum(body) || (state == "cleared" && !body.empty())) {
    return false;
  }
  cleared = state == "cleared";
  data = body;
  return true;
}

History::History(const std::string& outputFolder)
    : outputFolder_(outputFolder), stateFolder_(FileSystem::join(outputFolder, ".state")) {}

std::string History::path(const std::string& name, const char* suffix) const {
  return FileSystem::join(stateFolder_, foldName(name) + suffix);
}

bool History::takeLock(Lock& lock, std::string& error) const {
  return lock.take(FileSystem::join(stateFolder_, ".lock"), stateLockWaitMs, error);
}

bool History::open(std::string& error) {
  if (!FileSystem::makeOwnFolder(stateFolder_, error)) return false;
  Lock lock;
  if (!takeLock(lock, error)) return false;
  foldOldNames();
  std::vector<std::string> names;
  if (!FileSystem::listFolder(stateFolder_, names, error)) return false;
  for (const std::string& file : names) {
    const size_t suffix = file.size() >= 8 ? file.size() - 8 : std::string::npos;
    if (suffix == std::string::npos || suffix == 0 || file.compare(suffix, 8, ".pending") != 0) continue;
    std::string problem;
    if (!recover(file.substr(0, suffix), problem)) problems_.push_back(problem);
  }
  return true;
}

// Files an earlier version named after the terminal's name as written ("Office.last") get the
// folded name; where both exist, the newer is the terminal's state and the older is set aside.
void History::foldOldNames() {
  // Windows finds the file under any case of its name already.
  if (!FileSystem::namesAreCaseSensitive()) return;
  std::vector<std::string> names;
  std::string ignored;
  FileSystem::listFolder(stateFolder_, names, ignored);
  for (const std::string& file : names) {
    const std::string folded = foldName(file);
    if (folded == file || file[0] == '.') continue;
    const std::string from = FileSystem::join(stateFolder_, file);
    const std::string to = FileSystem::join(stateFolder_, folded);
    if (FileSystem::kindOf(from) != FileSystem::Kind::File) continue;
    if (FileSystem::exists(to) && FileSystem::modifiedAt(to) < FileSystem::modifiedAt(from)) {
      FileSystem::placeFile(to, to + ".older", ignored);
    }
    if (!FileSystem::placeFile(from, to, ignored)) FileSystem::placeFile(from, to + "." + file + ".older", ignored);
  }
}

bool History::check(const std::string& name, std::string& error) const {
  for (const char* suffix : {".last", ".pending"}) {
    const std::string file = path(name, suffix);
    const FileSystem::Kind kind = FileSystem::kindOf(file);
    if (kind == FileSystem::Kind::Folder || kind == FileSystem::Kind::Other) {
      error = file + " is " +
              (kind == FileSystem::Kind::Folder ? std::string("a folder") : FileSystem::strangeKind(file)) +
              ", not a state file of the job's own: refused";
      return false;
    }
  }
  return true;
}

bool History::recover(const std::string& name, std::string& error) {
  const std::string notePath = path(name, ".pending");
  if (FileSystem::kindOf(notePath) == FileSystem::Kind::Absent) return true;
  std::string text;
  if (!FileSystem::readOwnFile(notePath, text, error)) return false;
  PendingNote note;
  const std::string problem = readNote(text, foldName(name), note);
  if (!problem.empty()) {
    // Kept for a person to look at, never followed.
    std::string ignored;
    FileSystem::placeFile(notePath, notePath + ".damaged", ignored);
    error = notePath + " is damaged (" + problem + "): set aside as " + foldName(name) + ".pending.damaged";
    return false;
  }
  const DayFolder day(outputFolder_, note.day);
  const std::string finalPath = day.file(note.file);
  const std::string workPath = day.file(note.work);
  if (!FileSystem::exists(finalPath) && FileSystem::kindOf(workPath) == FileSystem::Kind::File &&
      !FileSystem::placeFile(workPath, finalPath, error)) {
    return false;
  }
  if (FileSystem::kindOf(finalPath) == FileSystem::Kind::File) {
    // A job that died between the link and the unlink of placeFile left the file under both
    // names: the working one must not be put in place a second time.
    std::string placedData;
    std::string workData;
    if (FileSystem::kindOf(workPath) == FileSystem::Kind::File &&
        FileSystem::readOwnFile(finalPath, placedData, error) && FileSystem::readOwnFile(workPath, workData, error) &&
        placedData == workData) {
      FileSystem::removeOwnFile(workPath);
    }
    Completed completed;
    completed.name = foldName(name);
    completed.day = note.day;
    completed.cleared = note.cleared;
    if (!finish(name, note.day, note.file, note.cleared, completed.placed, error)) return false;
    completed_.push_back(completed);
    return true;
  }
  // The download never reached its place and its file is gone: nothing to complete.
  FileSystem::removeOwnFile(notePath);
  return true;
}

bool History::commit(const std::string& name, const std::string& day, const std::string& workFile, bool cleared,
                     Placed& placed, std::string& error) {
  Lock lock;
  if (!takeLock(lock, error)) return false;
  if (!check(name, error)) return false;
  if (!recover(name, error)) return false;
  const DayFolder folder(outputFolder_, day);
  const std::string file = folder.freeDataName(name);
  const std::string note = "day " + day + "\nfile " + file + "\nwork " + folder.relative(workFile) + "\nmemory " +
                           (cleared ? "cleared" : "kept") + "\n";
  if (!FileSystem::writeAtomically(path(name, ".pending"), note, error)) return false;
  if (!FileSystem::placeFile(workFile, folder.file(file), error)) {
    FileSystem::removeOwnFile(path(name, ".pending"));
    return false;
  }
  return finish(name, day, file, cleared, placed, error);
}

bool History::finish(const std::string& name, const std::string& day, const std::string& file, bool cleared,
                     Placed& placed, std::string& error) {
  const DayFolder folder(outputFolder_, day);
  placed.file = file;
  if (!FileSystem::readOwnFile(folder.file(file), placed.data, error)) return false;
  placed.records = Records::lines(placed.data).size();
  const std::string newPath = folder.newPath(file);
  // A new/ file that exists was written whole by the job that died after it: it stays as it is.
  if (FileSystem::exists(newPath)) {
    std::string existing;
    if (!FileSystem::readOwnFile(newPath, existing, error)) return false;
    placed.newRecords = Records::lines(existing).size();
  } else {
    std::string previous;
    if (!memory(name, folder.file(file), previous, placed, error)) return false;
    const std::string fresh = Records::fresh(previous, placed.data, placed.newRecords);
    if (!FileSystem::makeOwnFolder(folder.file("new"), error) || !FileSystem::writeAtomically(newPath, fresh, error)) {
      return false;
    }
  }
  if (!FileSystem::writeAtomically(path(name, ".last"), memoryRecord(cleared, placed.data), error)) return false;
  FileSystem::removeOwnFile(path(name, ".pending"));
  return true;
}

bool History::memory(const std::string& name, const std::string& exclude, std::string& data, Placed& placed,
                     std::string& error) const {
  const std::string last = path(name, ".last");
  data.clear();
  std::string problem;
  if (FileSystem::kindOf(last) == FileSystem::Kind::Absent) {
    problem = "no state was kept for it";
  } else {
    std::string text;
    if (!FileSystem::readOwnFile(last, text, error)) return false;
    bool cleared = false;
    if (readMemoryRecord(text, cleared, data)) {
      placed.knowledge = Knowledge::Known;
      return true;
    }
    data.clear();
    problem = last + " is damaged (" + std::to_string(text.size()) + " bytes that do not check out)";
  }
  std::string latest;
  if (latestDownload(name, exclude, latest)) {
    if (!FileSystem::readOwnFile(latest, data, error)) return false;
    placed.knowledge = Knowledge::Rebuilt;
    placed.note = problem + "; its memory is taken from its most recent complete download, " + latest;
  } else if (problem == "no state was kept for it") {
    placed.knowledge = Knowledge::FirstNight;
  } else {
    placed.knowledge = Knowledge::Damaged;
    placed.note = problem +
                  ", and no earlier complete download is kept: every record of this download is "
                  "delivered as new, some perhaps a second time";
  }
  return true;
}

bool History::latestDownload(const std::string& name, const std::string& exclude, std::string& path) const {
  const std::string key = foldName(name);
  int64_t newest = 0;
  for (const std::string& day : DayFolder::days(outputFolder_)) {
    const DayFolder folder(outputFolder_, day);
    std::vector<std::string> files;
    std::string ignored;
    if (!FileSystem::listFolder(folder.path(), files, ignored)) continue;
    for (const std::string& file : files) {
      if (!isDataName(file, key)) continue;
      const std::string candidate = folder.file(file);
      const int64_t stamp = FileSystem::modifiedAt(candidate);
      if (candidate == exclude || stamp == 0 || stamp < newest) continue;
      newest = stamp;
      path = candidate;
    }
  }
  return newest != 0;
}

}  // namespace ZqNightly
