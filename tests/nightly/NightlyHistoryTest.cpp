// The job's memory of each terminal: every record delivered exactly once through commits, a job
// that died halfway through one, damaged or planted state, and names that differ only in case.
#include <gtest/gtest.h>

#include <string>

#include "Nightly/History.h"
#include "TempFolder.h"

using ZqNightly::History;

namespace {

const std::string a = "00000001\t1\t01.03.2026\t08:00:00\t00\r\n";
const std::string b = "00000002\t2\t01.03.2026\t12:00:00\t00\r\n";
const std::string c = "00000003\t1\t02.03.2026\t08:00:00\t00\r\n";

class HistoryTest : public ::testing::Test {
protected:
  // One download of `name` on `day`, as a run leaves it in its working folder, put in place.
  History::Placed download(const std::string& name, const std::string& day, const std::string& data, bool cleared) {
    const std::string work = day + "/.work/" + name + "/" + name + ".txt";
    dir.write(work, data);
    History history(dir.path());
    std::string error;
    EXPECT_TRUE(history.open(error)) << error;
    History::Placed placed;
    EXPECT_TRUE(history.commit(name, day, dir.path(work), cleared, placed, error)) << error;
    return placed;
  }

  TempFolder dir;
};

TEST_F(HistoryTest, NewFilesHoldEachRecordOnceWhetherTheTerminalIsClearedOrNot) {
  // Never cleared: each night's memory begins with the last one's.
  EXPECT_EQ(download("kept", "2026-03-01", a + b, false).file, "kept.txt");
  EXPECT_EQ(download("kept", "2026-03-02", a + b + c, false).newRecords, 1u);
  EXPECT_EQ(dir.read("2026-03-02/new/kept.txt"), c);
  // Cleared: the next download is new in full, also a record that looks like an earlier one.
  download("cleared", "2026-03-01", a + b, true);
  download("cleared", "2026-03-02", a, true);
  EXPECT_EQ(dir.read("2026-03-02/new/cleared.txt"), a);
  // A second download of a day gets the next free name, and only what is new.
  const History::Placed again = download("kept", "2026-03-02", a + b + c + a, false);
  EXPECT_EQ(again.file, "kept.2.txt");
  EXPECT_EQ(dir.read("2026-03-02/new/kept.2.txt"), a);
  EXPECT_EQ(dir.read("2026-03-02/kept.txt"), a + b + c);
}

TEST_F(HistoryTest, AJobThatDiedDuringACommitIsCompletedByTheNextOne) {
  download("hall", "2026-03-01", a, false);
  // The next night's commit got as far as its note: the file waits in its working folder.
  dir.write("2026-03-02/.work/hall/hall.txt", a + b);
  dir.write(".state/hall.pending", "day 2026-03-02\nfile hall.txt\nwork .work/hall/hall.txt\nmemory cleared\n");
  History history(dir.path());
  std::string error;
  ASSERT_TRUE(history.open(error)) << error;
  ASSERT_EQ(history.completed().size(), 1u);
  EXPECT_EQ(history.completed()[0].day, "2026-03-02");
  EXPECT_TRUE(history.completed()[0].cleared);
  EXPECT_EQ(dir.read("2026-03-02/hall.txt"), a + b);
  EXPECT_EQ(dir.read("2026-03-02/new/hall.txt"), b);
  EXPECT_FALSE(dir.exists(".state/hall.pending"));
  // The memory it recorded was the note's: cleared, so the next download is new in full.
  download("hall", "2026-03-03", c, false);
  EXPECT_EQ(dir.read("2026-03-03/new/hall.txt"), c);

  // Died after its new/ file: that file stays as it was written.
  dir.write("2026-03-04/hall.txt", a + c);
  dir.write("2026-03-04/new/hall.txt", a);
  dir.write(".state/hall.pending", "day 2026-03-04\nfile hall.txt\nwork .work/hall/hall.txt\nmemory kept\n");
  History next(dir.path());
  ASSERT_TRUE(next.open(error)) << error;
  ASSERT_EQ(next.completed().size(), 1u);
  EXPECT_EQ(dir.read("2026-03-04/new/hall.txt"), a);
  EXPECT_EQ(download("hall", "2026-03-05", a + c + b, false).newRecords, 1u);
}

TEST_F(HistoryTest, APendingNoteThatLeadsElsewhereIsSetAsideNotFollowed) {
  dir.write("victim/hall.txt", a);
  dir.write("2026-03-01/.work/hall/hall.txt", a);
  const char* const notes[] = {
      "day ../victim\nfile hall.txt\nwork .work/hall/hall.txt\nmemory kept\n",
      "day 2026-03-01\nfile ../../victim/hall.txt\nwork .work/hall/hall.txt\nmemory kept\n",
      "day 2026-03-01\nfile hall.txt\nwork ../../victim/hall.txt\nmemory kept\n",
      "day 2026-02-30\nfile hall.txt\nwork .work/hall/hall.txt\nmemory kept\n",
      "day 2026-03-01\nfile other.txt\nwork .work/hall/hall.txt\nmemory kept\n",
  };
  for (const char* note : notes) {
    dir.write(".state/hall.pending", note);
    History history(dir.path());
    std::string error;
    ASSERT_TRUE(history.open(error)) << error;
    EXPECT_TRUE(history.completed().empty()) << note;
    ASSERT_EQ(history.problems().size(), 1u) << note;
    EXPECT_NE(history.problems()[0].find("is damaged"), std::string::npos) << history.problems()[0];
    EXPECT_FALSE(dir.exists(".state/hall.pending"));
    EXPECT_TRUE(dir.exists(".state/hall.pending.damaged"));
    std::filesystem::remove(dir.path(".state/hall.pending.damaged"));
  }
  EXPECT_FALSE(dir.exists("victim/new"));
  EXPECT_FALSE(dir.exists("2026-03-01/hall.txt"));
  EXPECT_EQ(dir.read("2026-03-01/.work/hall/hall.txt"), a);
}

TEST_F(HistoryTest, ADamagedMemoryIsNoticedAndRebuiltFromTheLatestDownload) {
  const std::string whole = History::memoryRecord(false, a + b + c);
  bool cleared = true;
  std::string data;
  ASSERT_TRUE(History::readMemoryRecord(whole, cleared, data));
  EXPECT_FALSE(cleared);
  EXPECT_EQ(data, a + b + c);
  std::string lf = whole;
  for (size_t at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at)) lf.erase(at, 1);
  for (const std::string& damaged : {whole.substr(0, whole.size() / 2), std::string(), lf, a + b + c}) {
    EXPECT_FALSE(History::readMemoryRecord(damaged, cleared, data)) << damaged;
  }
  EXPECT_TRUE(History::readMemoryRecord(History::memoryRecord(true, a), cleared, data));
  EXPECT_TRUE(cleared);
  EXPECT_EQ(data, "");

  // A terminal that is never cleared, its memory cut in half, emptied, its line ends altered: the
  // next download still gives only what is new.
  const std::string memories[] = {whole.substr(0, whole.size() / 2), std::string(), lf};
  int night = 1;
  for (const std::string& memory : memories) {
    const std::string name = "t" + std::to_string(night);
    download(name, "2026-03-01", a + b, false);
    dir.write(".state/" + name + ".last", memory);
    const History::Placed placed = download(name, "2026-03-02", a + b + c, false);
    EXPECT_EQ(placed.knowledge, History::Knowledge::Rebuilt);
    EXPECT_EQ(dir.read("2026-03-02/new/" + name + ".txt"), c);
    ++night;
  }
  // Lost altogether (.state deleted): rebuilt the same way.
  std::filesystem::remove(dir.path(".state/t1.last"));
  EXPECT_EQ(download("t1", "2026-03-03", a + b + c + a, false).newRecords, 1u);
}

TEST_F(HistoryTest, ADamagedMemoryWithNothingToRebuildFromIsDeliveredInFullAndSaid) {
  dir.write(".state/lone.last", "garbage");
  const History::Placed placed = download("lone", "2026-03-01", a + b, false);
  EXPECT_EQ(placed.knowledge, History::Knowledge::Damaged);
  EXPECT_NE(placed.note.find("damaged"), std::string::npos);
  EXPECT_EQ(placed.newRecords, 2u);
  // A terminal that never had a memory is a first night, not damage.
  EXPECT_EQ(download("fresh", "2026-03-01", a, false).knowledge, History::Knowledge::FirstNight);
  EXPECT_EQ(download("fresh", "2026-03-02", a + b, false).knowledge, History::Knowledge::Known);
}

TEST_F(HistoryTest, NamesThatDifferOnlyInCaseAreOneTerminal) {
  EXPECT_EQ(ZqNightly::foldName("Office-2.B"), "office-2.b");
  download("office", "2026-03-01", a + b, false);
  // Renamed to Office: the same terminal, nothing delivered twice.
  EXPECT_EQ(download("Office", "2026-03-02", a + b + c, false).newRecords, 1u);
  EXPECT_EQ(dir.read("2026-03-02/new/Office.txt"), c);
  // A state file an earlier version named as written takes the folded name.
  std::filesystem::rename(dir.path(".state/office.last"), dir.path(".state/Hall.last"));
  History history(dir.path());
  std::string error;
  ASSERT_TRUE(history.open(error)) << error;
  EXPECT_TRUE(dir.exists(".state/hall.last"));
  EXPECT_EQ(download("HALL", "2026-03-03", a + b + c, false).newRecords, 0u);
}

}  // namespace
