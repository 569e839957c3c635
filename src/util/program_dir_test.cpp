#include "util/program_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "util/process_state.h"

namespace zelvik {
namespace {

TEST(ProgramDir, KeepsCaseDropsQuotesAndTheFileName) {
  const std::pair<const char*, const char*> paths[] = {
      {"/opt/Zelvik/bin/zelvik", "/opt/Zelvik/bin"},
      {"\"/home/Ops/DB Tool/zelvik\"", "/home/Ops/DB Tool"},
      {"zelvik", ""},
      {"/zelvik", ""},
      {"/srv/a\\b/zelvik", "/srv/a/b"}};
  for (const auto& [path, dir] : paths) {
    std::string error;
    ASSERT_TRUE(SetProgramDir(path, &error)) << path;
    EXPECT_STREQ(g_szExeDir, dir) << path;
  }
}

TEST(ProgramDir, StoredInCodePage949AndRefusedWhenTooLongOrNotNameable) {
  std::string error;
  ASSERT_TRUE(SetProgramDir("/home/택시/bin/zelvik", &error));
  EXPECT_STREQ(g_szExeDir, "/home/\xC5\xC3\xBD\xC3/bin");
  ASSERT_TRUE(SetProgramDir("/zelvik", &error));
  EXPECT_STREQ(g_szExeDir, "");
  // One byte more than every file name the program makes there can take.
  std::string longPath = "/" + std::string(kProgramDirMax, 'd') + "/zelvik";
  EXPECT_FALSE(SetProgramDir(longPath, &error));
  EXPECT_NE(error.find("longer than 189 bytes"), std::string::npos);
  EXPECT_STREQ(g_szExeDir, "");
  // A folder name code page 949 lacks a character of would be stored with '?' instead.
  EXPECT_FALSE(SetProgramDir("/srv/caf\xC3\xA9/zelvik", &error));
  EXPECT_NE(error.find("code page 949"), std::string::npos);
  EXPECT_STREQ(g_szExeDir, "");
  std::string fits = "/" + std::string(kProgramDirMax - 1, 'd') + "/zelvik";
  EXPECT_TRUE(SetProgramDir(fits, &error));
  EXPECT_EQ(std::string(g_szExeDir).size(), kProgramDirMax);
}

}  // namespace
}  // namespace zelvik
