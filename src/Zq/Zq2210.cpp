// Only operating-system independent code.
#include "Zq/Zq2210.h"

#include <cstring>

#include "Common/Log.h"
#include "Common/RunTexts.h"
#include "Zq/DownloadFile.h"
#include "Zq/TerminalRecord.h"

#define LOG_SOURCE ZQ_SOURCE_ZQ2210

namespace Zq {

namespace {

const uint8_t STX = 0x02;
const uint8_t CR = 0x0D;
const uint8_t ReplyAccepted = 'A';
const size_t ReplyCodePosition = 3;

}  // namespace

Zq2210::Zq2210() { serialPort.setEvent(static_cast<Common::SerialPortEvent*>(this)); }

// The port outlives this part of the object by a moment; it must not call back into it.
Zq2210::~Zq2210() { serialPort.setEvent(nullptr); }

const char* Zq2210::replyCodeText(uint8_t code) {
  switch (code) {
    case 'A': return "Command was completed successfully";
    case 'B': return "Busy";
    case 'C': return "Check error";
    case 'D': return "Access denied";
    case 'E': return "End";
    case 'F': return "Command execution failed";
    case 'I': return "Invalid command";
    case 'K': return "Key violation";
    case 'N': return "Command is not applicable or data not available";
    default: return "";
  }
}

bool Zq2210::onReceive(const uint8_t* data, int32_t length) {
  if (data == nullptr || length <= 0) return false;
  return std::memchr(data, CR, static_cast<size_t>(length)) != nullptr;
}

Command Zq2210::makeRequest(const char* literal, const std::string& arguments) {
  Command request;
  request.append(STX);
  request.appendText(literal);
  request.appendText(arguments);
  request.append(CR);
  return request;
}

Command Zq2210::makeItemRequest(const std::string& itemName, const std::string& itemValue) {
  return makeRequest("11IS", "\"" + itemName + "\"00" + itemValue);
}

bool Zq2210::checkReply(const char* operation, const Command& reply) {
  if (reply.size() <= ReplyCodePosition) {
    LOG(LogError, "Zq2210::%s(): " ZQ_MSG_INVALID_RESPONSE, operation, hexDump(reply).c_str());
    return false;
  }
  const uint8_t code = reply.bytes[ReplyCodePosition];
  if (code != ReplyAccepted) {
    LOG(LogError, "Zq2210::%s(): " ZQ_MSG_ERROR_REPLY "%02XH, %s, RPL=%s", operation, static_cast<unsigned>(code),
        replyCodeText(code), hexDump(reply).c_str());
    return false;
  }
  return true;
}

bool Zq2210::replyData(const char* operation, const Command& reply, std::string& data) {
  data.clear();
  // Code, then the data, then the end byte: an accepted reply of four bytes has no end byte.
  // A reply that ended in silence instead of a CR is cut short: its last byte is data, and
  // dropping it as the end byte would cut a digit off the count or the record, whose terminal
  // could then be cleared of what was never saved.
  if (reply.size() <= ReplyCodePosition + 1 || std::memchr(reply.data(), CR, reply.size()) == nullptr) {
    LOG(LogError, "Zq2210::%s(): " ZQ_MSG_INVALID_RESPONSE, operation, hexDump(reply).c_str());
    return false;
  }
  data.assign(reinterpret_cast<const char*>(reply.data()) + ReplyCodePosition + 1,
              reply.size() - ReplyCodePosition - 2);
  return true;
}

bool Zq2210::exchange(const char* operation, const char* literal, const Command& request, Command& reply) {
  // 0 is a failed write and a short count a request the terminal cannot have understood:
  // neither is worth waiting for a reply to.
  const int32_t sent = send(request);
  if (sent <= 0 || static_cast<size_t>(sent) != request.size()) {
    LOG(LogError, "Zq2210::%s(): Can't send command <%s> %s", operation, literal, hexDump(request).c_str());
    return false;
  }
  reply.clear();
  startReply();
  if (serialPort.recvTimeout(reply) <= 0) {
    LOG(LogError, "Zq2210::%s(): " ZQ_MSG_NO_RESPONSE, operation);
    inStep = false;
    return false;
  }
  return checkReply(operation, reply);
}

bool Zq2210::simpleCommand(const char* operation, const char* literal) {
  Command reply;
  return exchange(operation, literal, makeRequest(literal), reply);
}

bool Zq2210::cmd_li() { return simpleCommand("cmd_li", "11LI"); }
bool Zq2210::cmd_lo() { return simpleCommand("cmd_lo", "11LO"); }
bool Zq2210::cmd_ra() { return simpleCommand("cmd_ra", "11RA"); }
bool Zq2210::cmd_rh() { return simpleCommand("cmd_rh", "11RH"); }
bool Zq2210::cmd_ri() { return simpleCommand("cmd_ri", "11RI"); }

int32_t Zq2210::recordCount(const Command& reply) {
  std::string data;
  if (!replyData("cmd_rn", reply, data)) return -1;
  // Only a number counts: text that merely starts like one could empty a full memory's file
  // and let the terminal be cleared.
  if (data.empty() || data.find_first_not_of("0123456789") != std::string::npos) {
    LOG(LogError, "Zq2210::cmd_rn(): " ZQ_MSG_INVALID_RESPONSE, hexDump(reply).c_str());
    return -1;
  }
  return readDecimal(data.c_str());
}

int32_t Zq2210::cmd_rn() {
  Command reply;
  if (!exchange("cmd_rn", "11RN", makeRequest("11RN"), reply)) return -1;
  return recordCount(reply);
}

std::string Zq2210::cmd_rg(int32_t recordIndex) {
  Command reply;
  std::string data;
  const Command request = makeRequest("11RG", std::to_string(static_cast<long>(recordIndex)));
  if (!exchange("cmd_rg", "11RG", request, reply) || !replyData("cmd_rg", reply, data)) return std::string();
  return data;
}

bool Zq2210::cmd_is(const char* itemName, const char* itemValue) {
  if (itemName == nullptr) {
    LOG(LogError, "Zq2210::cmd_is(): Not specified item name");
    return false;
  }
  if (itemValue == nullptr) {
    LOG(LogError, "Zq2210::cmd_is(): Not specified item value");
    return false;
  }
  Command reply;
  return exchange("cmd_is", "11IS", makeItemRequest(itemName, itemValue), reply);
}

bool Zq2210::reset() {
  const Clearing clearing = clearingFor(LOG_SITE, "Zq2210", savedRecords);
  if (clearing != Clearing::Needed) return clearing == Clearing::NothingToClear;
  if (!readyToClear("Zq2210::reset")) return false;
  if (!cmd_li()) {
    LOG(LogError, "Zq2210::reset(): Can't log in the terminal");
    return false;
  }
  // Records punched since the download would be cleared unsaved: they wait for the next one.
  const int32_t stored = cmd_rn();
  const bool unsaved = stored > savedRecords;
  if (unsaved) {
    LOG(LogWarning, "Zq2210::reset(): " ZQ_MSG_PUNCHED, static_cast<long>(stored), static_cast<long>(savedRecords));
  }
  const bool cleared = stored >= 0 && !unsaved && cmd_ri();
  cmd_lo();
  if (cleared) LOG(LogInfo, "Zq2210::reset(): " ZQ_MSG_RECORDS_CLEARED);
  return cleared;
}

bool Zq2210::prepareDateTime(const Common::LocalTime& now, std::string& date, std::string& time) {
  // The date and the time are items of their own here, in shapes of their own; a clock that could
  // not be read is never sent, as the terminal would keep a made-up date.
  if (!now.validDate()) {
    LOG(LogError, "Zq2210::updateDateTime(): Can't prepare the date value for the command");
    return false;
  }
  if (!now.validTime()) {
    LOG(LogError, "Zq2210::updateDateTime(): Can't prepare the time value for the command");
    return false;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%02d-%02d-%04d", now.day, now.month, now.year);
  date = text;
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", now.hour, now.minute, now.second);
  time = text;
  return true;
}

bool Zq2210::updateDateTime() { return setDateTime(Common::localTime()); }

bool Zq2210::setDateTime(const Common::LocalTime& now) {
  std::string date;
  std::string time;
  if (!prepareDateTime(now, date, time)) return false;
  if (!cmd_li()) {
    LOG(LogError, "Zq2210::updateDateTime(): Can't log in the terminal");
    return false;
  }
  const bool set = cmd_is("DATE", date.c_str()) && cmd_is("TIME", time.c_str());
  cmd_lo();
  if (set) LOG(LogInfo, "Zq2210::updateDateTime(): " ZQ_MSG_CLOCK_SET, now.describe().c_str());
  return set;
}

bool Zq2210::dump(const std::string& fileName, CardFormat cardFormat) {
  savedRecords = -1;
  DownloadFile download(fileName);
  if (!download.open()) {
    LOG(LogError, "Zq2210::dump(): Can't open file %s", fileName.c_str());
    return false;
  }
  if (!cmd_li()) {
    LOG(LogError, "Zq2210::dump(): Can't log in the terminal");
    return false;
  }
  if (!cmd_ra()) {
    LOG(LogError, "Zq2210::dump(): Can't close read transaction");
    cmd_lo();
    return false;
  }
  const int32_t count = cmd_rn();
  int32_t index = 0;
  bool written = true;
  for (; index < count; ++index) {
    if (!dumpRecord(download.stream(), cmd_rg(index), cardFormat, index)) break;
    // The acknowledgement lets the terminal consider the record delivered: its line must have
    // reached the operating system first. A file with a hole in it is no download.
    written = download.flush();
    if (!written) break;
    cmd_rh();
  }
  // The terminal is logged out first; why the download ended is logged after it.
  cmd_lo();
  // An empty memory is a complete download of no records; a count that failed is no download.
  if (count <= 0) LOG(LogWarning, "Zq2210::dump(): No data for read");
  if (count < 0) return false;
  if (index < count) {
    if (written) LOG(LogError, "Zq2210::dump(): Can't get record %ld", static_cast<long>(index));
    else LOG(LogError, "Zq2210::dump(): Can't write data file %s", fileName.c_str());
    return false;
  }
  if (!download.finish(LOG_SITE, "Zq2210", count, "Can't write data file")) return false;
  savedRecords = count;
  return true;
}

bool Zq2210::dumpRecord(std::FILE* stream, const std::string& text, CardFormat cardFormat, int32_t index) {
  if (text.empty()) {
    LOG(LogError, "Zq2210::dumpRecord(): Empty record");
    return false;
  }
  const std::vector<std::string> fields = split(text, "\t");
  TerminalRecord record;
  for (size_t i = 0; i < fields.size() && i < 5; ++i) {
    const std::string& field = fields[i];
    switch (i) {
      case 0: {
        const int32_t event = readDecimal(field.c_str());
        if (event >= 1 && event <= 4) record.eventCode = event;
        break;
      }
      case 1: {
        // Missing parts stay empty: "5-1" gives "5.1.".
        const std::vector<std::string> parts = split(field, "-");
        const char* day = parts[0].c_str();
        const char* month = parts.size() > 1 ? parts[1].c_str() : "";
        const char* year = parts.size() > 2 ? parts[2].c_str() : "";
        char date[11];
        std::snprintf(date, sizeof date, "%s.%s.%s", day, month, year);
        record.date = date;
        break;
      }
      case 2: record.time = field; break;
      case 3: record.cardNumber = field.empty() ? std::string() : field.substr(1); break;
      case 4: record.extraCode = readDecimal(field.c_str()); break;
    }
  }
  if (writeRecord(stream, record, cardFormat)) {
    LOG(LogWarning, "Zq2210::dumpRecord(): Record %ld: a TAB, CR or LF in a field is written as a space",
        static_cast<long>(index));
  }
  return true;
}

}  // namespace Zq
