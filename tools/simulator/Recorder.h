// --received: every byte the terminal receives, appended to a file as it arrives.
#pragma once

#include <cstddef>
#include <string>

namespace Simulator {

// The bytes are written at once, before they are answered: whoever reads the file after a reply
// has arrived finds the request in it.
class Recorder {
public:
  Recorder() = default;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  ~Recorder();

  // Opens `path` for appending; an empty path records nothing. False, with a message, when it cannot.
  bool open(const std::string& path);
  void record(const char* data, size_t size);

private:
  int fd = -1;
};

}  // namespace Simulator
