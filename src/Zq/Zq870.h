// Driver of the 870 and QVK terminal families: bare command words, binary 26-byte records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Common/Clock.h"
#include "Zq/Terminal.h"

namespace Zq {

class DownloadFile;

class Zq870 : public TCPConnection, public Common::SocketEvent {
public:
  // The command whose reply is awaited; steers onReceive.
  enum PendingCommand : int32_t {
    PendingNone = 0,
    PendingGetLogData = 1,
    PendingSetTime = 2,
    PendingClearLog = 3,
  };

  static constexpr int32_t RecordSize = 26;
  // Upper bound of one receive during the download.
  static constexpr int32_t MaxBatchBytes = 64 * 1024;

  Zq870();

  bool reset() override;
  bool updateDateTime() override;
  bool dump(const std::string& fileName, int32_t cardFormat) override;
  // updateDateTime with a given local time instead of the PC's clock.
  bool setDateTime(const Common::LocalTime& now);

  // Decodes one 26-byte record and appends its line to the open data file.
  bool dumpRecord(const uint8_t* record, std::FILE* stream, int32_t cardFormat);

  bool onReceive(const uint8_t* data, int32_t length) override;

  int32_t pendingCommand = PendingNone;

private:
  // Reads the `count` announced records into the file; false when the download failed.
  bool receiveRecords(DownloadFile& download, const std::string& fileName, uint32_t count, int32_t cardFormat);
  // Ends a download whose stream broke: logged, the lines written so far kept, false.
  bool keepBrokenDownload(DownloadFile& download, const std::string& fileName);
};

}  // namespace Zq
