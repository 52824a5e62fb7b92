// What a job that ended abnormally left unfinished, completed by the next job, for whatever day
// it runs: a run still going is waited for (and stopped at its time limit), what each run left
// is judged as if the run had just ended and put in place, or kept in stopped/ (never deleted),
// and the day's report is written or rewritten so that an importer sees every new/ file.
//
// Which days are looked at: every day folder that holds a lock file whose job is gone, or a .work/
// folder, and every day a pending commit names.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Nightly/DayFolder.h"
#include "Nightly/History.h"
#include "Nightly/Platform.h"
#include "Nightly/Report.h"
#include "Nightly/RunRecord.h"
#include "Nightly/TerminalList.h"
#include "Nightly/Verdict.h"

namespace ZqNightly {

class Recovery {
public:
  // `jobDay`: the day of the job that recovers; `terminals`: its terminals file, which gives the
  // terminals of a day that lost its report.
  // `job` gives what a report written for a day without one says of the job.
  Recovery(const std::string& outputFolder, const std::string& jobDay, History& history,
           const std::vector<Terminal>& terminals, const JobReport& job);

  // The leftover of the working folder `workName` in `day` (whose lock the caller holds):
  // waited for, judged, put in place or kept. False (the leftover stays) when the job was stopped
  // meanwhile, or the folder is not the job's own.
  bool recoverWork(const DayFolder& day, const std::string& workName, TerminalReport& entry);

  // Every leftover of `day` (whose lock the caller holds), with the commits History completed for
  // it: entries by folded name.
  std::map<std::string, TerminalReport> recoverDay(const DayFolder& day);

  // Completes another day (whose lock the caller holds): its leftovers, and its report written or
  // rewritten when anything was recovered or it has none. True when it wrote a report.
  bool completeDay(const DayFolder& day);

  // Puts a complete download (`workFile` in the day's .work/) in place and fills the terminal's
  // entry (name and switches set): outcome, files, counts, what the download did. False when it
  // cannot be put in place now: the entry says pending, and the file stays for the next job.
  static bool place(History& history, const DayFolder& day, const std::string& workFile, const Verdict& verdict,
                    const LocalTime& now, TerminalReport& entry);

  // The terminal's account of one attempt in logs/<name>.log: a header, the program's debug log
  // as it wrote it, its console lines, the job's notes and how it ended.
  static std::string attemptLog(const std::string& header, const std::string& debugLog,
                                const std::vector<std::string>& console, const std::vector<std::string>& notes,
                                const std::string& ending);

private:
  // What a run of a job that ended left in its working folder.
  struct Leftover {
    bool hasRecord = false;
    RunRecord record;
    std::vector<std::string> console;
    std::vector<std::string> log;
    std::string debugLog;
    std::string dataName;
    std::string dataPath;
    std::string partialPath;  // the program's temporary file, when it never saved
    // How the run ended, as far as the record and the witnesses tell.
    RunEnding ending(bool dataFile) const;
  };

  // Reads the leftover, after waiting for a run that still lives; false when it is not the job's
  // own or the job was stopped meanwhile.
  bool readLeftover(const DayFolder& day, const std::string& workName, Leftover& left);
  // The terminal's entry for what the run left: put in place, kept in stopped/, or found placed.
  void judgeLeftover(const DayFolder& day, const std::string& workName, const Leftover& left, TerminalReport& entry);
  // True, with the entry filled, when the run's download was put in place before its job ended.
  bool placedBefore(const DayFolder& day, const std::string& workName, const Leftover& left, TerminalReport& entry);
  bool waitForRun(const DayFolder& day, const std::string& workName, long process, const std::string& token,
                  int64_t limit);
  TerminalReport describe(const std::string& name) const;
  // A day that lost its report: every terminal of the file that was never read, then `entries`.
  std::vector<TerminalReport> neverRead(const std::map<std::string, TerminalReport>& entries) const;
  // `terminals` with `entries` in place of their own (by folded name) or after them.
  static std::vector<TerminalReport> replaced(const std::vector<TerminalReport>& terminals,
                                              const std::map<std::string, TerminalReport>& entries);

  std::string outputFolder_;
  std::string jobDay_;
  History& history_;
  const std::vector<Terminal>& terminals_;
  const JobReport& job_;
};

}  // namespace ZqNightly
