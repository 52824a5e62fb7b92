// The record memory of a simulated terminal: what it sends when asked, until it is cleared.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Simulator {

// The records back to back in one buffer, as the terminal's own texts: the 870 sends the front of
// it in a few large writes, however many records it holds; the framed families send one at a time.
class RecordStore {
public:
  void reserve(size_t count) { ends.reserve(count); }
  void add(const std::string& record);
  size_t size() const { return ends.size(); }
  // Record `index`, 0-based; index < size().
  std::string_view at(size_t index) const;
  // The first `count` records back to back; count <= size().
  std::string_view first(size_t count) const;
  void clear();

private:
  std::string bytes;
  std::vector<size_t> ends;  // where each record ends in `bytes`
};

}  // namespace Simulator
