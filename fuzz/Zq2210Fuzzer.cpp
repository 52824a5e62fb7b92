// What a 2210 terminal sends back: the reply check, the count, the record data and its decoding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "DriverSinks.h"
#include "Zq/Command.h"
#include "Zq/Zq2210.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static DriverSinks<Zq::Zq2210> sinks;
  if (size == 0) return 0;
  const auto cardFormat = static_cast<Zq::CardFormat>(bytes[0] % 4);

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
