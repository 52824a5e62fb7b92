#include <gtest/gtest.h>

#include "Zq/Command.h"

using Zq::Command;

TEST(CommandTest, HexDumpRendersPairsSeparatedByOneBlank) {
  Command command;
  EXPECT_EQ(hexDump(command), "");
  for (uint8_t byte : {0x02, 0x31, 0x31, 0x52, 0x4E, 0x0D}) command.append(byte);
  EXPECT_EQ(hexDump(command), "02 31 31 52 4E 0D");

  Command single;
  single.append(0x00);
  EXPECT_EQ(hexDump(single), "00");
  single.clear();
  single.append(0xFF);
  single.append(0x80);
  EXPECT_EQ(hexDump(single), "FF 80");
}

TEST(CommandTest, AppendAfterClearStartsAgain) {
  Command command;
  command.appendText("GETLOGDATA");
  ASSERT_EQ(command.size(), 10u);
  command.clear();
  command.append(0x9C);
  EXPECT_EQ(command.size(), 1u);
  EXPECT_EQ(hexDump(command), "9C");
}

TEST(CommandTest, ToDecimalStringCoversTheWholeRange) {
  EXPECT_EQ(Zq::toDecimalString(0), "0");
  EXPECT_EQ(Zq::toDecimalString(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(Zq::toDecimalString(2147483647), "2147483647");
}

TEST(CommandTest, SplitKeepsEmptyTokens) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Zq::split("a,,b,", ","), (V{"a", "", "b", ""}));
  EXPECT_EQ(Zq::split("", ","), (V{""}));
  EXPECT_EQ(Zq::split("plain", ","), (V{"plain"}));
  EXPECT_EQ(Zq::split("1\t05-01-2026\t07:58:12", "\t"), (V{"1", "05-01-2026", "07:58:12"}));
  EXPECT_EQ(Zq::split("05-01-2026", "-"), (V{"05", "01", "2026"}));
  EXPECT_EQ(Zq::split("a,b/c", ",/"), (V{"a", "b", "c"}));
  EXPECT_TRUE(Zq::split("a,b", nullptr).empty());
}

TEST(CommandTest, NumbersAreReadLikeTheRuntime) {
  EXPECT_EQ(Zq::readDecimal("  -12x"), -12);
  EXPECT_EQ(Zq::readDecimal("3x"), 3);
  EXPECT_EQ(Zq::readDecimal("abc"), 0);
  EXPECT_EQ(Zq::readDecimal("99999999999"), 2147483647);  // saturates instead of overflowing
  EXPECT_EQ(Zq::readHex("0x12"), 0x12);
  EXPECT_EQ(Zq::readHex("ZZ"), 0);
}
