// The data file of one download: written under a temporary name, put in place when saved.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "Common/File.h"
#include "Common/Log.h"

namespace Zq {

// The data file of one download, from its opening to its end. How a download ends is decided
// here for every family: a download that is saved is complete (an empty terminal gives an empty
// file, flushed like any other); one that ends any other way leaves the file empty when this
// object goes away, so that half a terminal's memory never looks like a complete download. The
// lines are written under a temporary name and reach the file's own name only by a rename, so that
// not even a killed run or a power loss leaves a torn line there.
class DownloadFile {
public:
  explicit DownloadFile(std::string fileName) : fileName(std::move(fileName)) {}
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;
  ~DownloadFile();

  // Creates the temporary file; false when it cannot be had (the file is then left as it was).
  bool open();
  std::FILE* stream() const { return file.handle(); }
  const std::string& name() const { return fileName; }
  // False once a line failed to reach the stream.
  bool good() const { return file.good(); }
  // Hands the lines written so far to the operating system; false when any failed.
  bool flush();
  // Puts every line written so far on stable storage and in place under the file's name, which
  // then stays as it is. False, with the file emptied, when any byte may be missing.
  bool save();
  // Ends a download of `count` records that all reached the file: saved, with the Info line
  // "<owner>::dump(): <count> records written to <file>", or false with the Error line
  // "<owner>::dump(): <failure> <file>". Both are logged at `site`, the driver's own.
  bool finish(const LogSite& site, const char* owner, long count, const char* failure = "Can't write file");

private:
  std::string fileName;
  Common::ReplacingFile file;
  bool pending = false;  // open, and neither saved nor emptied yet
};

}  // namespace Zq
