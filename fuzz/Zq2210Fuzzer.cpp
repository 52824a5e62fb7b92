// What a 2210 terminal sends back: the reply check, the count, the record data and its decoding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Common/File.h"
#include "Log.h"
#include "Zq/Command.h"
#include "Zq/TerminalRecord.h"
#include "Zq/Zq2210.h"

namespace {

struct Sinks {
  Sinks() {
    // The log's formatting of rejected replies is part of what is under test.
    openLog("/dev/null");
    Zq::openDataFile(data, "/dev/null");
  }
  Common::File data;
  Zq::Zq2210 driver;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static Sinks sinks;
  if (size == 0) return 0;
  const int32_t cardFormat = bytes[0] % 4;

  Zq::Command reply;
  reply.bytes.assign(bytes + 1, bytes + size);
  sinks.driver.onReceive(reply.data(), static_cast<int32_t>(reply.size()));
  if (Zq::Zq2210::checkReply("cmd_rg", reply)) {
    std::string data;
    if (Zq::Zq2210::replyData("cmd_rg", reply, data)) sinks.driver.dumpRecord(sinks.data.handle, data, cardFormat);
    Zq::Zq2210::recordCount(reply);
  }
  // The record decoding also sees texts no reply check has looked at.
  sinks.driver.dumpRecord(sinks.data.handle, std::string(reply.bytes.begin(), reply.bytes.end()), cardFormat);
  return 0;
}
