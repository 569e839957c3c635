#include "db/connect_string.h"

#include <gtest/gtest.h>

namespace zelvik {
namespace {

TEST(MaskPassword, HidesEveryFormOfThePassword) {
  EXPECT_EQ(MaskPassword("DSN=dbidc;UID=qarnimel;PWD=mwrtqpzfbnkcye41"),
            "DSN=dbidc;UID=qarnimel;PWD=****");
  EXPECT_EQ(MaskPassword("DSN=a;pwd=secret;UID=u"), "DSN=a;pwd=****;UID=u");
  EXPECT_EQ(MaskPassword("DSN=a;Password = {x;y}}z};UID=u"), "DSN=a;Password =****;UID=u");
  // A password holding ';' is hidden whole, up to the next attribute.
  EXPECT_EQ(MaskPassword("DSN=a;UID=u;PWD=ab;cd;ef"), "DSN=a;UID=u;PWD=****");
  EXPECT_EQ(MaskPassword("PWD=ab;cd;DSN=x"), "PWD=****;DSN=x");
  EXPECT_EQ(MaskPassword("DSN=a;PWD=;UID=u"), "DSN=a;PWD=****;UID=u");
  EXPECT_EQ(MaskPassword("DSN={PWD=1;2};UID=u"), "DSN={PWD=1;2};UID=u");
  EXPECT_EQ(MaskPassword("DSN=dbidc;UID=qarnimel"), "DSN=dbidc;UID=qarnimel");
  EXPECT_EQ(MaskPassword(""), "");
}

TEST(BuildConnectString, BracesOnlyTheValuesThatNeedThemAndTheMaskHidesThemWhole) {
  const char* refused = "";
  std::string c, all;
  for (const char* pwd : {"in side", "semi;colon9", "{braced}", "a=b", " lead", "trail "}) {
    ASSERT_TRUE(BuildConnectString("d;s", "u}", pwd, &c, &refused));
    all += c.substr(c.find(";PWD=")) + "|";
    EXPECT_EQ(MaskPassword(c), "DSN={d;s};UID={u}}};PWD=****");
  }
  EXPECT_EQ(all, ";PWD=in side|;PWD={semi;colon9}|;PWD={{braced}}}|;PWD={a=b}|;PWD={ lead}|"
                 ";PWD={trail }|");
  EXPECT_FALSE(BuildConnectString("d", std::string_view("u\0v", 3), "p", &c, &refused));
}

}  // namespace
}  // namespace zelvik
