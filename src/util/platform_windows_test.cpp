#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "util/codepage_windows.h"
#include "util/durable_io.h"
#include "util/owned_file.h"
#include "util/platform.h"
#include "util/platform_windows_internal.h"

namespace zelvik::platform {
namespace {

TEST(LongPath, AbsoluteNormalisedAndPrefixedSharesIncluded) {
  EXPECT_EQ(LongPath("C:/data/./day/../\xED\x83\x9D\xEC\x8B\x9C/x.dat"),
            L"\\\\?\\C:\\data\\\uD0DD\uC2DC\\x.dat");
  EXPECT_EQ(LongPath("\\\\srv\\share\\d\\x.dat"), L"\\\\?\\UNC\\srv\\share\\d\\x.dat");
  EXPECT_EQ(LongPath("//srv/share/d/x.dat"), L"\\\\?\\UNC\\srv\\share\\d\\x.dat");
  EXPECT_EQ(LongPath("\\\\?\\C:\\a/b"), L"\\\\?\\C:\\a/b");
  EXPECT_EQ(LongPath("\\\\.\\pipe\\p"), L"\\\\.\\pipe\\p");
  wchar_t cwd[MAX_PATH];
  const DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
  ASSERT_GT(n, 2u);
  std::wstring expected = L"\\\\?\\" + std::wstring(cwd, n);
  if (expected.back() != L'\\') expected.push_back(L'\\');
  EXPECT_EQ(LongPath("sub/x.dat"), expected + L"sub\\x.dat");
}

// A folder deeper than MAX_PATH: made, tested, written, listed, renamed in (the temporary
// names of a run included) and emptied through the one path the platform layer gives every call.
TEST(LongPath, EveryCallWorksInAFolderDeeperThanMaxPath) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  std::string dir = Utf8FromWide(temp) + "zelvik-deep-" + std::to_string(CurrentProcessId());
  ASSERT_TRUE(MakeDir(dir));
  std::vector<std::string> dirs{dir};
  while (dir.size() < 300) {
    dir += "/\xEA\xB9\x8A\xEC\x9D\x80-folder-0123456789";
    if (dir.size() < 200) {
      ASSERT_TRUE(MakeDir(dir)) << dir.size();
    }
    dirs.push_back(dir);
  }
  ASSERT_TRUE(MakeDirs(dir + "/"));  // the rest in one call
  EXPECT_TRUE(MakeDirs(dir));
  EXPECT_TRUE(IsDir(dir) && PathExists(dir));
  std::string absolute;
  ASSERT_TRUE(AbsolutePath(dir + "/./x/../x.dat", &absolute));
  EXPECT_EQ(LongPath(absolute), LongPath(dir + "/x.dat"));
  EXPECT_EQ(absolute.rfind("\\\\?\\", 0), std::string::npos);  // a program text, never prefixed

  const std::string tmp = dir + "/x.dat.1-1.tmp";
  std::FILE* f = OpenFile(tmp, "w");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fputs("row\r\n", f), 0);
  EXPECT_EQ(std::fclose(f), 0);
  EXPECT_TRUE(PathExists(tmp) && !IsDir(tmp) && !MakeDirs(tmp));
  SysError error;
  EXPECT_TRUE(RenameReplaceRetry(tmp, dir + "/x.dat", &error)) << error.text;
  EXPECT_FALSE(PathExists(tmp));
  OwnedFile owned;
  ASSERT_TRUE(owned.Create(dir + "/x.dat.1-2.tmp", &error)) << error.text;
  ASSERT_TRUE(owned.RenameTo(dir + "/x.dat.1-2.pub", &error)) << error.text;
  ASSERT_TRUE(RenameReplaceRetry(dir + "/x.dat", dir + "/x.dat.1-2.orphan", &error)) << error.text;
  ASSERT_TRUE(owned.RenameTo(dir + "/x.dat", &error)) << error.text;
  owned.Release();
  EXPECT_TRUE(SyncDir(dir, &error)) << error.text;
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDir(dir + "/", &entries));
  ASSERT_EQ(entries.size(), 2u);
  entries.clear();
  ASSERT_TRUE(ListDir(dirs[1], &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].isDir);
  EXPECT_TRUE(RemoveFile(dir + "/x.dat"));
  EXPECT_TRUE(RemoveFile(dir + "/x.dat.1-2.orphan"));
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
    EXPECT_TRUE(RemoveDirectoryW(LongPath(*it).c_str())) << *it;
  }
  EXPECT_FALSE(PathExists(dirs[0]) || IsDir(dirs[0]));
}

// A folder or a read-only file where the final name goes refuses the rename for good: it
// fails at once, with the system's code, and nothing moves. (A reader's hold alone is waited
// for: see the owned file tests. Wine replaces a read-only file, so a reader holds that one too:
// its refusal reads as a hold's, and the attribute must still tell it apart.)
TEST(RenameRefusal, AFolderOrAReadOnlyFileFailsWithoutWaiting) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::string dir = Utf8FromWide(temp) + "zelvik-refusal-" + std::to_string(CurrentProcessId());
  ASSERT_TRUE(MakeDirs(dir + "/folder.dat"));
  const std::string readOnly = dir + "/readonly.dat";
  std::fclose(OpenFile(readOnly, "w"));
  ASSERT_TRUE(SetFileAttributesW(LongPath(readOnly).c_str(), FILE_ATTRIBUTE_READONLY));
  std::FILE* reader = OpenFile(readOnly, "r");
  const std::string spare = dir + "/spare";
  std::fclose(OpenFile(spare, "w"));

  for (const std::string& target : {dir + "/folder.dat", readOnly}) {
    SCOPED_TRACE(target);
    const unsigned waits = HeldRenameWaits();
    SysError error;
    OwnedFile owned;
    ASSERT_TRUE(owned.Create(dir + "/x.1-1.tmp", &error)) << error.text;
    EXPECT_FALSE(owned.RenameTo(target, &error));
    EXPECT_EQ(error.systemCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(owned.Path(), dir + "/x.1-1.tmp");
    ASSERT_TRUE(owned.Remove(&error)) << error.text;
    error = SysError{};
    EXPECT_FALSE(RenameReplaceRetry(spare, target, &error));
    EXPECT_EQ(error.systemCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(HeldRenameWaits(), waits);
    EXPECT_TRUE(PathExists(spare) && PathExists(target));
  }
  std::fclose(reader);
  EXPECT_TRUE(IsDir(dir + "/folder.dat"));
  ASSERT_TRUE(SetFileAttributesW(LongPath(readOnly).c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(RemoveFile(readOnly) && RemoveFile(spare));
  EXPECT_TRUE(RemoveDirectoryW(LongPath(dir + "/folder.dat").c_str()));
  EXPECT_TRUE(RemoveDirectoryW(LongPath(dir).c_str()));
}

}  // namespace
}  // namespace zelvik::platform
