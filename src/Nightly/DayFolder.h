// One day's folder, DIR/YYYY-MM-DD, and every name the job gives inside it:
//
//   <name>.txt, <name>.2.txt, ...   complete data files (the first free name of the stem)
//   new/<file>                      the records of <file> that no earlier download delivered
//   logs/<name>.log                 every attempt's log
//   stopped/<name>.txt, ...         what runs that did not complete left in their data file
//   report.json                     the day's report, written last
//   .zq-nightly.lock                held by the job that runs for the day
//   .work/<name>/                   a run's working folder; zq-nightly.run records the run
#pragma once

#include <string>
#include <vector>

namespace ZqNightly {

class DayFolder {
public:
  DayFolder(const std::string& outputFolder, const std::string& day);

  const std::string& day() const { return day_; }
  const std::string& path() const { return path_; }
  std::string file(const std::string& relative) const;  // '/' separated, relative to the day folder
  std::string lockPath() const { return file(".zq-nightly.lock"); }
  std::string reportPath() const { return file("report.json"); }
  std::string newPath(const std::string& dataFile) const { return file("new/" + dataFile); }
  std::string logPath(const std::string& name) const { return file("logs/" + name + ".log"); }
  std::string workFolder(const std::string& name) const { return file(".work/" + name); }
  std::string workFile(const std::string& name, const std::string& file) const;
  // The run's record in its working folder.
  std::string runRecord(const std::string& name) const { return workFile(name, runRecordName); }

  // Creates the day folder with new/ and logs/, refusing anything there (also at stopped/ and
  // .work/) that is not a real folder.
  bool prepare(std::string& error) const;
  bool prepareWork(const std::string& name, std::string& error) const;
  bool hasWork() const;
  // The names of the working folders (terminal names as the job that made them wrote them).
  std::vector<std::string> workNames() const;
  // Removes the job's own files of a working folder, and the folders once they are empty.
  void cleanWork(const std::string& name) const;

  // <stem>.txt, then <stem>.2.txt, <stem>.3.txt, ...: the first name that is free in the day folder
  // and in new/.
  std::string freeDataName(const std::string& stem) const;
  // The last of <stem>.txt, <stem>.2.txt, ... that is in the day folder; "" when there is none.
  std::string lastDataName(const std::string& stem) const;
  // Moves `from` into stopped/ under the first free name of <stem>.txt, <stem>.2.txt, ...; never
  // deleted, as its records may be the only copy. Returns its relative path, or "" with `error`.
  std::string keepStopped(const std::string& from, const std::string& stem, std::string& error) const;
  // Appends to logs/<name>.log (never through anything planted there).
  bool appendLog(const std::string& name, const std::string& text, std::string& error) const;
  // `path` relative to the day folder with '/' (as the report gives paths).
  std::string relative(const std::string& path) const;

  // The day folders' name: YYYY-MM-DD naming a calendar date.
  static bool isDayName(const std::string& name);
  // The days of the output folder that have a folder of their own, oldest first.
  static std::vector<std::string> days(const std::string& outputFolder);

  static const char* const runRecordName;
  static const char* const consoleName;
  static const char* const debugLogName;

private:
  std::string day_;
  std::string path_;
};

}  // namespace ZqNightly
