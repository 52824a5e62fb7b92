// Only operating-system independent code.
#include "Zq/Models.h"

#include <new>

#include "Zq/Zq2210.h"
#include "Zq/Zq735.h"
#include "Zq/Zq870.h"

namespace Zq {

namespace {

template <class Driver>
ITerminal* make() {
  return new (std::nothrow) Driver();
}

}  // namespace

const ModelEntry modelTable[] = {
    {Model730, "730", Transport::Serial, false, nullptr},       {Model735, "735", Transport::Tcp, true, make<Zq735>},
    {Model2210, "2210", Transport::Serial, true, make<Zq2210>}, {Model2240, "2240", Transport::Tcp, true, nullptr},
    {Model870, "870", Transport::Tcp, true, make<Zq870>},       {ModelQVK, "QVK", Transport::Tcp, true, make<Zq870>},
};
const size_t modelTableSize = sizeof modelTable / sizeof modelTable[0];

Endpoint ModelEntry::endpoint(const std::string& host, int32_t port) const {
  Endpoint result;
  result.settings.port = port;
  result.settings.blocking = false;
  result.settings.recvAttempts = 5;
  result.settings.connectTimeoutMs = 2500;
  result.settings.sendTimeoutMs = 192;
  result.settings.recvTimeoutMs = 192;
  if (transport == Transport::Tcp) result.host = host;
  else result.baudRate = 38400;
  return result;
}

const ModelEntry* findModel(const std::string& keyword) {
  for (const ModelEntry& entry : modelTable) {
    if (keyword == entry.keyword) return &entry;
  }
  return nullptr;
}

const ModelEntry* findModel(int32_t model) {
  for (const ModelEntry& entry : modelTable) {
    if (entry.model == model) return &entry;
  }
  return nullptr;
}

std::string modelKeywords() {
  std::string list;
  for (const ModelEntry& entry : modelTable) list += (list.empty() ? "" : ", ") + std::string(entry.keyword);
  return list;
}

}  // namespace Zq
