#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "util/codepage_windows.h"
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

// A folder deeper than MAX_PATH: made, written, listed, renamed in and emptied through the one
// path the platform layer gives every call.
TEST(LongPath, EveryCallWorksInAFolderDeeperThanMaxPath) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  std::string dir = Utf8FromWide(temp) + "zelvik-deep-" + std::to_string(CurrentProcessId());
  ASSERT_TRUE(MakeDir(dir));
  std::vector<std::string> dirs{dir};
  while (dir.size() < 300) {
    dir += "/\xEA\xB9\x8A\xEC\x9D\x80-folder-0123456789";
    ASSERT_TRUE(MakeDir(dir)) << dir.size();
    dirs.push_back(dir);
  }
  const std::string tmp = dir + "/x.dat.1-1.tmp";
  std::FILE* f = OpenFile(tmp, "w");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fputs("row\r\n", f), 0);
  EXPECT_EQ(std::fclose(f), 0);
  EXPECT_TRUE(RenameReplace(tmp, dir + "/x.dat"));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDir(dir + "/", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "x.dat");
  entries.clear();
  ASSERT_TRUE(ListDir(dirs[1], &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].isDir);
  EXPECT_TRUE(RemoveFile(dir + "/x.dat"));
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
    EXPECT_TRUE(RemoveDirectoryW(LongPath(*it).c_str())) << *it;
  }
}

}  // namespace
}  // namespace zelvik::platform
