// What a 735 terminal sends back: the reply check of each command, the count and the record decoding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "DriverSinks.h"
#include "Zq/Command.h"
#include "Zq/Zq735.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static DriverSinks<Zq::Zq735> sinks;
  if (size == 0) return 0;
  const auto cardFormat = static_cast<Zq::CardFormat>(bytes[0] % 4);

  Zq::Command reply;
  reply.bytes.assign(bytes + 1, bytes + size);
  sinks.driver.onReceive(reply.data(), static_cast<int32_t>(reply.size()));
  Zq::replyErrorCode(reply);
  Zq::Zq735::checkReply('D', 3, reply);
  if (Zq::Zq735::checkReply('N', 5, reply)) Zq::Zq735::replyCount(reply);
  if (Zq::Zq735::checkReply('G', 5, reply)) {
    const std::string record(reply.bytes.begin() + 2, reply.bytes.end() - 3);
    sinks.driver.dumpRecord(record, sinks.data.handle, cardFormat);
  }
  sinks.driver.dumpRecord(std::string(reply.bytes.begin(), reply.bytes.end()), sinks.data.handle, cardFormat);
  return 0;
}
