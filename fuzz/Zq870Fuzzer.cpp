// What an 870 terminal sends back: 26-byte records and the clock and clearing replies.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Common/File.h"
#include "Log.h"
#include "Zq/TerminalRecord.h"
#include "Zq/Zq870.h"

namespace {

struct Sinks {
  Sinks() {
    openLog("/dev/null");
    Zq::openDataFile(data, "/dev/null");
  }
  Common::File data;
  Zq::Zq870 driver;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  static Sinks sinks;
  if (size == 0) return 0;
  const int32_t cardFormat = bytes[0] % 4;
  const uint8_t* rest = bytes + 1;
  const size_t restSize = size - 1;

  uint8_t record[Zq::Zq870::RecordSize] = {};
  std::memcpy(record, rest, restSize < sizeof record ? restSize : sizeof record);
  sinks.driver.dumpRecord(record, sinks.data, cardFormat);

  for (int32_t pending = 0; pending <= 3; ++pending) {
    sinks.driver.pendingCommand = pending;
    sinks.driver.onReceive(rest, static_cast<int32_t>(restSize));
  }
  return 0;
}
