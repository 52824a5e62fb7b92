// Driver of the 870 and QVK terminal families: bare command words, binary 26-byte records.
#pragma once

#include <cstdint>
#include <string>

#include "Zq/Terminal.h"

namespace Common {
class File;
}

namespace Zq {

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

  // Decodes one 26-byte record and appends its line to the open data file.
  bool dumpRecord(const uint8_t* record, Common::File& file, int32_t cardFormat);

  bool onReceive(const uint8_t* data, int32_t length) override;

  int32_t pendingCommand = PendingNone;

private:
  // Ends a download whose stream broke: logged, the lines written so far kept, false.
  bool keepBrokenDownload(Common::File& file, const std::string& fileName);
};

}  // namespace Zq
