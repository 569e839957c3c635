#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "util/platform.h"

namespace zelvik::platform {
namespace {

namespace fs = std::filesystem;

class OwnedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zelvik-owned-" + std::to_string(CurrentProcessId()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  static std::string Utf8(const fs::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
  }
  std::string Path(const char* name) const { return Utf8(dir_ / name); }
  // Read as the program reads (on Windows sharing delete, so a held file opens too).
  static std::string Read(const std::string& path) {
    FileIdentity identity;
    const int fd = OpenRegularForRead(path, &identity);
    if (fd < 0) return "(not opened)";
    char buffer[64];
    const std::int64_t n = ReadFd(fd, buffer, sizeof(buffer));
    CloseFd(fd);
    return std::string(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
  }
  static void Write(OwnedFile& file, const std::string& text) {
    SysError error;
    const int fd = file.OpenWriteFd(&error);
    ASSERT_GE(fd, 0) << error.text;
    ASSERT_EQ(WriteFd(fd, text.data(), text.size()), static_cast<std::int64_t>(text.size()));
    ASSERT_TRUE(CloseFd(fd));
  }

  fs::path dir_;
};

// A live run's file is told from a leftover by its lock alone: a second owner (another open of
// the file, here in the same process) finds it busy until the first lets go, and closing the
// write descriptor does not let go.
TEST_F(OwnedFileTest, CreateIsExclusiveAndTheLockTellsALiveFileFromALeftover) {
  const std::string tmp = Path("a.tmp");
  OwnedFile owner;
  SysError error;
  ASSERT_TRUE(owner.Create(tmp, &error)) << error.text;
  Write(owner, "row\r\n");

  OwnedFile second;
  EXPECT_FALSE(second.Create(tmp, &error));
  EXPECT_EQ(error.errnoValue, EEXIST);
  EXPECT_FALSE(error.text.empty());
  EXPECT_EQ(second.Take(tmp, &error), OwnedFile::TakeResult::kBusy);

  std::int64_t size = 0;
  ASSERT_TRUE(owner.Size(&size, &error));
  EXPECT_EQ(size, 5);
  EXPECT_EQ(Read(tmp), "row\r\n");  // readers are not blocked

  owner.Release();
  EXPECT_EQ(second.Take(tmp, &error), OwnedFile::TakeResult::kTaken);
  EXPECT_EQ(second.Path(), tmp);
  EXPECT_EQ(owner.Take(tmp, &error), OwnedFile::TakeResult::kBusy);
  ASSERT_TRUE(second.Remove(&error)) << error.text;
  second.Release();
  EXPECT_FALSE(fs::exists(dir_ / "a.tmp"));
  EXPECT_EQ(owner.Take(tmp, &error), OwnedFile::TakeResult::kGone);

  FolderLock lock;
  FolderLock other;
  ASSERT_TRUE(lock.TryLock(Path("zelvik.lock"), &error)) << error.text;
  error.text = "unset";
  EXPECT_FALSE(other.TryLock(Path("zelvik.lock"), &error));
  EXPECT_TRUE(error.text.empty());
  lock.Unlock();
  EXPECT_TRUE(other.TryLock(Path("zelvik.lock"), &error));
  EXPECT_TRUE(fs::exists(dir_ / "zelvik.lock"));
}

// The synced file replaces the final one in one step; a reader holding the final file on
// Windows makes the replace fail after its retries with the system's own words, and both
// files stay as they were.
TEST_F(OwnedFileTest, RenameReplacesTheFinalFileOrFailsWithTheSystemsTextWhileAReaderHoldsIt) {
  const std::string final = Path("a.dat");
  { std::ofstream(dir_ / "a.dat", std::ios::binary) << "old\r\n"; }
  OwnedFile file;
  SysError error;
  ASSERT_TRUE(file.Create(Path("a.tmp"), &error)) << error.text;
  Write(file, "new\r\n");
  ASSERT_TRUE(file.SyncData(&error)) << error.text;

  std::FILE* reader = OpenFile(final, "rb");
  ASSERT_NE(reader, nullptr);
  const auto start = std::chrono::steady_clock::now();
  const bool renamed = file.RenameTo(final, &error);
  const auto waited = std::chrono::steady_clock::now() - start;
  std::fclose(reader);
#ifdef _WIN32
  ASSERT_FALSE(renamed);
  EXPECT_GE(waited, std::chrono::milliseconds(1500));
  EXPECT_TRUE(error.systemCode == 5 || error.systemCode == 32) << error.systemCode;  // denied, shared
  EXPECT_FALSE(error.text.empty());
  EXPECT_NE(error.text, ErrorText(EACCES));
  EXPECT_EQ(Read(final), "old\r\n");
  EXPECT_EQ(file.Path(), Path("a.tmp"));
  ASSERT_TRUE(file.RenameTo(final, &error)) << error.text;
#else
  (void)waited;
  ASSERT_TRUE(renamed) << error.text;  // a POSIX reader keeps the old file, not the name
#endif
  EXPECT_EQ(file.Path(), final);
  EXPECT_EQ(Read(final), "new\r\n");
  EXPECT_FALSE(fs::exists(dir_ / "a.tmp"));
  EXPECT_TRUE(SyncDir(Utf8(dir_), &error)) << error.text;

  // A publish that goes back renames the same file again, under its new name.
  ASSERT_TRUE(file.RenameTo(Path("a.tmp"), &error)) << error.text;
  ASSERT_TRUE(file.Remove(&error)) << error.text;
  file.Release();
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
}  // namespace zelvik::platform
