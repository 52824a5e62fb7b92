// The report's JSON: what any reader parses back, whatever text a reason or a path holds.
#include <gtest/gtest.h>

#include <string>

#include "Nightly/Json.h"

using ZqNightly::Json;

namespace {

TEST(JsonTest, TextsOfEveryKindArriveAsTheyWere) {
  const std::string texts[] = {"plain",
                               "quote \" and backslash \\",
                               "tab\tline\r\nend",
                               "control \x01\x1f\x7f",
                               "Grüße, Привет, 日本",
                               "<script>&amp;</script>"};
  Json value = Json::object();
  for (size_t i = 0; i < sizeof texts / sizeof *texts; ++i) value.set("k" + std::to_string(i), texts[i]);
  Json back;
  std::string error;
  ASSERT_TRUE(Json::parse(value.dump(), back, error)) << error;
  for (size_t i = 0; i < sizeof texts / sizeof *texts; ++i)
    EXPECT_EQ(back["k" + std::to_string(i)].asString(), texts[i]);
  // Bytes that are not UTF-8 (a log in code page 1251) become U+FFFD, so the file stays JSON.
  EXPECT_EQ(Json::quote("\xC7\xE0"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
  EXPECT_EQ(Json::quote("\x01"), "\"\\u0001\"");
}

TEST(JsonTest, ValuesAndLayout) {
  Json value = Json::object();
  value.set("n", 3).set("none", Json()).set("yes", true).set("list", Json::array().push("-u").push("-c"));
  value.set("seconds", 1.25).set("empty", Json::array());
  EXPECT_EQ(value.dump(),
            "{\n  \"n\": 3,\n  \"none\": null,\n  \"yes\": true,\n  \"list\": [\"-u\", \"-c\"],\n"
            "  \"seconds\": 1.2,\n  \"empty\": []\n}\n");
  Json back;
  std::string error;
  ASSERT_TRUE(Json::parse("{\"a\": [1, {\"b\": \"\\u00e9\\ud83d\\ude00\"}], \"c\": -2.5e1}", back, error)) << error;
  EXPECT_EQ(back["a"].items()[1]["b"].asString(), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(back["c"].asNumber(), -25);
  EXPECT_TRUE(back["missing"].isNull());
  for (const char* broken : {"", "{", "{\"a\": }", "[1,]", "{\"a\": 1} x", "\"\x01\""}) {
    EXPECT_FALSE(Json::parse(broken, back, error)) << broken;
  }
}

}  // namespace
