// Only operating-system independent code.
#include "Zq/DownloadFile.h"

#include "Common/RunTexts.h"

namespace Zq {

DownloadFile::~DownloadFile() {
  if (pending) file.commitEmpty();
}

bool DownloadFile::open() {
  pending = file.open(fileName);
  return pending;
}

bool DownloadFile::flush() { return file.flush(); }

bool DownloadFile::save() {
  if (!pending) return false;
  pending = false;
  if (file.commit()) return true;
  Common::truncate(fileName);
  return false;
}

bool DownloadFile::finish(const LogSite& site, const char* owner, long count, const char* failure) {
  if (save()) {
    writeLog(LogInfo, site.source, site.line, "%s::dump(): " ZQ_MSG_RECORDS_WRITTEN, owner, count, fileName.c_str());
    return true;
  }
  writeLog(LogError, site.source, site.line, "%s::dump(): %s %s", owner, failure, fileName.c_str());
  return false;
}

}  // namespace Zq
