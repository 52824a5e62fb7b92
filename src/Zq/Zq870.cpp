// Only operating-system independent code.
// Kept on purpose: decodeStamp checks the widths of the date and time it formats, which cannot be
// wrong after the time stamp's bytes were checked, so that no other width ever reaches the file.
#include "Zq/Zq870.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Common/Clock.h"
#include "Common/Log.h"
#include "Common/RunTexts.h"
#include "Zq/Command.h"
#include "Zq/DownloadFile.h"
#include "Zq/TerminalRecord.h"

#define LOG_SOURCE "Zq\\Zq870"

namespace Zq {

namespace {

// The terminal's command words. SETTIME and CLEARLOG are confirmed by "OK" or by the word
// followed by "_OK", refused by a reply with "NO" in it.
const char* const GetLogData = "GETLOGDATA";
const char* const SetTime = "SETTIME";
const char* const ClearLog = "CLEARLOG";

// The decimal value of a digit group of the record, read like atoi: the group is copied
// out first so that the reading cannot run on into the next group.
int32_t readDigits(const uint8_t* digits, size_t count) {
  char text[8] = {};
  std::memcpy(text, digits, count);
  return readDecimal(text);
}

bool startsWith(const Command& reply, const std::string& prefix) {
  return reply.size() >= prefix.size() && std::memcmp(reply.data(), prefix.data(), prefix.size()) == 0;
}

bool isConfirmation(const Command& reply, const char* word) {
  return startsWith(reply, "OK") || startsWith(reply, std::string(word) + "_OK");
}

bool contains(const uint8_t* data, int32_t length, char first, char second) {
  for (int32_t i = 0; i + 1 < length; ++i) {
    if (data[i] == static_cast<uint8_t>(first) && data[i + 1] == static_cast<uint8_t>(second)) return true;
  }
  return false;
}

}  // namespace

Zq870::Zq870() { socket.setEvent(this); }

bool Zq870::onReceive(const uint8_t* data, int32_t length) {
  if (pendingCommand == PendingGetLogData) {
    // The download is read by byte count; each record that completes restarts the reply's clock.
    const size_t records = (batchHeld + static_cast<size_t>(length)) / RecordSize;
    if (records > batchRecords) {
      batchRecords = records;
      socket.setReplyDeadline(settings.replyDeadlineMs());
    }
    return false;
  }
  if (pendingCommand != PendingSetTime && pendingCommand != PendingClearLog) return false;
  return contains(data, length, 'O', 'K') || contains(data, length, 'N', 'O');
}

bool Zq870::send(const char* operation, const char* word, const Command& request) {
  const int32_t length = static_cast<int32_t>(request.size());
  // A short send left the word incomplete: the terminal cannot answer it.
  if (socket.sendTimeout(request.data(), length, settings.sendTimeoutMs) == length) return true;
  LOG(LogError, "Zq870::%s(): Can't send command <%s> %s", operation, word, hexDump(request).c_str());
  inStep = false;
  return false;
}

bool Zq870::exchange(const char* operation, const char* word, const std::string& arguments, Command& reply) {
  const std::string name = std::string("Zq870::") + operation;
  if (!readyForRequest(name.c_str(), pendingCommand == PendingClearLog)) return false;
  reply.clear();
  reply.appendText(word);
  reply.appendText(arguments);
  if (!send(operation, word, reply)) return false;
  reply.clear();
  startReply();
  const bool received = socket.recvTimeout(reply, settings.recvTimeoutMs, settings.recvAttempts) >= 0;
  // Without its "OK" or "NO" the reply is incomplete: the rest may still come, as a stray.
  if (!received || !onReceive(reply.data(), static_cast<int32_t>(reply.size()))) inStep = false;
  if (received) return true;
  LOG(LogError, "Zq870::%s(): " ZQ_MSG_NO_RESPONSE, operation);
  return false;
}

bool Zq870::receiveCount(uint32_t& count) {
  uint8_t countBytes[4] = {};
  batchHeld = 0;
  batchRecords = 0;
  startReply();
  if (socket.recvTimeout(countBytes, 4, settings.recvTimeoutMs, settings.recvAttempts) != 4) {
    LOG(LogError, "Zq870::dump(): " ZQ_MSG_NO_RESPONSE);
    inStep = false;
    return false;
  }
  count = (uint32_t{countBytes[0]} << 24) | (uint32_t{countBytes[1]} << 16) | (uint32_t{countBytes[2]} << 8) |
          uint32_t{countBytes[3]};
  return true;
}

bool Zq870::dump(const std::string& fileName, CardFormat cardFormat) {
  savedRecords = -1;
  DownloadFile download(fileName);
  if (!download.open()) {
    LOG(LogError, "Can't open file %s", fileName.c_str());
    return false;
  }

  dropStrayBytes("Zq870::dump");
  pendingCommand = PendingGetLogData;
  Command request;
  request.appendText(GetLogData);
  if (!send("dump", GetLogData, request)) return false;

  uint32_t count = 0;
  if (!receiveCount(count)) return false;
  // An empty memory is a complete download of no records.
  if (count == 0) LOG(LogWarning, "Zq870::dump(): No data for read");
  else if (!receiveRecords(download, fileName, count, cardFormat)) return false;

  // The terminal may be cleared next: its records must be on stable storage first.
  if (!download.finish(LOG_SITE, "Zq870", static_cast<long>(count))) return false;
  savedRecords = count;
  return true;
}

bool Zq870::receiveRecords(DownloadFile& download, const std::string& fileName, uint32_t count, CardFormat cardFormat) {
  // The records are read in batches into one buffer allocated once: a receive per 26-byte
  // record would cost two system calls each and cap the download far below what the link
  // delivers. A batch never reaches past the last announced record, so whatever the terminal
  // sends after it stays unread. The receive itself assembles records split over segments.
  const uint32_t batchSize = MaxBatchBytes / RecordSize;
  std::vector<uint8_t> buffer(static_cast<size_t>(batchSize) * RecordSize);
  uint32_t written = 0;
  size_t held = 0;  // the start of a record whose rest has not arrived yet
  startReply();     // the first record's own whole wait
  while (written < count) {
    const uint32_t records = std::min(count - written, batchSize);
    const int32_t wanted = static_cast<int32_t>(records * RecordSize - held);
    batchHeld = held;
    batchRecords = 0;
    const int32_t received =
        socket.recvTimeout(buffer.data() + held, wanted, settings.recvTimeoutMs, settings.recvAttempts);
    if (received <= 0) return keepBrokenDownload(download, fileName);

    const uint8_t* record = buffer.data();
    size_t left = held + static_cast<size_t>(received);
    for (; left >= RecordSize; left -= RecordSize, record += RecordSize) {
      ++written;
      if (!dumpRecord(record, download.stream(), cardFormat, written)) {
        LOG(LogError, "Zq870::dump(): Can't write record[%u]", static_cast<unsigned>(written));
        return false;
      }
      // A full disk stops the download here rather than after the last record.
      if (!download.good()) {
        LOG(LogError, "Zq870::dump(): Can't write file %s", fileName.c_str());
        return false;
      }
    }
    // A short read means the waits ran out. Between two records that ends the download, as a
    // record read on its own would have found nothing; inside a record the rest is waited for
    // once more, since the terminal is evidently still sending it, until the record's deadline.
    if (received < wanted && (left == 0 || socket.replyTimedOut())) return keepBrokenDownload(download, fileName);
    if (left > 0) std::memmove(buffer.data(), record, left);
    held = left;
  }
  return true;
}

bool Zq870::keepBrokenDownload(DownloadFile& download, const std::string& fileName) {
  LOG(LogError, "Zq870::dump(): " ZQ_MSG_NO_RESPONSE);
  inStep = false;
  // The lines of the records received so far stay, as long as they reach the disk whole.
  if (!download.save()) LOG(LogError, "Zq870::dump(): Can't write file %s", fileName.c_str());
  return false;
}

bool Zq870::dumpRecord(const uint8_t* record, std::FILE* stream, CardFormat cardFormat, uint32_t number) {
  // The number reading takes digits, blanks and signs; anything else in the time stamp means the
  // bytes are no record of this terminal: the stream has lost its step, and the rest is noise.
  // The same pass finds the usual stamp of digits only, so that decodeStamp need not scan it again.
  bool allDigits = true;
  for (int i = 10; i < 24; ++i) {
    const uint8_t c = record[i];
    if (c >= '0' && c <= '9') continue;
    allDigits = false;
    if (!(c == ' ' || c == '+' || c == '-')) {
      LOG(LogError, "Zq870::dumpRecord(): Invalid date/time, RPL=%s", hexDump(record, RecordSize).c_str());
      return false;
    }
  }

  TerminalRecord line;
  line.cardNumber.assign(reinterpret_cast<const char*>(record), 8);
  if (record[9] >= '0' && record[9] <= '3') line.eventCode = record[9] - '0' + 1;
  if (!decodeStamp(record, allDigits, line)) return false;
  if (writeRecord(stream, line, cardFormat)) {
    LOG(LogWarning, "Zq870::dumpRecord(): Record %u: a TAB, CR or LF in a field is written as a space",
        static_cast<unsigned>(number));
  }
  return true;
}

bool Zq870::decodeStamp(const uint8_t* record, bool allDigits, TerminalRecord& line) {
  // The usual record holds only digits in its time stamp: then reading each group as a number
  // and printing it again with its width gives back the very same digits.
  if (allDigits) {
    const char* stamp = reinterpret_cast<const char*>(record);
    const char date[10] = {stamp[16], stamp[17], '.',       stamp[14], stamp[15],
                           '.',       stamp[10], stamp[11], stamp[12], stamp[13]};
    const char time[8] = {stamp[18], stamp[19], ':', stamp[20], stamp[21], ':', stamp[22], stamp[23]};
    line.date.assign(date, 10);
    line.time.assign(time, 8);
    return true;
  }

  const int32_t year = readDigits(record + 10, 4);
  const int32_t month = readDigits(record + 14, 2);
  const int32_t day = readDigits(record + 16, 2);
  const int32_t hour = readDigits(record + 18, 2);
  const int32_t minute = readDigits(record + 20, 2);
  const int32_t second = readDigits(record + 22, 2);

  char text[32];
  int length = std::snprintf(text, sizeof text, "%02d.%02d.%04d", static_cast<int>(day), static_cast<int>(month),
                             static_cast<int>(year));
  if (length != 10) {
    LOG(LogError, "Zq870::dumpRecord(): _snprintf() failed");
    return false;
  }
  line.date.assign(text, 10);

  length = std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(hour), static_cast<int>(minute),
                         static_cast<int>(second));
  if (length != 8) {
    LOG(LogError, "Zq870::dumpRecord(): _snprintf() failed");
    return false;
  }
  line.time.assign(text, 8);
  return true;
}

bool Zq870::updateDateTime() { return setDateTime(Common::localTime()); }

bool Zq870::setDateTime(const Common::LocalTime& now) {
  pendingCommand = PendingSetTime;
  std::string stamp;
  if (!now.compactStamp(stamp)) {
    LOG(LogError, "Zq870::updateDateTime(): Can't prepare command <SETTIME>");
    return false;
  }

  Command reply;
  if (!exchange("updateDateTime", SetTime, "00" + stamp, reply)) return false;
  if (isConfirmation(reply, SetTime)) {
    LOG(LogInfo, "Zq870::updateDateTime(): " ZQ_MSG_CLOCK_SET, now.describe().c_str());
    return true;
  }
  LOG(LogError, "Zq870::updateDateTime(): " ZQ_MSG_870_CLOCK_NOT_SET);
  return false;
}

bool Zq870::reset() {
  const Clearing clearing = clearingFor(LOG_SITE, "Zq870", static_cast<long>(savedRecords));
  if (clearing != Clearing::Needed) return clearing == Clearing::NothingToClear;
  pendingCommand = PendingClearLog;
  Command reply;
  if (!exchange("reset", ClearLog, std::string(), reply)) return false;
  if (isConfirmation(reply, ClearLog)) {
    LOG(LogInfo, "Zq870::reset(): " ZQ_MSG_RECORDS_CLEARED);
    return true;
  }
  LOG(LogError, "Zq870::reset(): " ZQ_MSG_870_NOT_CLEARED);
  return false;
}

}  // namespace Zq
