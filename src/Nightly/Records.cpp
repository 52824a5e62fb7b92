// Only operating-system independent code.
#include "Nightly/Records.h"

#include <unordered_map>

namespace ZqNightly {
namespace Records {
namespace {

bool digitsAt(const std::string& text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// The record's moment on the wall-clock scale of LocalTime::wallSeconds(); false when its date
// and time columns are not a calendar date and a time of day.
bool momentOf(const std::string& line, int64_t& seconds) {
  std::vector<std::string> columns;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    columns.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  if (columns.size() < 4) return false;
  const std::string& date = columns[2];
  const std::string& time = columns[3];
  int day, month, year, hour, minute, second;
  if (date.size() != 10 || date[2] != '.' || date[5] != '.' || !digitsAt(date, 0, 2, day) ||
      !digitsAt(date, 3, 2, month) || !digitsAt(date, 6, 4, year) || !Common::isCalendarDate(year, month, day)) {
    return false;
  }
  if (time.size() != 8 || time[2] != ':' || time[5] != ':' || !digitsAt(time, 0, 2, hour) ||
      !digitsAt(time, 3, 2, minute) || !digitsAt(time, 6, 2, second) || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  seconds = Common::daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

}  // namespace

std::vector<std::string> lines(const std::string& data) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start < data.size()) {
    const size_t end = data.find('\n', start);
    const size_t next = end == std::string::npos ? data.size() : end + 1;
    result.push_back(data.substr(start, next - start));
    start = next;
  }
  return result;
}

std::string fresh(const std::string& previous, const std::string& current, size_t& count) {
  // The first j copies of a line are the ones `previous` delivered: with a prefix, those are
  // exactly the prefix's own, so one rule covers both cases.
  std::unordered_map<std::string, size_t> delivered;
  for (const std::string& line : lines(previous)) ++delivered[line];
  std::string result;
  count = 0;
  for (const std::string& line : lines(current)) {
    auto found = delivered.find(line);
    if (found != delivered.end() && found->second > 0) {
      --found->second;
      continue;
    }
    result += line;
    ++count;
  }
  return result;
}

size_t suspect(const std::string& data, const LocalTime& now) {
  const int64_t latest = now.wallSeconds() + 86400;
  LocalTime yearBefore = now;
  yearBefore.year -= 1;
  // 29 February a year before is the 28th.
  if (!Common::isCalendarDate(yearBefore.year, yearBefore.month, yearBefore.day)) yearBefore.day -= 1;
  const int64_t earliest = yearBefore.wallSeconds();
  size_t count = 0;
  for (std::string line : lines(data)) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    int64_t moment = 0;
    if (!momentOf(line, moment) || moment > latest || moment < earliest) ++count;
  }
  return count;
}

}  // namespace Records
}  // namespace ZqNightly
