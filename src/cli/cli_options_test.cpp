#include "cli/cli_options.h"

#include <gtest/gtest.h>

namespace zelvik {
namespace {

bool Parse(std::vector<const char*> args, CliOptions* o, std::string* error) {
  args.insert(args.begin(), "zelvik-cli");
  return ParseCliOptions(static_cast<int>(args.size()), args.data(), o, error);
}

TEST(CliOptionsTest, OptionsAndCommands) {
  CliOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--home", "/srv/z", "--dev", "--dsn=replica", "--uid", "u", "--pwd", "",
                     "--area", "00001','00003", "--no-wgs84", "--ignore-quiet-hours", "range",
                     "20220701", "20220710", "20220711", "20220720"},
                    &o, &error))
      << error;
  EXPECT_EQ(o.home, "/srv/z");
  EXPECT_TRUE(o.dev);
  EXPECT_EQ(o.dsn, "replica");
  EXPECT_TRUE(o.hasPwd);
  EXPECT_EQ(o.pwd, "");
  EXPECT_EQ(o.area, "00001','00003");
  EXPECT_TRUE(o.noWgs84);
  EXPECT_TRUE(o.ignoreQuietHours);
  EXPECT_EQ(o.command, CliOptions::Command::kRange);
  ASSERT_EQ(o.ranges.size(), 2u);
  EXPECT_EQ(o.ranges[1].second, "20220720");

  CliOptions d;
  ASSERT_TRUE(Parse({"day", "20240229"}, &d, &error));
  EXPECT_EQ(d.command, CliOptions::Command::kDay);
  EXPECT_EQ(d.day, "20240229");
  EXPECT_FALSE(d.hasDsn);
  EXPECT_FALSE(d.hasPwd);

  CliOptions c;
  ASSERT_TRUE(Parse({"--", "clean", "--odd name"}, &c, &error));
  EXPECT_EQ(c.folder, "--odd name");

  CliOptions h;
  ASSERT_TRUE(Parse({"--help"}, &h, &error));
  EXPECT_TRUE(h.help);
}

TEST(CliOptionsTest, UsageErrorsSayWhatIsWrong) {
  struct Case {
    std::vector<const char*> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--dev"}, "no command given"},
      {{"--verbose", "run"}, "unknown option --verbose"},
      {{"--dsn"}, "--dsn needs a value"},
      {{"--dev=1", "run"}, "--dev takes no value"},
      {{"day", "2022110a"}, "day needs one day as YYYYMMDD"},
      {{"day", "20230229"}, "day 20230229 is not on the calendar"},
      {{"range", "20230431", "20230501"}, "range day 20230431 is not on the calendar"},
      {{"range", "1", "2", "3", "4", "5", "6", "7", "8"},
       "range needs one to three pairs of days FROM TO"},
      {{"range", "20220701", "2022-07-10"}, "range days are written YYYYMMDD"},
      {{"clean", ""}, "clean needs one folder"},
  };
  for (const Case& c : cases) {
    CliOptions o;
    std::string error;
    EXPECT_FALSE(Parse(c.args, &o, &error)) << c.message;
    EXPECT_EQ(error, c.message);
  }
}

}  // namespace
}  // namespace zelvik
