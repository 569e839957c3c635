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

}  // namespace
}  // namespace zelvik
