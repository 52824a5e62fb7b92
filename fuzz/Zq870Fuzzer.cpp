// What an 870 terminal sends back: 26-byte records and the clock and clearing replies.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "DriverSinks.h"
#include "Zq/Zq870.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static DriverSinks<Zq::Zq870> sinks;
  if (size == 0) return 0;
  const auto cardFormat = static_cast<Zq::CardFormat>(bytes[0] % 4);
  const uint8_t* rest = bytes + 1;
  const size_t restSize = size - 1;

  uint8_t record[Zq::Zq870::RecordSize] = {};
  std::memcpy(record, rest, restSize < sizeof record ? restSize : sizeof record);
  sinks.driver.dumpRecord(record, sinks.data.handle, cardFormat);

  for (int32_t pending = 0; pending <= 3; ++pending) {
    sinks.driver.pendingCommand = static_cast<Zq::Zq870::PendingCommand>(pending);
    sinks.driver.onReceive(rest, static_cast<int32_t>(restSize));
  }
  return 0;
}
