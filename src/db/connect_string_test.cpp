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

TEST(BuildConnectString, BracesOnlyTheValuesThatNeedThemAndMaskingHidesThemWhole) {
  const char* refused = "";
  std::string connect;
  ASSERT_TRUE(BuildConnectString("dbidc", "qarnimel", "mwrtqpzfbnkcye41", &connect, &refused));
  EXPECT_EQ(connect, "DSN=dbidc;UID=qarnimel;PWD=mwrtqpzfbnkcye41");  // as ever
  const std::pair<const char*, const char*> cases[] = {
      {"semi;colon9", "{semi;colon9}"},
      {"{braced}", "{{braced}}}"},
      {"x;DSN=nowhere;PWD=y", "{x;DSN=nowhere;PWD=y}"},
      {"a=b", "{a=b}"},
      {" lead", "{ lead}"},
      {"trail ", "{trail }"},
      {"in side", "in side"},
      {"}}", "{}}}}}"},
      {"", ""},
  };
  for (const auto& [pwd, written] : cases) {
    ASSERT_TRUE(BuildConnectString("d;s", "u}", pwd, &connect, &refused));
    EXPECT_EQ(connect, std::string("DSN={d;s};UID={u}}};PWD=") + written);
    EXPECT_EQ(MaskPassword(connect), "DSN={d;s};UID={u}}};PWD=****") << pwd;
  }
  EXPECT_FALSE(BuildConnectString("dbidc", std::string_view("u\0v", 3), "p", &connect, &refused));
  EXPECT_STREQ(refused, "UID");
}

}  // namespace
}  // namespace zelvik
