// The record memory of a simulated terminal.
#include "RecordStore.h"

namespace Simulator {

void RecordStore::add(const std::string& record) {
  bytes += record;
  ends.push_back(bytes.size());
}

std::string_view RecordStore::at(size_t index) const {
  size_t start = index == 0 ? 0 : ends[index - 1];
  return std::string_view(bytes).substr(start, ends[index] - start);
}

std::string_view RecordStore::first(size_t count) const {
  return std::string_view(bytes).substr(0, count == 0 ? 0 : ends[count - 1]);
}

void RecordStore::clear() {
  bytes.clear();
  ends.clear();
}

}  // namespace Simulator
