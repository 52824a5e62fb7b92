// Driver of the 870 and QVK terminal families: bare command words, binary 26-byte records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Common/Clock.h"
#include "Zq/Terminal.h"

namespace Zq {

class Command;
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
  bool dump(const std::string& fileName, CardFormat cardFormat) override;
  // updateDateTime with a given local time instead of the PC's clock.
  bool setDateTime(const Common::LocalTime& now);

  // Decodes one 26-byte record and appends its line to the open data file.
  bool dumpRecord(const uint8_t* record, std::FILE* stream, CardFormat cardFormat);

  bool onReceive(const uint8_t* data, int32_t length) override;

  PendingCommand pendingCommand = PendingNone;

private:
  // Sends one request; false, logged in the name of `operation`, unless all of it went out.
  bool send(const char* operation, const char* word, const Command& request);
  // Sends `word` and its `arguments`, and receives the reply into `reply` until it holds "OK" or
  // "NO" or the waits run out; false, logged, on a send failure or when nothing came back.
  bool exchange(const char* operation, const char* word, const std::string& arguments, Command& reply);
  // Reads the `count` announced records into the file; false when the download failed.
  bool receiveRecords(DownloadFile& download, const std::string& fileName, uint32_t count, CardFormat cardFormat);
  // Ends a download whose stream broke: logged, the lines written so far kept, false.
  bool keepBrokenDownload(DownloadFile& download, const std::string& fileName);
};

}  // namespace Zq
