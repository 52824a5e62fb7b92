// Test helpers shared by the unit tests: a private working directory and the debug log's lines.
#pragma once

#include <string>
#include <vector>

namespace ZqTest {

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const;

private:
  std::string path_;
};

std::string readFile(const std::string& path);

// STX (0x02), then `rest`: how the framed requests and replies begin. A hex escape would swallow
// the letters and digits that follow it.
inline std::string stx(const std::string& rest) { return "\x02" + rest; }
bool fileExists(const std::string& path);

// Opens the process-wide debug log into a private file for the lifetime of the object.
class LogCapture {
public:
  LogCapture();
  ~LogCapture();

  // The faults logged so far: every line but the Info lines that record a run's progress, time
  // stamp removed ("[ERROR] text at Source:123"), line ends removed.
  std::vector<std::string> lines() const;
  // Every line, the Info lines included.
  std::vector<std::string> allLines() const;
  // The same lines without the " at <source>:<line>" suffix.
  std::vector<std::string> messages() const;
  // Messages of any level that carry `tag` ("[ERROR] ", "[WARNING] ", "[INFO] ").
  std::vector<std::string> messagesAt(const std::string& tag) const;
  std::string raw() const;

private:
  TempDir dir_;
  std::string path_;
};

}  // namespace ZqTest
