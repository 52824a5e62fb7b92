// Files and folders by UTF-8 path. Every operation that fails says so in `error`: what was done to
// which path, and the system's error text and number.
//
// Inside the output folder the job touches only regular files and folders of its own: the "own"
// operations never follow a symbolic link (or, on Windows, a junction or other reparse point) and
// never open a FIFO or a device, so that nothing planted there redirects, truncates or blocks the
// job. Whatever else they find is refused, named in the error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Common {
namespace FileSystem {

char separator();
std::string join(const std::string& folder, const std::string& name);
// Puts the folder that holds `path` on stable storage: a rename is durable only then. False when
// that failed.
bool syncFolderOf(const std::string& path);
// The path made independent of the working directory ("" when that fails).
std::string absolute(const std::string& path);
// The folder that holds this program's executable ("" when unknown).
std::string executableDirectory();
// The program named `name` as an absolute path: a path as it is, a bare name looked up in PATH;
// Windows also tries the name with .exe appended. "" when there is none.
std::string findProgram(const std::string& name);
// An environment variable's value, "" when unset.
std::string environment(const char* name);

// What a name is, looked at without following it.
enum class Kind { Absent, File, Folder, Other };
Kind kindOf(const std::string& path);
// "a symbolic link", "a FIFO", ... for a path of Kind::Other; "" when it is a file, folder or nothing.
std::string strangeKind(const std::string& path);

bool exists(const std::string& path);
bool isDirectory(const std::string& path);

// A file the user named (the terminals file): links are followed.
bool readFile(const std::string& path, std::string& data, std::string& error);

// Appends to a file the user named (its own log), creating it.
bool appendFile(const std::string& path, const std::string& data, std::string& error);

// --- The job's own files and folders ---

// A regular file of the job's own, read whole; false for anything else at the path.
bool readOwnFile(const std::string& path, std::string& data, std::string& error);
// Replaces `path` in one step by a file holding `data` (written beside it, flushed to disk, then
// renamed over it): a reader sees the old file or the new one, never a part. Refuses a path that
// holds anything but a regular file.
bool writeAtomically(const std::string& path, const std::string& data, std::string& error);
bool appendOwnFile(const std::string& path, const std::string& data, std::string& error);
// Renames the regular file `from` to `to` unless `to` exists, and flushes the folder: a complete
// file is never overwritten.
bool placeFile(const std::string& from, const std::string& to, std::string& error);
// Creates the folder, or accepts the one there when it is a real folder (not a link to one).
bool makeOwnFolder(const std::string& path, std::string& error);
// True when no regular file is left at `path` afterwards; false, leaving it be, for anything that
// is not a regular file (and for a file that cannot be removed).
bool removeOwnFile(const std::string& path);
// Removes a folder only if it is empty (and a real folder).
bool removeEmptyDirectory(const std::string& path);
// The names in a folder, without "." and ".."; false when it cannot be read.
bool listFolder(const std::string& path, std::vector<std::string>& names, std::string& error);
// The last modification of a regular file, on a scale that orders files (0 when unknown).
int64_t modifiedAt(const std::string& path);

// Creates the folder and any missing parents, following links: for the output folder the user named.
bool makeDirectories(const std::string& path, std::string& error);

// Whether two names that differ only in case are two files (false on Windows).
bool namesAreCaseSensitive();
// The longest path (in bytes of UTF-8) that every file call of the program takes here.
size_t longestPath();
// Sets an environment variable that the processes started from now on inherit.
void setEnvironment(const char* name, const std::string& value);

// The line end of the platform's own text files (the program's debug log uses it).
const char* lineEnd();

}  // namespace FileSystem
}  // namespace Common
