#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Common/Console.h"

namespace {

std::string bytes(std::initializer_list<unsigned char> values) { return std::string(values.begin(), values.end()); }

std::string capturedStdout() {
  std::string out = testing::internal::GetCapturedStdout();
  std::string folded;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    folded += out[i];
  }
  return folded;
}

}  // namespace

TEST(Cp1251Test, CyrillicAlphabetMapsToItsCodePage) {
  EXPECT_EQ(Console::utf8ToCp1251("АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"),
            bytes({0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
                   0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF}));
  EXPECT_EQ(Console::utf8ToCp1251("абвгдежзийклмнопрстуфхцчшщъыьэюя"),
            bytes({0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
                   0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF}));
  EXPECT_EQ(Console::utf8ToCp1251("Ёё"), bytes({0xA8, 0xB8}));
  // "учёта" from the usage text's first line.
  EXPECT_EQ(Console::utf8ToCp1251("учёта"), bytes({0xF3, 0xF7, 0xB8, 0xF2, 0xE0}));
}

TEST(Cp1251Test, AsciiPassesUnchanged) {
  const std::string ascii = "Zq-ReadUtility.exe [-n0/1/2]\t\"%s\" %d.\r\n";
  EXPECT_EQ(Console::utf8ToCp1251(ascii), ascii);
  EXPECT_EQ(Console::utf8ToCp1251(""), "");
}

TEST(Cp1251Test, CharactersOutsideTheCodePageBecomeOneQuestionMarkEach) {
  EXPECT_EQ(Console::utf8ToCp1251("ß"), "?");                   // two bytes, not Cyrillic
  EXPECT_EQ(Console::utf8ToCp1251("a€b"), "a?b");               // three bytes
  EXPECT_EQ(Console::utf8ToCp1251("\xF0\x9F\x98\x80!"), "?!");  // four bytes
  EXPECT_EQ(Console::utf8ToCp1251("x\xD0"), "x?");              // cut off after the lead byte
}

TEST(ConsoleTest, MessagesReachStandardOutputInTheConsoleEncoding) {
  testing::internal::CaptureStdout();
  Console::print("Неверно указан COM порт %s.\n\n", "COM3");
  Console::print("Can't connect to the terminal %s.\n", "870");
  const std::string out = capturedStdout();
#ifdef _WIN32
  const std::string expected = bytes({0xCD, 0xE5, 0xE2, 0xE5, 0xF0, 0xED, 0xEE}) + " " +
                               bytes({0xF3, 0xEA, 0xE0, 0xE7, 0xE0, 0xED}) + " COM " + bytes({0xEF, 0xEE, 0xF0, 0xF2}) +
                               " COM3.\n\n";
#else
  const std::string expected = "Неверно указан COM порт COM3.\n\n";
#endif
  EXPECT_EQ(out, expected + "Can't connect to the terminal 870.\n");
}

TEST(ConsoleTest, WriteDoesNotInterpretPercentSigns) {
  testing::internal::CaptureStdout();
  Console::write("100% ё %s\n");
#ifdef _WIN32
  EXPECT_EQ(capturedStdout(), "100% " + bytes({0xB8}) + " %s\n");
#else
  EXPECT_EQ(capturedStdout(), "100% ё %s\n");
#endif
}

TEST(ConsoleTest, RussianLocaleOrAFallbackIsSet) { EXPECT_NE(Console::setLocale("Russian_Russia.1251"), nullptr); }

#ifndef _WIN32
// The POSIX build takes the user's locale and falls back to "C": a machine without a
// Russian locale (or with a broken LANG) still runs.
TEST(ConsoleTest, MissingLocaleFallsBackToC) {
  const char* saved = std::getenv("LC_ALL");
  const std::string savedValue = saved ? saved : "";
  ::setenv("LC_ALL", "xx_NOWHERE.bogus", 1);
  const char* locale = Console::setLocale("Russian_Russia.1251");
  ASSERT_NE(locale, nullptr);
  EXPECT_STREQ(locale, "C");
  if (saved) ::setenv("LC_ALL", savedValue.c_str(), 1);
  else ::unsetenv("LC_ALL");
  Console::setLocale("Russian_Russia.1251");
}

TEST(ConsoleTest, CodePagesNeedNoConsoleOnPosix) {
  EXPECT_TRUE(Console::setInputCodePage(1251));
  EXPECT_TRUE(Console::setOutputCodePage(1251));
  EXPECT_EQ(Console::toConsoleEncoding("Параметры:\n"), "Параметры:\n");
}
#endif
