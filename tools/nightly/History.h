// What the job remembers of each terminal between nights, so that the new/ files of all day
// folders together hold every record a terminal delivered exactly once. Kept in DIR/.state/:
//
//   <name>.last     the terminal's memory as the job last knew it: its last complete download, or
//                   nothing after a confirmed clear (the memory is then known to be empty)
//   <name>.pending  only while a download is being put in place: which file, and whether the
//                   memory was cleared; a job that died meanwhile is completed by the next one
//   .lock           held for a moment while a terminal's files are read and written
//
// Every file is replaced atomically. A terminal is known by its name: renaming it in the
// terminals file starts it afresh (its next download is new in full).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ZqNightly {

class History {
public:
  // What a complete download became.
  struct Placed {
    std::string file;  // its name in the day folder, and under new/
    std::string data;  // its records
    size_t records = 0;
    size_t newRecords = 0;
  };

  explicit History(const std::string& outputFolder);

  // Creates DIR/.state and completes what a job that died while putting downloads in place left
  // undone, for these terminals.
  bool open(const std::vector<std::string>& names, std::string& error);

  // Moves the complete data file `workFile` into `dayFolder` under the first free name of
  // <name>.txt, <name>.2.txt, ..., writes the records no earlier download of the terminal delivered
  // into new/ under the same name, and remembers the memory as `cleared` or not.
  bool commit(const std::string& name, const std::string& day, const std::string& workFile, bool cleared,
              Placed& placed, std::string& error);

private:
  std::string path(const std::string& name, const char* suffix) const;
  bool recover(const std::string& name, std::string& error);
  bool finish(const std::string& name, const std::string& dayFolder, const std::string& file, bool cleared,
              Placed& placed, std::string& error);

  std::string outputFolder_;
  std::string stateFolder_;
};

}  // namespace ZqNightly
