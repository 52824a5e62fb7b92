// Only operating-system independent code.
// Kept on purpose: cmd_d checks the width of its formatted argument, which cannot be wrong today,
// as every command checks its argument before anything is sent.
#include "Zq/Zq735.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Common/Clock.h"
#include "Common/Log.h"
#include "Common/RunTexts.h"
#include "Zq/Command.h"
#include "Zq/DownloadFile.h"
#include "Zq/TerminalRecord.h"

#define LOG_SOURCE "Zq\\Zq735"

namespace Zq {

namespace {

const uint8_t FrameStart = 0x02;
const uint8_t FrameEnd = 0x0D;
const uint8_t Accepted = 'A';

// Bytes 2 up to the last `cutAtEnd` bytes of an accepted reply, as text.
std::string replyText(const Command& reply, size_t cutAtEnd) {
  return std::string(reply.bytes.begin() + 2, reply.bytes.end() - static_cast<std::ptrdiff_t>(cutAtEnd));
}

bool hasFrameEnd(const Command& reply) { return std::memchr(reply.data(), FrameEnd, reply.size()) != nullptr; }

}  // namespace

int32_t replyErrorCode(const Command& reply) {
  if (reply.size() < 4) return 0;
  const char digits[3] = {static_cast<char>(reply.bytes[2]), static_cast<char>(reply.bytes[3]), '\0'};
  return readDecimal(digits);
}

const char* errorCodeText(int32_t code) {
  switch (code) {
    case 4: return "Illegal (invalid) command (command code or data is wrong)";
    case 6: return "Record number is out of range (requested record doesn't exist)";
    case 7: return "Command failed (hardware problem or invalid internal data)";
    case 8: return "Log (data) memory is full (this message reply in Extended mode)";
    case 9: return "Command is denied by terminal (cannot process this command at the moment)";
    default: return "";
  }
}

Zq735::Zq735() { socket.setEvent(this); }

bool Zq735::onReceive(const uint8_t* data, int32_t length) {
  return length > 0 && std::memchr(data, FrameEnd, static_cast<size_t>(length)) != nullptr;
}

bool Zq735::exchange(char letter, const std::string& argument, size_t minimumSize, Command& reply) {
  const char operation = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  const std::string name = std::string("Zq735::cmd_") + operation;
  if (!readyForRequest(name.c_str(), letter == 'E')) return false;
  reply.clear();
  reply.append(FrameStart);
  reply.append(static_cast<uint8_t>(letter));
  reply.appendText(argument);
  reply.append(FrameEnd);
  const int32_t requestLength = static_cast<int32_t>(reply.size());
  // A short send left the frame without its end: the terminal cannot answer it.
  if (socket.sendTimeout(reply.data(), requestLength, settings.sendTimeoutMs) != requestLength) {
    LOG(LogError, "Zq735::cmd_%c(): Can't send command <%c> %s", operation, letter, hexDump(reply).c_str());
    inStep = false;
    return false;
  }

  reply.clear();
  startReply();
  if (socket.recvTimeout(reply, settings.recvTimeoutMs, settings.recvAttempts) < 0) {
    LOG(LogError, "Zq735::cmd_%c(): " ZQ_MSG_NO_RESPONSE, operation);
    inStep = false;
    return false;
  }
  // The reply is its own frame: bytes after its CR (a doubled or late reply) answer no request
  // of ours. A reply that never got its CR is incomplete, and its rest may still come.
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(reply.data(), FrameEnd, reply.size()));
  if (end == nullptr) {
    inStep = false;
  } else {
    const size_t frame = static_cast<size_t>(end - reply.data()) + 1;
    socket.keepUnread(reply.data() + frame, reply.size() - frame);
    reply.bytes.resize(frame);
  }
  return checkReply(letter, minimumSize, reply);
}

bool Zq735::checkReply(char letter, size_t minimumSize, const Command& reply) {
  const char operation = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  // Too short to say accepted or rejected, to hold an error code, or to hold what the
  // command cuts out of it.
  if (reply.size() < 2) {
    LOG(LogError, "Zq735::cmd_%c(): " ZQ_MSG_INVALID_RESPONSE, operation, hexDump(reply).c_str());
    return false;
  }
  if (reply.bytes[1] != Accepted) {
    if (reply.size() < 4) {
      LOG(LogError, "Zq735::cmd_%c(): " ZQ_MSG_INVALID_RESPONSE, operation, hexDump(reply).c_str());
      return false;
    }
    const int32_t code = replyErrorCode(reply);
    LOG(LogError, "Zq735::cmd_%c(): " ZQ_MSG_ERROR_REPLY "%d, %s, RPL=%s", operation, static_cast<int>(code),
        errorCodeText(code), hexDump(reply).c_str());
    return false;
  }
  if (reply.size() < minimumSize) {
    LOG(LogError, "Zq735::cmd_%c(): " ZQ_MSG_INVALID_RESPONSE, operation, hexDump(reply).c_str());
    return false;
  }
  // A count or a record that ended in silence instead of its CR is cut short: reading it would
  // take check characters for data, so a record would lose its end or the count its last digits,
  // and the terminal would then be cleared of what was never saved.
  if ((letter == 'N' || letter == 'G') && !hasFrameEnd(reply)) {
    LOG(LogError, "Zq735::cmd_%c(): " ZQ_MSG_INVALID_RESPONSE, operation, hexDump(reply).c_str());
    return false;
  }
  return true;
}

std::string Zq735::cmd_d() {
  const unsigned terminalAddress = 0;
  char argument[16];
  const int length = std::snprintf(argument, sizeof argument, "%02X", terminalAddress);
  if (length != 2) {
    LOG(LogError, "Zq735::cmd_d(): Can't prepare command <D>");
    return std::string();
  }
  Command command;
  if (!exchange('D', std::string(argument, 2), 3, command)) return std::string();
  return replyText(command, 1);
}

int32_t Zq735::cmd_n() {
  Command command;
  if (!exchange('N', std::string(), 5, command)) return -1;
  return replyCount(command);
}

int32_t Zq735::replyCount(const Command& reply) {
  const std::string digits = replyText(reply, 3);
  // Only a number counts: text that merely starts like one could empty a full memory's file
  // and let the terminal be cleared.
  if (digits.empty() || digits.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
    LOG(LogError, "Zq735::cmd_n(): " ZQ_MSG_INVALID_RESPONSE, hexDump(reply).c_str());
    return -1;
  }
  const long count = readHex(digits.c_str());
  // long is 64 bits on Linux and 32 on Windows: both builds saturate alike.
  return count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
}

std::string Zq735::cmd_g(int32_t recordIndex) {
  char argument[16];
  const int length = std::snprintf(argument, sizeof argument, "%04X", static_cast<unsigned>(recordIndex));
  if (length != 4) {
    LOG(LogError, "Zq735::cmd_g(): Can't prepare command <G>");
    return std::string();
  }
  Command command;
  if (!exchange('G', std::string(argument, 4), 5, command)) return std::string();
  return replyText(command, 3);
}

bool Zq735::cmd_s(const char* dateTime) {
  if (dateTime == nullptr) {
    LOG(LogError, "Zq735::cmd_s(): Not specified date/time value");
    return false;
  }
  Command command;
  return exchange('S', dateTime, 2, command);
}

bool Zq735::cmd_e() {
  Command command;
  return exchange('E', std::string(), 2, command);
}

bool Zq735::updateDateTime() { return setDateTime(Common::localTime()); }

bool Zq735::setDateTime(const Common::LocalTime& now) {
  std::string stamp;
  if (!now.compactStamp(stamp)) {
    LOG(LogError, "Zq735::updateDateTime(): Can't prepare the date/time value");
    return false;
  }
  if (!cmd_s(stamp.c_str())) return false;
  LOG(LogInfo, "Zq735::updateDateTime(): " ZQ_MSG_CLOCK_SET, now.describe().c_str());
  return true;
}

bool Zq735::reset() {
  const Clearing clearing = clearingFor(LOG_SITE, "Zq735", savedRecords);
  if (clearing != Clearing::Needed) return clearing == Clearing::NothingToClear;
  // Nothing more is asked on a connection out of step: its replies cannot be trusted.
  if (!readyToClear("Zq735::reset", 0)) return false;
  // Records punched since the download would be erased unsaved: they wait for the next one.
  const int32_t stored = cmd_n();
  if (stored < 0) return false;
  if (stored != savedRecords) {
    LOG(LogWarning, "Zq735::reset(): " ZQ_MSG_PUNCHED, static_cast<long>(stored), static_cast<long>(savedRecords));
    return false;
  }
  if (!cmd_e()) return false;
  LOG(LogInfo, "Zq735::reset(): " ZQ_MSG_RECORDS_CLEARED);
  return true;
}

bool Zq735::dump(const std::string& fileName, CardFormat cardFormat) {
  savedRecords = -1;
  DownloadFile download(fileName);
  if (!download.open()) {
    LOG(LogError, "Zq735::dump(): Can't open file %s", fileName.c_str());
    return false;
  }
  if (cmd_d().empty()) {
    LOG(LogError, "Zq735::dump(): Can't select designated terminal");
    return false;
  }
  int32_t count = cmd_n();
  // An empty memory is a complete download of no records; a count that failed is no download.
  if (count <= 0) LOG(LogWarning, "Zq735::dump(): No data for read");
  if (count < 0) return false;
  if (!fetchRecords(download, 0, count, cardFormat)) return false;

  // Records punched while the download ran are fetched too, before the file is saved.
  for (int round = 0; round < TopUpRounds; ++round) {
    const int32_t now = cmd_n();
    if (now <= count) break;
    LOG(LogInfo, "Zq735::dump(): %ld records arrived during the download", static_cast<long>(now - count));
    if (!fetchRecords(download, count, now, cardFormat)) return false;
    count = now;
  }

  // The terminal may be cleared next: its records must be on stable storage first.
  if (!download.finish(LOG_SITE, "Zq735", count)) return false;
  savedRecords = count;
  return true;
}

bool Zq735::fetchRecords(DownloadFile& download, int32_t from, int32_t count, CardFormat cardFormat) {
  for (int32_t i = from; i < count; ++i) {
    if (!dumpRecord(cmd_g(i), download.stream(), cardFormat, i)) {
      LOG(LogError, "Zq735::dump(): Can't get record %ld", static_cast<long>(i));
      return false;
    }
    // A full disk stops the download here rather than after the last record.
    if (!download.good()) {
      LOG(LogError, "Zq735::dump(): Can't write file %s", download.name().c_str());
      return false;
    }
  }
  return true;
}

bool Zq735::dumpRecord(const std::string& record, std::FILE* stream, CardFormat cardFormat, int32_t index) {
  if (record.empty()) {
    LOG(LogError, "Zq735::dumpRecord(): Empty record");
    return false;
  }
  const std::vector<std::string> fields = split(record, ",");
  TerminalRecord line;
  if (fields.size() > 1) line.cardNumber = fields[1];
  if (fields.size() > 2 && readDecimal(fields[2].c_str()) == 0) line.eventCode = 2;
  if (fields.size() > 3) {
    // year/month/day becomes day.month.year; missing parts stay empty.
    const std::vector<std::string> parts = split(fields[3], "/");
    const char* year = parts[0].c_str();
    const char* month = parts.size() > 1 ? parts[1].c_str() : "";
    const char* day = parts.size() > 2 ? parts[2].c_str() : "";
    char date[11];
    std::snprintf(date, sizeof date, "%s.%s.%s", day, month, year);
    line.date = date;
  }
  if (fields.size() > 4) line.time = fields[4];
  if (writeRecord(stream, line, cardFormat)) {
    LOG(LogWarning, "Zq735::dumpRecord(): Record %ld: a TAB, CR or LF in a field is written as a space",
        static_cast<long>(index));
  }
  return true;
}

}  // namespace Zq
