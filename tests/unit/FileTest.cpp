#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Common/File.h"
#include "LogCapture.h"

using Common::File;

TEST(FileTest, ClosingNothingSucceeds) {
  File file;
  EXPECT_EQ(file.handle, nullptr);
  EXPECT_TRUE(file.close());
  EXPECT_TRUE(file.close());
  EXPECT_FALSE(file.good());
  EXPECT_FALSE(file.sync());  // nothing open is nothing saved
}

TEST(FileTest, CloseForgetsTheStreamAndASecondCloseIsSilent) {
  ZqTest::TempDir dir;
  File file;
  ASSERT_TRUE(file.openExclusive(dir.file("a.txt").c_str(), "wb"));
  ASSERT_NE(file.handle, nullptr);
  EXPECT_TRUE(file.good());
  std::fputs("abc", file.handle);
  EXPECT_TRUE(file.close());
  EXPECT_EQ(file.handle, nullptr);
  EXPECT_TRUE(file.close());
  EXPECT_EQ(ZqTest::readFile(dir.file("a.txt")), "abc");
}

TEST(FileTest, DestructionClosesAndFlushes) {
  ZqTest::TempDir dir;
  const std::string path = dir.file("b.txt");
  {
    File file;
    ASSERT_TRUE(file.openExclusive(path.c_str(), "wb"));
    std::fputs("kept", file.handle);
    EXPECT_EQ(ZqTest::readFile(path), "");  // still in the stream's buffer
  }
  EXPECT_EQ(ZqTest::readFile(path), "kept");
}

TEST(FileTest, SyncPutsEverythingWrittenOnDiskBeforeTheClose) {
  ZqTest::TempDir dir;
  const std::string path = dir.file("c.txt");
  File file;
  ASSERT_TRUE(file.openExclusive(path.c_str(), "wb"));
  std::fputs("line 1\r\n", file.handle);
  ASSERT_TRUE(file.sync());
  EXPECT_EQ(ZqTest::readFile(path), "line 1\r\n");
  EXPECT_TRUE(file.good());
  EXPECT_TRUE(file.close());
}

TEST(FileTest, OpenFailureLeavesNothingOpen) {
  ZqTest::TempDir dir;
  File file;
  EXPECT_FALSE(file.openExclusive((dir.file("missing") + "/d.txt").c_str(), "w"));
  EXPECT_EQ(file.handle, nullptr);
  EXPECT_FALSE(file.good());
}

TEST(TruncateTest, CreatesOrEmptiesTheFile) {
  ZqTest::TempDir dir;
  const std::string created = dir.file("new.txt");
  EXPECT_TRUE(Common::truncate(created));
  ASSERT_TRUE(ZqTest::fileExists(created));
  EXPECT_EQ(ZqTest::readFile(created), "");

  const std::string existing = dir.file("old.txt");
  std::FILE* old = std::fopen(existing.c_str(), "wb");
  ASSERT_NE(old, nullptr);
  std::fputs("partly written\r\n", old);
  std::fclose(old);
  EXPECT_TRUE(Common::truncate(existing));
  EXPECT_EQ(ZqTest::readFile(existing), "");
}

TEST(TruncateTest, FailsWhereNoFileCanBeMade) {
  ZqTest::TempDir dir;
  EXPECT_FALSE(Common::truncate(dir.file("missing") + "/out.txt"));
  EXPECT_FALSE(Common::truncate(dir.path()));  // a directory is not a data file
}

TEST(FileTest, OpenStreamDeniesOtherWritersButNotReaders) {
  // The second writer is refused before it can empty what the first one wrote.
  ZqTest::TempDir dir;
  const std::string path = dir.file("shared.txt");
  File owner;
  ASSERT_TRUE(owner.openExclusive(path.c_str(), "wb"));
  ASSERT_GE(std::fputs("kept\r\n", owner.handle), 0);
  ASSERT_EQ(std::fflush(owner.handle), 0);
  File second;
  EXPECT_FALSE(second.openExclusive(path.c_str(), "wb"));
  EXPECT_EQ(second.handle, nullptr);
  EXPECT_EQ(ZqTest::readFile(path), "kept\r\n");
  std::FILE* reader = std::fopen(path.c_str(), "rb");
  EXPECT_NE(reader, nullptr);
  if (reader != nullptr) std::fclose(reader);
  EXPECT_TRUE(owner.close());
  EXPECT_TRUE(second.openExclusive(path.c_str(), "wb"));
  EXPECT_TRUE(second.close());
  EXPECT_EQ(ZqTest::readFile(path), "");
}
