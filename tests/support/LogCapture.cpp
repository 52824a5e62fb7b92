#include "LogCapture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "Common/Log.h"

namespace ZqTest {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device random;
  for (;;) {
    const fs::path candidate = fs::temp_directory_path() / ("zqtest-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(path_, error);
}

std::string TempDir::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool fileExists(const std::string& path) { return fs::exists(path); }

LogCapture::LogCapture() : path_(dir_.file("test.log")) {
  if (!openLog(path_.c_str())) std::abort();
}

LogCapture::~LogCapture() { closeLog(); }

std::string LogCapture::raw() const { return readFile(path_); }

std::vector<std::string> LogCapture::lines() const {
  std::vector<std::string> result;
  for (const std::string& line : allLines()) {
    if (line.compare(0, 7, "[INFO] ") != 0) result.push_back(line);
  }
  return result;
}

std::vector<std::string> LogCapture::allLines() const {
  std::vector<std::string> result;
  std::istringstream in(raw());
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // "[<weekday>, dd.mm.yyyy hh:mm:ss] " comes first on every line that starts one.
    if (!line.empty() && line[0] == '[') {
      const size_t close = line.find("] ");
      if (close != std::string::npos && line.find(", ") < close) line = line.substr(close + 2);
    }
    result.push_back(line);
  }
  return result;
}

namespace {
std::string withoutSource(std::string line) {
  const size_t at = line.rfind(" at ");
  return at == std::string::npos ? line : line.substr(0, at);
}
}  // namespace

std::vector<std::string> LogCapture::messages() const {
  std::vector<std::string> result;
  for (const std::string& line : lines()) result.push_back(withoutSource(line));
  return result;
}

std::vector<std::string> LogCapture::messagesAt(const std::string& tag) const {
  std::vector<std::string> result;
  for (const std::string& line : allLines()) {
    const std::string message = withoutSource(line);
    if (message.compare(0, tag.size(), tag) == 0) result.push_back(message.substr(tag.size()));
  }
  return result;
}

}  // namespace ZqTest
