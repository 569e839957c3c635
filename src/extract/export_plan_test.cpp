#include "extract/export_plan.h"

#include <gtest/gtest.h>

#include <cstring>

#include "util/codepage.h"
#include "util/path_limit.h"

namespace zelvik {
namespace {

TEST(AreaText, OnlyCodesJoinedByQuoteCommaQuote) {
  for (const char* good : {"00001", "00003", "A1", "00001','00003", "1','2','3"}) {
    EXPECT_TRUE(IsValidAreaText(good)) << good;
  }
  for (const char* bad : {"", "00001'", "'00001", "00001','", "00001',00003", "00001,00003",
                          "0000 1", "00001') or ('1'='1", "00001';drop table x;--", "','",
                          "00001'',''00003", "\xb0\xa1", "00001\n"}) {
    EXPECT_FALSE(IsValidAreaText(bad)) << bad;
  }
}

class PlanTest : public ::testing::Test {
 protected:
  PlanResult Plan(const ExportInputs& in, const char* dir = "/srv/z") {
    return PlanExport(in, dir, plan_, log_);
  }
  ExportPlan plan_;
  std::string log_;
};

TEST_F(PlanTest, DayRunNamesHeadersStatementAndDate) {
  ASSERT_EQ(Plan({1, "20220718093000", "", ""}), PlanResult::kOk);
  EXPECT_STREQ(plan_.szLabel, "s_ThreadWorker");
  EXPECT_EQ(std::string(plan_.szExportPath), Utf8ToCp949("/srv/z/carloc_hst-서울대구-20220718.dat"));
  EXPECT_EQ(std::string(plan_.szSummaryPath), Utf8ToCp949("/srv/z/carloc_hst-서울대구-20220718.log"));
  // 서 is BC AD in code page 949.
  EXPECT_NE(std::string(plan_.szExportPath).find("\xbc\xad"), std::string::npos);
  EXPECT_EQ(plan_.strHeader1,
            Utf8ToCp949("#차량번호,일자,생성월,지역코드,좌표X(bessel),좌표Y(bessel),승빈차코드,"
                        "회사코드,운전자ID,좌표X(wgs84),좌표Y(wgs84)"));
  EXPECT_EQ(plan_.strHeader2,
            Utf8ToCp949("#지역코드(서울:'00001',대구:'00003',대구:'00003'), 승빈차코드 "
                        "(공차→공차:0, 공차→승차:1,승차→공차:2, 승차→승차:3)"));
  // The arrow exists in code page 949 (A1 E6); no character became '?'.
  EXPECT_NE(plan_.strHeader2.find("\xa1\xe6"), std::string::npos);
  EXPECT_EQ(plan_.strHeader2.find('?'), std::string::npos);
  EXPECT_STREQ(plan_.szStatement,
               "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no), '00000000') as car_no, cre_dt, "
               "substr(cre_dt,5,6), area_cd, car_x, car_y, onc_cd, tax_coid,drv_uid from "
               "CARLOC_HST_LST where area_cd in ('00001','00003') and cre_day = '20220718' "
               "order by area_cd,car_no,cre_dt;");
  EXPECT_EQ(plan_.strSummaryDate, "20220718");
}

TEST_F(PlanTest, RangeRunNamesFollowTheAreaText) {
  ASSERT_EQ(Plan({3, "20220718", "20220720", "00008"}), PlanResult::kOk);
  EXPECT_STREQ(plan_.szLabel, "s_ThreadWorker3");
  EXPECT_EQ(std::string(plan_.szExportPath),
            Utf8ToCp949("/srv/z/carloc_hst-충주-20220718-20220720.dat"));
  EXPECT_STREQ(plan_.szStatement,
               "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no), '00000000') as car_no, cre_dt, "
               "substr(cre_dt,5,6), area_cd, car_x, car_y, onc_cd, tax_coid,drv_uid from "
               "CARLOC_HST_LST where area_cd in ('00008') and cre_day >= '20220718' and "
               "cre_day <= '20220720' order by area_cd,car_no,cre_dt;");

  const std::pair<const char*, const char*> names[] = {
      {"00001", "서울"}, {"00003", "대구"}, {"00007", "청주"}, {"00008", "충주"},
      {"00002", "지역알수없음"}, {"000011", "지역알수없음"}, {"00001','00003", "지역알수없음"}};
  for (const auto& [area, name] : names) {
    ASSERT_EQ(Plan({2, "20220718", "20220720", area}), PlanResult::kOk) << area;
    EXPECT_EQ(std::string(plan_.szSummaryPath),
              Utf8ToCp949(std::string("/srv/z/carloc_hst-") + name + "-20220718-20220720.log"));
  }
  // The last plan: the list of areas stands in the header and the statement unchanged.
  EXPECT_EQ(plan_.strHeader2,
            Utf8ToCp949("#지역코드(00001','00003), 승빈차코드 (공차→공차:0, 공차→승차:1,승차→공차:2, "
                        "승차→승차:3)"));
  EXPECT_NE(std::string(plan_.szStatement).find("area_cd in ('00001','00003') and"),
            std::string::npos);
}

TEST(ExportName, ReadsBackWhatTheRunsName) {
  ExportName name;
  for (const char* area : {"00001", "00003", "00007", "00008", "00002", "00001','00003"}) {
    const std::string base = ExportBaseName({2, "20220718", "20220720", area});
    ASSERT_TRUE(ParseExportBaseName(base, &name)) << area;
    EXPECT_TRUE(name.range && name.first == "20220718" && name.last == "20220720") << area;
    // An area without a name of its own cannot be told from its name.
    EXPECT_EQ(name.area, AreaFileName(area) == Kr("지역알수없음") ? "" : area);
  }
  ASSERT_TRUE(ParseExportBaseName(ExportBaseName({1, "20220718093000", "", ""}), &name));
  EXPECT_TRUE(!name.range && name.first == "20220718" && name.last == "20220718");
  for (const char* base : {"carloc_hst-서울대구-2022071", "carloc_hst-부산-20220718-20220720",
                           "carloc_hst-서울-20220718", "carloc_hst--20220718-20220720",
                           "CARLOC_HST-서울대구-20220718", "carloc_hst-서울대구-20220718.dat"}) {
    EXPECT_FALSE(ParseExportBaseName(Utf8ToCp949(base), &name)) << base;
  }
}

TEST_F(PlanTest, RefusalsExplainThemselvesAndLeaveNothingUsable) {
  EXPECT_EQ(Plan({2, "20220718", "20220720", "00001') or ('1'='1"}), PlanResult::kBadArea);
  EXPECT_EQ(log_,
            "s_ThreadWorker2 area text refused[00001') or ('1'='1]: codes of letters and digits "
            "joined by ',' only");
  EXPECT_STREQ(plan_.szStatement, "");
  EXPECT_STREQ(plan_.szExportPath, "");

  EXPECT_EQ(Plan({4, "20220718", "2022072'", "00003"}), PlanResult::kBadDay);
  EXPECT_EQ(log_, "s_ThreadWorker4 day text refused[20220718][2022072']: 8 digits YYYYMMDD");
  EXPECT_EQ(Plan({1, "2022071", "", ""}), PlanResult::kBadDay);
  EXPECT_EQ(Plan({0, "20220718", "", ""}), PlanResult::kBadWorker);
  EXPECT_EQ(Plan({5, "20220718", "", ""}), PlanResult::kBadWorker);

  // 255 bytes of file name fit, 256 do not.
  const std::size_t fixed = std::string("/carloc_hst-").size() + Utf8ToCp949("서울대구").size() +
                            std::string("-20220718.dat").size();
  std::string dir(255 - fixed, 'd');
  ASSERT_EQ(Plan({1, "20220718", "", ""}, dir.c_str()), PlanResult::kOk);
  EXPECT_EQ(std::string(plan_.szExportPath).size(), 255u);
  dir.push_back('d');
  EXPECT_EQ(Plan({1, "20220718", "", ""}, dir.c_str()), PlanResult::kNameTooLong);
  EXPECT_NE(log_.find("file name longer than 255 bytes"), std::string::npos);
  // The longest name in the longest program directory accepted at start-up still fits, with
  // the longest suffix a publish gives it, with a ten-digit process id.
  const std::string maxDir(kProgramDirMax, 'd');
  ASSERT_EQ(Plan({2, "20220718", "20220720", "00009"}, maxDir.c_str()), PlanResult::kOk);
  EXPECT_EQ(std::strlen(plan_.szExportPath) + std::string(".4294967295-2.orphan").size(),
            kFileNameMax);

  // A valid list of areas just long enough to push the statement past 1023 bytes.
  ASSERT_EQ(Plan({2, "20220718", "20220720", "A"}), PlanResult::kOk);
  const std::size_t fixedStatement = std::string(plan_.szStatement).size() - 1;
  std::string area;
  while (area.size() + fixedStatement < 900) area += "00001','";
  area.append(1023 - fixedStatement - area.size(), '7');
  EXPECT_EQ(Plan({2, "20220718", "20220720", area}), PlanResult::kOk);
  EXPECT_EQ(std::string(plan_.szStatement).size(), 1023u);
  area.push_back('7');
  EXPECT_EQ(Plan({2, "20220718", "20220720", area}), PlanResult::kStatementTooLong);
  EXPECT_STREQ(plan_.szStatement, "");
  EXPECT_NE(log_.find("statement longer than 1023 bytes not sent"), std::string::npos);
}

}  // namespace
}  // namespace zelvik
