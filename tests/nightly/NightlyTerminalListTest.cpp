// The terminals file as the job reads it: a line per terminal, checked, and one terminal never
// listed twice, by name whatever its case or by the address's value.
#include <gtest/gtest.h>

#include <string>

#include "Nightly/TerminalList.h"

using ZqNightly::readTerminals;
using ZqNightly::Terminal;

namespace {

TEST(TerminalListTest, LinesAreReadAsAnEditorOnEitherPlatformSavesThem) {
  const auto terminals = readTerminals(
      "\xEF\xBB\xBF# comment\r\nhall 870 127.0.0.1 -u -c -debug\r\n\r\n"
      "door QVK 127.0.0.2:5005 -n2  # a note\r\ncanteen 2210 07\r\n");
  ASSERT_EQ(terminals.size(), 3u);
  EXPECT_EQ(terminals[0].line, 2);
  EXPECT_EQ(terminals[0].switches, (std::vector<std::string>{"-u", "-c"}));
  EXPECT_EQ(terminals[0].key, "tcp 127.0.0.1:1001");
  EXPECT_EQ(terminals[1].key, "tcp 127.0.0.2:5005");
  EXPECT_EQ(terminals[2].key, "COM7");
  for (const Terminal& terminal : terminals) EXPECT_TRUE(terminal.valid()) << terminal.invalid;
}

TEST(TerminalListTest, OneTerminalIsNeverListedTwice) {
  const auto terminals = readTerminals(
      "hall 870 127.0.0.1:5005\n"
      "HALL 735 127.0.0.9\n"              // the same name in another case
      "door QVK 127.000.000.001:05005\n"  // the same terminal by value
      "bad 870 300.1.1.1\n"
      "again 870 127.0.0.3\n"
      "serial 2210 7\n"
      "serial2 2210 007\n");
  ASSERT_EQ(terminals.size(), 7u);
  EXPECT_EQ(terminals[1].invalid, "name HALL is used by line 1");
  EXPECT_EQ(terminals[2].invalid, "address 127.000.000.001:05005 reaches the terminal of line 1 (hall)");
  EXPECT_FALSE(terminals[3].valid());
  EXPECT_TRUE(terminals[4].valid());
  EXPECT_EQ(terminals[6].invalid, "address 007 reaches the terminal of line 6 (serial)");
}

TEST(TerminalListTest, ManyLinesAreCheckedAgainstEachOther) {
  // Twenty thousand lines, every one a distinct terminal but the last, which repeats the first.
  std::string text;
  for (int i = 0; i < 20000; ++i) {
    text += "t" + std::to_string(i) + " 870 127." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".1\n";
  }
  text += "T0 870 127.200.0.1\n";
  const auto terminals = readTerminals(text);
  ASSERT_EQ(terminals.size(), 20001u);
  size_t invalid = 0;
  for (const Terminal& terminal : terminals) invalid += terminal.valid() ? 0 : 1;
  EXPECT_EQ(invalid, 1u);
  EXPECT_EQ(terminals.back().invalid, "name T0 is used by line 1");
}

}  // namespace
