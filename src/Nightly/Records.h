// Data-file records as the job compares and judges them: a record is one whole line of the data
// file, its CR LF included.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Nightly/Platform.h"

namespace ZqNightly {
namespace Records {

std::vector<std::string> lines(const std::string& data);

// The records of `current` that `previous` (the terminal's earlier download) did not deliver: a
// line found k times in `current` and j times in `previous` gives max(0, k - j) copies, the last
// ones in `current`'s order. When `previous` is a prefix of `current` (a terminal that was not
// cleared) that is exactly the rest of `current`.
std::string fresh(const std::string& previous, const std::string& current, size_t& count);

// Records whose date and time (columns 3 and 4, DD.MM.YYYY and hh:mm:ss) are not a calendar date
// and time, lie more than a day after `now`, or more than a year before it: signs of a terminal
// clock that was wrong. They stay in the files; the report counts them.
size_t suspect(const std::string& data, const LocalTime& now);

}  // namespace Records
}  // namespace ZqNightly
