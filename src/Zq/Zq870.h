// Driver of the 870 and QVK terminal families: bare command words, binary 26-byte records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Common/Clock.h"
#include "Zq/Command.h"
#include "Zq/Terminal.h"

namespace Zq {

class DownloadFile;
struct TerminalRecord;

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

  // Decodes one 26-byte record and appends its line to the open data file; false, logged, when its
  // date and time hold a byte that is no digit, blank or sign (the stream has lost its step).
  // `number` names the record in a Warning about control characters in its card.
  bool dumpRecord(const uint8_t* record, std::FILE* stream, CardFormat cardFormat, uint32_t number = 0);

  bool onReceive(const uint8_t* data, int32_t length) override;

  PendingCommand pendingCommand = PendingNone;

private:
  // Sends one request; false, logged in the name of `operation`, unless all of it went out.
  bool send(const char* operation, const char* word, const Command& request);
  // Sends `word` and its `arguments`, and receives the reply into `reply` until it holds "OK" or
  // "NO" or the waits run out; false, logged, on a send failure or when nothing came back.
  bool exchange(const char* operation, const char* word, const std::string& arguments, Command& reply);
  // Reads the 4-byte record count after GETLOGDATA; false, logged, when it does not come whole.
  bool receiveCount(uint32_t& count);
  // The record's date and time into `line`; false, logged, when they do not fit their width.
  // `allDigits`: the time stamp's 14 bytes are all digits.
  static bool decodeStamp(const uint8_t* record, bool allDigits, TerminalRecord& line);
  // Reads the `count` announced records into the file; false when the download failed.
  bool receiveRecords(DownloadFile& download, const std::string& fileName, uint32_t count, CardFormat cardFormat);
  // Ends a download whose stream broke: logged, the lines written so far kept, false.
  bool keepBrokenDownload(DownloadFile& download, const std::string& fileName);

  // The records the last download saved; -1 while none was saved.
  int64_t savedRecords = -1;
  // During a batch of the download: the bytes of a record begun in the batch before, and the
  // records completed in this one, so that each record gets the whole reply wait of its own.
  size_t batchHeld = 0;
  size_t batchRecords = 0;
};

}  // namespace Zq
