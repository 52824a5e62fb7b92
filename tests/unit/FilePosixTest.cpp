// A data file that cannot be written completely must show as a failure, never as a saved download.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "Common/File.h"
#include "LogCapture.h"
#include "Zq/DownloadFile.h"
#include "Zq/TerminalRecord.h"

namespace {

Zq::TerminalRecord sampleRecord(int i) {
  Zq::TerminalRecord r;
  r.cardNumber = "0A1B2C3D4E";
  r.eventCode = 1 + i % 4;
  r.date = "05.01.2026";
  r.time = "07:58:12";
  r.extraCode = i % 100;
  return r;
}

}  // namespace

// /dev/full accepts the open and fails every write with ENOSPC.
TEST(FullDeviceTest, BufferedBytesThatCannotBeWrittenFailTheSync) {
  Common::File file;
  ASSERT_TRUE(Zq::openDataFile(file, "/dev/full"));
  Zq::writeRecord(file.handle, sampleRecord(0), Zq::CardAsIs);
  EXPECT_TRUE(file.good());  // only in the stream's buffer so far
  EXPECT_FALSE(file.sync());
  EXPECT_FALSE(file.good());
  EXPECT_FALSE(Zq::finishDataFile(file));
  EXPECT_EQ(file.handle, nullptr);
}

TEST(FullDeviceTest, FinishReportsTheLostRecords) {
  Common::File file;
  ASSERT_TRUE(Zq::openDataFile(file, "/dev/full"));
  Zq::writeRecord(file.handle, sampleRecord(1), Zq::CardHex8);
  EXPECT_FALSE(Zq::finishDataFile(file));
}

TEST(FullDeviceTest, WritesPastTheBufferSetTheErrorAtOnce) {
  Common::File file;
  ASSERT_TRUE(Zq::openDataFile(file, "/dev/full"));
  for (int i = 0; i < 10000; ++i) Zq::writeRecord(file.handle, sampleRecord(i), Zq::CardAsIs);
  EXPECT_FALSE(file.good());
  EXPECT_FALSE(Zq::finishDataFile(file));
}

TEST(FullDeviceTest, CloseReportsAFailedFinalFlush) {
  Common::File file;
  ASSERT_TRUE(file.openExclusive("/dev/full", "w"));
  std::fputs("lost\n", file.handle);
  EXPECT_FALSE(file.close());
  EXPECT_EQ(file.handle, nullptr);  // fclose released the stream even though it failed
  EXPECT_TRUE(file.close());
}

// A real file system that runs out of room: a 64 KiB tmpfs. Mounting needs root (the CI runs
// as root); elsewhere the /dev/full tests above cover the same error path.
class SmallDiskTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    mounted = true;
  }
  void TearDown() override {
    if (mounted) ::umount(dir.path().c_str());
  }

  ZqTest::TempDir dir;
  bool mounted = false;
};

TEST_F(SmallDiskTest, DownloadThatFitsIsSaved) {
  const std::string path = dir.file("out.txt");
  Common::File file;
  ASSERT_TRUE(Zq::openDataFile(file, path));
  for (int i = 0; i < 100; ++i) Zq::writeRecord(file.handle, sampleRecord(i), Zq::CardAsIs);
  EXPECT_TRUE(Zq::finishDataFile(file));
  EXPECT_EQ(ZqTest::readFile(path).size(), 100u * std::strlen("0A1B2C3D4E\t1\t05.01.2026\t07:58:12\t00\r\n"));
}

TEST_F(SmallDiskTest, DownloadLargerThanTheDiskFails) {
  const std::string path = dir.file("out.txt");
  Zq::DownloadFile download(path);
  ASSERT_TRUE(download.open());
  for (int i = 0; i < 5000; ++i) Zq::writeRecord(download.stream(), sampleRecord(i), Zq::CardAsIs);  // about 190 KB
  EXPECT_FALSE(download.save());
  EXPECT_EQ(ZqTest::readFile(path), "");  // the part that fitted is no download
}

TEST_F(SmallDiskTest, FullDiskAtTheLastFlushFails) {
  // Fill the disk to within a few bytes, then leave one record in the stream's buffer.
  const std::string filler = dir.file("filler");
  {
    std::FILE* f = std::fopen(filler.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string block(4096, 'x');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {}
    std::fclose(f);
  }
  const std::string path = dir.file("out.txt");
  Common::File file;
  ASSERT_TRUE(Zq::openDataFile(file, path));
  Zq::writeRecord(file.handle, sampleRecord(0), Zq::CardAsIs);
  EXPECT_TRUE(file.good());
  EXPECT_FALSE(Zq::finishDataFile(file));
}

// Only regular files are held against other writers: a device is everyone's, and two runs (or the
// log and the data file) writing to /dev/null must both get it.
TEST(SharedDeviceTest, DevicesAreOpenedWithoutTheWriterLock) {
  Common::File first;
  Common::File second;
  ASSERT_TRUE(first.openExclusive("/dev/null", "w"));
  EXPECT_TRUE(second.openExclusive("/dev/null", "wb"));
  EXPECT_TRUE(Zq::finishDataFile(second));
  EXPECT_TRUE(first.close());
}
