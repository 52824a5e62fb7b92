#include <gtest/gtest.h>

#include <string>

#include "Common/File.h"
#include "LogCapture.h"
#include "Zq/DownloadFile.h"
#include "Zq/TerminalRecord.h"

using Zq::TerminalRecord;

namespace {

TerminalRecord record(const std::string& card, int32_t event, const std::string& date, const std::string& time,
                      int32_t extra) {
  TerminalRecord r;
  r.cardNumber = card;
  r.eventCode = event;
  r.date = date;
  r.time = time;
  r.extraCode = extra;
  return r;
}

// The bytes writeRecord puts into a data file opened the way a download opens it.
class DataFileTest : public ::testing::Test {
protected:
  std::string written(const TerminalRecord& r, int32_t cardFormat) {
    const std::string path = dir.file("out-" + std::to_string(++count) + ".txt");
    Common::File file;
    EXPECT_TRUE(Zq::openDataFile(file, path));
    if (file.handle == nullptr) return "<not opened>";
    Zq::writeRecord(file.handle, r, static_cast<Zq::CardFormat>(cardFormat));
    EXPECT_TRUE(Zq::finishDataFile(file));
    return ZqTest::readFile(path);
  }

  ZqTest::TempDir dir;
  int count = 0;
};

}  // namespace

TEST(CardNumberTest, Hex8KeepsTheLastEightOrPadsWithZeros) {
  EXPECT_EQ(Zq::cardToHex8("A1B2C3"), "00A1B2C3");
  EXPECT_EQ(Zq::cardToHex8("0012345678"), "12345678");
  EXPECT_EQ(Zq::cardToHex8("0A1B2C3D4E"), "1B2C3D4E");
  EXPECT_EQ(Zq::cardToHex8("12345678"), "12345678");
  EXPECT_EQ(Zq::cardToHex8(""), "00000000");
  EXPECT_EQ(Zq::cardToHex8("7"), "00000007");
}

TEST(CardNumberTest, DecimalIsFourBytesRunTogether) {
  EXPECT_EQ(Zq::cardToDecimal("A1B2C3"), "0161178195");
  EXPECT_EQ(Zq::cardToDecimal("0012345678"), "185286120");
  EXPECT_EQ(Zq::cardToDecimal("0A1B2C3D4E"), "27446178");
  EXPECT_EQ(Zq::cardToDecimal(""), "0000");
  EXPECT_EQ(Zq::cardToDecimal("FFFFFFFF"), "255255255255");
  EXPECT_EQ(Zq::cardToDecimal("ffffffff"), "255255255255");
  // A pair that is not hexadecimal reads as 0; one that starts hexadecimal reads up to the rest.
  EXPECT_EQ(Zq::cardToDecimal("ZZ010203"), "0123");
  EXPECT_EQ(Zq::cardToDecimal("1Z010203"), "1123");
}

TEST_F(DataFileTest, WorkedExamplesInEveryCardMode) {
  const TerminalRecord r = record("A1B2C3", 2, "05.01.2026", "07:58:12", 0);
  EXPECT_EQ(written(r, Zq::CardAsIs), "A1B2C3\t2\t05.01.2026\t07:58:12\t00\r\n");
  EXPECT_EQ(written(r, Zq::CardDecimal), "0161178195\t2\t05.01.2026\t07:58:12\t00\r\n");
  EXPECT_EQ(written(r, Zq::CardHex8), "00A1B2C3\t2\t05.01.2026\t07:58:12\t00\r\n");

  const TerminalRecord longCard = record("0A1B2C3D4E", 4, "31.12.2025", "23:59:59", 0);
  EXPECT_EQ(written(longCard, Zq::CardAsIs), "0A1B2C3D4E\t4\t31.12.2025\t23:59:59\t00\r\n");
  EXPECT_EQ(written(longCard, Zq::CardDecimal), "27446178\t4\t31.12.2025\t23:59:59\t00\r\n");
  EXPECT_EQ(written(longCard, Zq::CardHex8), "1B2C3D4E\t4\t31.12.2025\t23:59:59\t00\r\n");

  const TerminalRecord twelve = record("0012345678", 1, "01.02.2026", "08:00:00", 0);
  EXPECT_EQ(written(twelve, Zq::CardDecimal), "185286120\t1\t01.02.2026\t08:00:00\t00\r\n");
  EXPECT_EQ(written(twelve, Zq::CardHex8), "12345678\t1\t01.02.2026\t08:00:00\t00\r\n");
}

TEST_F(DataFileTest, EmptyCardInEveryMode) {
  const TerminalRecord r = record("", 3, "05.01.2026", "12:00:00", 0);
  EXPECT_EQ(written(r, Zq::CardAsIs), "\t3\t05.01.2026\t12:00:00\t00\r\n");
  EXPECT_EQ(written(r, Zq::CardDecimal), "0000\t3\t05.01.2026\t12:00:00\t00\r\n");
  EXPECT_EQ(written(r, Zq::CardHex8), "00000000\t3\t05.01.2026\t12:00:00\t00\r\n");
}

TEST_F(DataFileTest, ExtraCodeHasAtLeastTwoDigitsAndItsSign) {
  EXPECT_EQ(written(record("1", 1, "d", "t", 5), Zq::CardAsIs), "1\t1\td\tt\t05\r\n");
  EXPECT_EQ(written(record("1", 1, "d", "t", 7), Zq::CardAsIs), "1\t1\td\tt\t07\r\n");
  EXPECT_EQ(written(record("1", 1, "d", "t", 123), Zq::CardAsIs), "1\t1\td\tt\t123\r\n");
  EXPECT_EQ(written(record("1", 1, "d", "t", -5), Zq::CardAsIs), "1\t1\td\tt\t-5\r\n");
}

TEST_F(DataFileTest, UnknownCardFormatWritesTheCardUnchanged) {
  const TerminalRecord r = record("A1B2C3", 1, "05.01.2026", "07:58:12", 0);
  EXPECT_EQ(written(r, 7), "A1B2C3\t1\t05.01.2026\t07:58:12\t00\r\n");
  EXPECT_EQ(written(r, -1), "A1B2C3\t1\t05.01.2026\t07:58:12\t00\r\n");
}

TEST_F(DataFileTest, DefaultRecord) { EXPECT_EQ(written(TerminalRecord(), Zq::CardAsIs), "\t1\t\t\t00\r\n"); }

TEST_F(DataFileTest, TextFieldsStopAtTheirFirstZeroCharacter) {
  const TerminalRecord r = record(std::string("AB\0CD", 5), 1, std::string("05\0.01", 6), "07:58:12", 0);
  EXPECT_EQ(written(r, Zq::CardAsIs), "AB\t1\t05\t07:58:12\t00\r\n");
  // The card ends there before it is padded or converted: nothing after the zero is read.
  EXPECT_EQ(written(r, Zq::CardHex8), "000000AB\t1\t05\t07:58:12\t00\r\n");
  EXPECT_EQ(written(r, Zq::CardDecimal), "000171\t1\t05\t07:58:12\t00\r\n");
  const TerminalRecord padded = record(std::string("12\0\0\0\0\0\0", 8), 1, "d", "t", 0);
  EXPECT_EQ(written(padded, Zq::CardAsIs), "12\t1\td\tt\t00\r\n");
  EXPECT_EQ(written(padded, Zq::CardHex8), "00000012\t1\td\tt\t00\r\n");
  EXPECT_EQ(written(padded, Zq::CardDecimal), "00018\t1\td\tt\t00\r\n");
}

// Each byte that a field may not keep, and its neighbours that it may, at every place of fields of
// every length up to 20 in each of the three text fields: the line and the result follow the rule.
TEST_F(DataFileTest, TabCrAndLfAnywhereInAFieldBecomeSpacesAndAreReported) {
  const std::string path = dir.file("cleaned.txt");
  Common::File file;
  ASSERT_TRUE(Zq::openDataFile(file, path));
  const char bytes[] = {'\t', '\n', '\r', '\0', '\x01', '\x08', '\x0b', '\x0c', '\x0e', ' ', '\x89', '\x8d'};
  std::string expected;
  int reported = 0;
  for (size_t length = 1; length <= 20; ++length) {
    for (size_t at = 0; at < length; ++at) {
      for (const char byte : bytes) {
        std::string field;
        for (size_t i = 0; i < length; ++i) field += static_cast<char>('A' + i);
        field[at] = byte;
        // The rule written out: the text ends at its first zero; TAB, CR and LF become spaces.
        std::string clean = field.substr(0, field.find('\0'));
        const bool altered = clean.find_first_of("\t\r\n") != std::string::npos;
        for (char& c : clean) {
          if (c == '\t' || c == '\r' || c == '\n') c = ' ';
        }
        for (int which = 0; which < 3; ++which) {
          const TerminalRecord r =
              record(which == 0 ? field : "C", 1, which == 1 ? field : "D", which == 2 ? field : "T", 0);
          EXPECT_EQ(Zq::writeRecord(file.handle, r, Zq::CardAsIs), altered)
              << "length " << length << ", byte " << static_cast<int>(byte) << " at " << at << ", field " << which;
          expected += (which == 0 ? clean : "C") + "\t1\t" + (which == 1 ? clean : "D") + "\t" +
                      (which == 2 ? clean : "T") + "\t00\r\n";
          reported += altered ? 1 : 0;
        }
      }
    }
  }
  ASSERT_TRUE(Zq::finishDataFile(file));
  EXPECT_EQ(ZqTest::readFile(path), expected);
  // TAB, CR and LF at each of the 210 places, in each of the three fields.
  EXPECT_EQ(reported, 3 * 210 * 3);
}

// A download ends saved (complete, possibly of no records) or with an empty file, whatever
// was written before it ended.
TEST_F(DataFileTest, DownloadThatIsNotSavedLeavesAnEmptyFile) {
  const std::string path = dir.file("download.txt");
  const std::string temporary = dir.file(".download.txt.zq-tmp");
  {
    Zq::DownloadFile download(path);
    ASSERT_TRUE(download.open());
    Zq::writeRecord(download.stream(), record("A1", 1, "d", "t", 0), Zq::CardAsIs);
    ASSERT_TRUE(download.flush());
    // Until it is saved, the lines live under a name of their own: a run killed now leaves no
    // partial file under the data file's name.
    EXPECT_EQ(ZqTest::readFile(temporary), "A1\t1\td\tt\t00\r\n");
    EXPECT_FALSE(ZqTest::fileExists(path));
  }
  EXPECT_TRUE(ZqTest::fileExists(path));
  EXPECT_FALSE(ZqTest::fileExists(temporary));
  EXPECT_EQ(ZqTest::readFile(path), "");

  {
    Zq::DownloadFile download(path);
    ASSERT_TRUE(download.open());
    Zq::writeRecord(download.stream(), record("B2", 1, "d", "t", 0), Zq::CardAsIs);
    EXPECT_TRUE(download.save());
    EXPECT_FALSE(download.save());  // once only: a second save is nothing saved
  }
  EXPECT_EQ(ZqTest::readFile(path), "B2\t1\td\tt\t00\r\n");

  {
    Zq::DownloadFile empty(path);
    ASSERT_TRUE(empty.open());
    EXPECT_TRUE(empty.save());
  }
  EXPECT_TRUE(ZqTest::fileExists(path));
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST_F(DataFileTest, DownloadThatCannotBeOpenedLeavesTheOldFile) {
  const std::string path = dir.file("missing") + "/out.txt";
  Zq::DownloadFile download(path);
  EXPECT_FALSE(download.open());
  EXPECT_FALSE(download.save());
  EXPECT_FALSE(ZqTest::fileExists(path));
}

TEST_F(DataFileTest, LinesEndInCarriageReturnLineFeedOnEveryPlatform) {
  const std::string path = dir.file("many.txt");
  Common::File file;
  ASSERT_TRUE(Zq::openDataFile(file, path));
  for (int i = 0; i < 3; ++i)
    Zq::writeRecord(file.handle, record("C" + std::to_string(i), 1, "d", "t", i), Zq::CardAsIs);
  ASSERT_TRUE(Zq::finishDataFile(file));
  EXPECT_EQ(file.handle, nullptr);
  EXPECT_EQ(ZqTest::readFile(path), "C0\t1\td\tt\t00\r\nC1\t1\td\tt\t01\r\nC2\t1\td\tt\t02\r\n");
}

TEST_F(DataFileTest, OpeningEmptiesAnExistingFile) {
  const std::string path = dir.file("old.txt");
  {
    std::FILE* old = std::fopen(path.c_str(), "wb");
    ASSERT_NE(old, nullptr);
    std::fputs("an earlier download\r\n", old);
    std::fclose(old);
  }
  Common::File file;
  ASSERT_TRUE(Zq::openDataFile(file, path));
  ASSERT_TRUE(Zq::finishDataFile(file));
  EXPECT_EQ(ZqTest::readFile(path), "");
}

TEST_F(DataFileTest, OpeningFailsInAMissingDirectory) {
  Common::File file;
  EXPECT_FALSE(Zq::openDataFile(file, dir.file("missing") + "/out.txt"));
  EXPECT_EQ(file.handle, nullptr);
  // Nothing open is nothing written: finishing it cannot count as a saved download.
  EXPECT_FALSE(Zq::finishDataFile(file));
}

TEST_F(DataFileTest, LargeDownloadArrivesWhole) {
  // More than the stream's buffer, so the runtime writes in several pieces.
  const std::string path = dir.file("large.txt");
  Common::File file;
  ASSERT_TRUE(Zq::openDataFile(file, path));
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const TerminalRecord r = record("A1B2C3", 1 + i % 4, "05.01.2026", "07:58:12", i % 100);
    Zq::writeRecord(file.handle, r, Zq::CardHex8);
    char line[64];
    std::snprintf(line, sizeof line, "00A1B2C3\t%d\t05.01.2026\t07:58:12\t%02d\r\n", 1 + i % 4, i % 100);
    expected += line;
  }
  ASSERT_TRUE(Zq::finishDataFile(file));
  EXPECT_EQ(ZqTest::readFile(path), expected);
}
