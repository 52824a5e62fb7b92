// Only operating-system independent code.
#include "Zq/Zq870.h"

#include <cstdio>
#include <cstring>

#include "Common/Clock.h"
#include "Common/File.h"
#include "Log.h"
#include "Zq/Command.h"
#include "Zq/TerminalRecord.h"

#define LOG_SOURCE "Zq\\Zq870"

namespace Zq {

namespace {

// The decimal value of a digit group of the record, read like atoi: the group is copied
// out first so that the reading cannot run on into the next group.
int32_t readDigits(const uint8_t* digits, size_t count) {
  char text[8] = {};
  std::memcpy(text, digits, count);
  return readDecimal(text);
}

bool startsWith(const Command& reply, const char* prefix) {
  const size_t length = std::strlen(prefix);
  return reply.size() >= length && std::memcmp(reply.data(), prefix, length) == 0;
}

bool contains(const uint8_t* data, int32_t length, char first, char second) {
  for (int32_t i = 0; i + 1 < length; ++i) {
    if (data[i] == static_cast<uint8_t>(first) && data[i + 1] == static_cast<uint8_t>(second)) return true;
  }
  return false;
}

}  // namespace

Zq870::Zq870() { socket.event = this; }

bool Zq870::onReceive(const uint8_t* data, int32_t length) {
  if (pendingCommand != PendingSetTime && pendingCommand != PendingClearLog) return false;
  return contains(data, length, 'O', 'K') || contains(data, length, 'N', 'O');
}

bool Zq870::dump(const std::string& fileName, int32_t cardFormat) {
  Common::File file;
  if (!openDataFile(file, fileName)) {
    LOG(LogError, "Can't open file %s", fileName.c_str());
    return false;
  }

  pendingCommand = PendingGetLogData;
  Command request;
  request.appendText("GETLOGDATA");
  const int32_t requestLength = static_cast<int32_t>(request.size());
  // A short send left the word incomplete: the terminal cannot answer it.
  if (socket.sendTimeout(request.data(), requestLength, settings.sendTimeoutMs) != requestLength) {
    LOG(LogError, "Zq870::dump(): Can't send command <GETLOGDATA> %s", hexDump(request).c_str());
    file.close();
    return false;
  }

  uint8_t countBytes[4] = {};
  if (socket.recvTimeout(countBytes, 4, settings.recvTimeoutMs, settings.recvAttempts) != 4) {
    LOG(LogError, "Zq870::dump(): Can't read terminal response");
    file.close();
    return false;
  }
  const uint32_t count = (uint32_t{countBytes[0]} << 24) | (uint32_t{countBytes[1]} << 16) |
                         (uint32_t{countBytes[2]} << 8) | uint32_t{countBytes[3]};
  if (count == 0) {
    LOG(LogWarning, "Zq870::dump(): No data for read");
    file.close();
    return false;
  }

  // One buffer for the whole download: each record is read straight into it.
  uint8_t record[RecordSize];
  for (uint32_t k = 1;; ++k) {
    int32_t received = 0;
    while (received < RecordSize) {
      const int32_t result =
          socket.recvTimeout(record + received, RecordSize - received, settings.recvTimeoutMs, settings.recvAttempts);
      if (result <= 0) {
        LOG(LogError, "Zq870::dump(): Can't read terminal response");
        // The lines of the records received so far stay, as long as they reach the disk whole.
        if (!finishDataFile(file)) {
          Common::truncate(fileName);
          LOG(LogError, "Zq870::dump(): Can't write file %s", fileName.c_str());
        }
        return false;
      }
      received += result;
    }

    if (!dumpRecord(record, file, cardFormat)) {
      file.close();
      Common::truncate(fileName);
      LOG(LogError, "Zq870::dump(): Can't write record[%u]", static_cast<unsigned>(k));
      return false;
    }
    // A full disk stops the download here rather than after the last record.
    if (!file.good()) {
      file.close();
      Common::truncate(fileName);
      LOG(LogError, "Zq870::dump(): Can't write file %s", fileName.c_str());
      return false;
    }
    if (k == count) break;
  }

  // The terminal may be cleared next: its records must be on stable storage first.
  if (!finishDataFile(file)) {
    Common::truncate(fileName);
    LOG(LogError, "Zq870::dump(): Can't write file %s", fileName.c_str());
    return false;
  }
  return true;
}

bool Zq870::dumpRecord(const uint8_t* record, Common::File& file, int32_t cardFormat) {
  TerminalRecord line;
  line.cardNumber.assign(reinterpret_cast<const char*>(record), 8);
  if (record[9] >= '0' && record[9] <= '3') line.eventCode = record[9] - '0' + 1;

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

  writeRecord(file.handle, line, cardFormat);
  return true;
}

bool Zq870::updateDateTime() {
  pendingCommand = PendingSetTime;
  const Common::LocalTime now = Common::localTime();
  char stamp[64];
  const int length = std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", now.year, now.month, now.day,
                                   now.hour, now.minute, now.second);
  if (length != 14) {
    LOG(LogError, "Zq870::updateDateTime(): Can't prepare command <SETTIME>");
    return false;
  }

  Command command;
  command.appendText("SETTIME");
  command.appendText("00");
  command.appendText(std::string(stamp, 14));
  const int32_t requestLength = static_cast<int32_t>(command.size());
  if (socket.sendTimeout(command.data(), requestLength, settings.sendTimeoutMs) != requestLength) {
    LOG(LogError, "Zq870::updateDateTime(): Can't send command <SETTIME> %s", hexDump(command).c_str());
    return false;
  }

  command.clear();
  if (socket.recvTimeout(command, settings.recvTimeoutMs, settings.recvAttempts) < 0) {
    LOG(LogError, "Zq870::updateDateTime(): Can't read terminal response");
    return false;
  }
  if (startsWith(command, "OK") || startsWith(command, "SETTIME_OK")) return true;
  LOG(LogError, "Zq870::updateDateTime(): Can't update date/time");
  return false;
}

bool Zq870::reset() {
  pendingCommand = PendingClearLog;
  Command command;
  command.appendText("CLEARLOG");
  const int32_t requestLength = static_cast<int32_t>(command.size());
  if (socket.sendTimeout(command.data(), requestLength, settings.sendTimeoutMs) != requestLength) {
    LOG(LogError, "Zq870::reset(): Can't send command <CLEARLOG> %s", hexDump(command).c_str());
    return false;
  }

  command.clear();
  if (socket.recvTimeout(command, settings.recvTimeoutMs, settings.recvAttempts) < 0) {
    LOG(LogError, "Zq870::reset(): Can't read terminal response");
    return false;
  }
  if (startsWith(command, "OK") || startsWith(command, "CLEARLOG_OK")) return true;
  LOG(LogError, "Zq870::reset(): Can't clean up data");
  return false;
}

}  // namespace Zq
