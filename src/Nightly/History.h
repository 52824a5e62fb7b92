// What the job remembers of each terminal between nights, so that the new/ files of all day
// folders together hold every record a terminal delivered exactly once. Kept in DIR/.state/, each
// terminal under its name folded to lower case (names that differ only in case are one name):
//
//   <name>.last     the terminal's memory as the job last knew it: its last complete download, or
//                   "cleared" after a confirmed clear; a header with the record count, the size
//                   and a checksum shows a file that was cut, emptied or altered
//   <name>.pending  only while a download is being put in place: which day and file, where it
//                   waits, and whether the memory was cleared; a job that died meanwhile is
//                   completed by the next job, for whatever day
//   .lock           held for a moment while a terminal's files are read and written
//
// Every file is replaced atomically. A damaged or missing .last is rebuilt from the day folders:
// the terminal's most recent complete data file, taken as its memory (which never loses a record
// and never doubles one, whether or not it was cleared since). Only when there is none is a
// download delivered as new in full, and then it is flagged.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Nightly/Platform.h"

namespace ZqNightly {

// The key of a terminal's state: its name folded to lower case (names are ASCII).
std::string foldName(const std::string& name);

class History {
public:
  // What the job knew of the terminal's memory when it put a download in place.
  enum class Knowledge {
    Known,       // its .last, whole
    FirstNight,  // no .last and no earlier download: a new terminal, its whole memory is new
    Rebuilt,     // .last missing or damaged, rebuilt from its most recent complete data file
    Damaged,     // .last damaged and nothing to rebuild it from: the download counts as new in full
  };

  // What a complete download became.
  struct Placed {
    std::string file;  // its name in the day folder, and under new/
    std::string data;  // its records
    size_t records = 0;
    size_t newRecords = 0;
    Knowledge knowledge = Knowledge::Known;
    std::string note;  // Rebuilt, Damaged: what was wrong, and what was done about it
  };

  // A commit that a job which died left undone, completed by open().
  struct Completed {
    std::string name;  // the folded name
    std::string day;
    bool cleared = false;
    Placed placed;
  };

  explicit History(const std::string& outputFolder);

  // Creates DIR/.state, gives an earlier version's files their folded names, and completes every
  // commit a job that died left undone (completed() lists them). A pending note that cannot be
  // trusted is set aside, and said in problems(). False when .state itself cannot be used.
  bool open(std::string& error);
  const std::vector<Completed>& completed() const { return completed_; }
  const std::vector<std::string>& problems() const { return problems_; }

  // Whether the terminal's state files are the job's own (nothing planted there): checked before
  // a terminal is read, so that a download is never made that could not be put in place.
  bool check(const std::string& name, std::string& error) const;

  // Moves the complete data file `workFile` (in the day's .work/) into the day folder under the
  // first free name of <name>.txt, <name>.2.txt, ..., writes the records no earlier download of the
  // terminal delivered into new/ under the same name, and remembers the memory as `cleared` or not.
  // On failure the download stays where the next job finds it: in `workFile`, or named by the
  // terminal's pending note.
  bool commit(const std::string& name, const std::string& day, const std::string& workFile, bool cleared,
              Placed& placed, std::string& error);

  // The .last file's text for a memory, and its reading: false when the text is not whole.
  static std::string memoryRecord(bool cleared, const std::string& data);
  static bool readMemoryRecord(const std::string& text, bool& cleared, std::string& data);

private:
  std::string path(const std::string& name, const char* suffix) const;
  bool takeLock(Lock& lock, std::string& error) const;
  void foldOldNames();
  // Completes the pending note of `name`; false when it cannot be completed now.
  bool recover(const std::string& name, std::string& error);
  bool finish(const std::string& name, const std::string& day, const std::string& file, bool cleared, Placed& placed,
              std::string& error);
  // The memory as .last tells it, or rebuilt; false when the state cannot be read at all.
  bool memory(const std::string& name, const std::string& exclude, std::string& data, Placed& placed,
              std::string& error) const;
  // The terminal's most recent complete data file in any day folder but `exclude`; false when none.
  bool latestDownload(const std::string& name, const std::string& exclude, std::string& path) const;

  std::string outputFolder_;
  std::string stateFolder_;
  std::vector<Completed> completed_;
  std::vector<std::string> problems_;
};

}  // namespace ZqNightly
