#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "testing/test_folder.h"
#include "util/durable_io.h"
#include "util/folder_lock.h"
#include "util/owned_file.h"
#include "util/platform.h"
#ifdef _WIN32
#include "util/platform_windows_internal.h"
#endif

namespace zelvik::platform {
namespace {

namespace fs = std::filesystem;

class OwnedFileTest : public TestFolderTest {
 protected:
  std::string Path(const char* name) const {
    const std::u8string utf8 = (dir_ / name).u8string();
    return std::string(utf8.begin(), utf8.end());
  }
  // As the program reads: on Windows sharing delete, so that a held file opens too.
  static std::string Read(const std::string& path) {
    FileIdentity identity;
    char buffer[16];
    const int fd = OpenRegularForRead(path, &identity);
    const std::int64_t n = fd < 0 ? 0 : ReadFd(fd, buffer, sizeof(buffer));
    if (fd >= 0) CloseFd(fd);
    return std::string(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
  }
  static void Write(OwnedFile& file, const char* text) {
    SysError error;
    const int fd = file.OpenWriteFd(&error);
    ASSERT_EQ(WriteFd(fd, text, 5), 5) << error.text;
    ASSERT_TRUE(CloseFd(fd));
  }
};

// A live run's file is told from a leftover by its lock alone: another owner (here another
// open in this process) finds it busy until the first lets go, closing the write descriptor
// does not let go, and readers are never blocked.
TEST_F(OwnedFileTest, CreateIsExclusiveAndTheLockTellsALiveFileFromALeftover) {
  const std::string tmp = Path("a.tmp");
  OwnedFile owner, second;
  SysError error;
  ASSERT_TRUE(owner.Create(tmp, &error)) << error.text;
  Write(owner, "row\r\n");
  EXPECT_FALSE(second.Create(tmp, &error));
  EXPECT_EQ(error.errnoValue, EEXIST);
  EXPECT_EQ(second.Take(tmp, &error), OwnedFile::TakeResult::kBusy);
  std::int64_t size = 0;
  EXPECT_TRUE(owner.Size(&size, &error) && size == 5);
  EXPECT_EQ(Read(tmp), "row\r\n");

  owner.Release();
  EXPECT_EQ(second.Take(tmp, &error), OwnedFile::TakeResult::kTaken);
  EXPECT_EQ(owner.Take(tmp, &error), OwnedFile::TakeResult::kBusy);
  ASSERT_TRUE(second.Remove(&error)) << error.text;
  second.Release();
  EXPECT_EQ(owner.Take(tmp, &error), OwnedFile::TakeResult::kGone);

  FolderLock lock, other;
  ASSERT_EQ(lock.TryLock(Path("zelvik.lock"), &error), FolderLock::TryResult::kTaken)
      << error.text;
  // Held by someone, not failed.
  EXPECT_EQ(other.TryLock(Path("zelvik.lock"), &error), FolderLock::TryResult::kBusy);
  lock.Unlock();
  EXPECT_EQ(other.TryLock(Path("zelvik.lock"), &error), FolderLock::TryResult::kTaken);
}

// The synced file replaces the final one in one step, and can be renamed back (a publish
// that goes back). On Windows a reader holding the final file makes the replace fail after
// about 2 s of retries, with the system's own words, and the final file stays as it was.
TEST_F(OwnedFileTest, RenameReplacesTheFinalFileOrFailsWithTheSystemsTextWhileAReaderHoldsIt) {
  const std::string final = Path("a.dat");
  std::fclose(OpenFile(final, "wb"));
  OwnedFile file;
  SysError error;
  ASSERT_TRUE(file.Create(Path("a.tmp"), &error)) << error.text;
  Write(file, "new\r\n");
  ASSERT_TRUE(file.SyncData(&error)) << error.text;

  std::FILE* reader = OpenFile(final, "rb");
#ifdef _WIN32
  const unsigned waits = HeldRenameWaits();
#endif
  const auto start = std::chrono::steady_clock::now();
  const bool renamed = file.RenameTo(final, &error);
  const auto waited = std::chrono::steady_clock::now() - start;
  std::fclose(reader);
#ifdef _WIN32
  ASSERT_FALSE(renamed);
  EXPECT_GE(waited, std::chrono::milliseconds(1500));
  EXPECT_GT(HeldRenameWaits(), waits);
  // Access denied (a reader sharing delete; Wine, always) or sharing violation.
  EXPECT_TRUE(error.systemCode == 5 || error.systemCode == 32) << error.systemCode;
  EXPECT_NE(error.text, ErrorText(EACCES));
  EXPECT_EQ(Read(final), "");
  ASSERT_TRUE(file.RenameTo(final, &error)) << error.text;
#else
  ASSERT_TRUE(renamed && waited.count() >= 0) << error.text;  // the reader keeps the old file
#endif
  EXPECT_EQ(Read(final), "new\r\n");
  EXPECT_FALSE(fs::exists(dir_ / "a.tmp"));
  EXPECT_TRUE(SyncDir(Path("."), &error)) << error.text;
  ASSERT_TRUE(file.RenameTo(Path("a.tmp"), &error)) << error.text;
  ASSERT_TRUE(file.Remove(&error)) << error.text;
  EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
}  // namespace zelvik::platform
