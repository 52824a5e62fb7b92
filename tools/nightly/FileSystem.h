// Files and folders by UTF-8 path. Every operation that fails says so in `error`: what was done to
// which path, and the system's error text and number.
#pragma once

#include <string>

namespace ZqNightly {
namespace FileSystem {

char separator();
std::string join(const std::string& folder, const std::string& name);
// The path made independent of the working directory ("" when that fails).
std::string absolute(const std::string& path);
// The folder that holds this program's executable ("" when unknown).
std::string executableDirectory();
// The program named `name` as an absolute path: a path as it is, a bare name looked up in PATH;
// Windows also tries the name with .exe appended. "" when there is none.
std::string findProgram(const std::string& name);
// An environment variable's value, "" when unset.
std::string environment(const char* name);

bool exists(const std::string& path);
bool isDirectory(const std::string& path);

bool readFile(const std::string& path, std::string& data, std::string& error);
// Replaces `path` in one step by a file holding `data` (written beside it, flushed to disk, then
// renamed over it): a reader sees the old file or the new one, never a part.
bool writeAtomically(const std::string& path, const std::string& data, std::string& error);
bool appendFile(const std::string& path, const std::string& data, std::string& error);
// Renames `from` to `to` unless `to` exists, and flushes the folder: a complete file is never
// overwritten.
bool placeFile(const std::string& from, const std::string& to, std::string& error);
// Creates the folder and any missing parents.
bool makeDirectories(const std::string& path, std::string& error);
// True when the file is gone afterwards (also when there was none).
bool removeFile(const std::string& path);
// Removes a folder only if it is empty.
bool removeEmptyDirectory(const std::string& path);

// The line end of the platform's own text files (the program's debug log uses it).
const char* lineEnd();

}  // namespace FileSystem
}  // namespace ZqNightly
