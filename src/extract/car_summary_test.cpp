#include "extract/car_summary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "util/codepage.h"

namespace zelvik {
namespace {

// A summary writing into an in-memory file, with a lookup that records its calls.
class SummaryTest : public ::testing::Test {
 protected:
  SummaryTest()
      : summary_(last_, [this](const char* coid, char* name) {
          calls_.emplace_back(coid);
          if (std::strcmp(coid, "C1") == 0) std::strcpy(name, "First Taxi");
          if (std::strcmp(coid, "C2") == 0) std::strcpy(name, Kr("둘째운수").c_str());
        }) {}
  void SetUp() override { ASSERT_NE(out_, nullptr); }
  void TearDown() override { std::fclose(out_); }

  std::string Written() {
    std::fflush(out_);
    std::string text(static_cast<std::size_t>(std::ftell(out_)), '\0');
    std::rewind(out_);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), out_), text.size());
    std::fseek(out_, 0, SEEK_END);
    return text;
  }
  void Rows(const char* car, const char* coid, std::initializer_list<const char*> codes) {
    for (const char* onc : codes) ASSERT_TRUE(summary_.Step(out_, car, onc, coid));
  }

  LastCompany last_{};
  std::vector<std::string> calls_;
  VehicleSummary summary_;
  std::FILE* out_ = std::tmpfile();
};

TEST_F(SummaryTest, GroupsCountRecordsChangesAndLastCode) {
  summary_.Reset("20220718093000");
  Rows("11A1111", "C1", {"0", "0", "1", "1", "0"});  // 5 records, 3 changes, ends at 0
  Rows("22B2222", "C1", {"2"});                      // a single row
  Rows("33C3333", "C2", {"3", "3", "3"});            // never changes: 1
  EXPECT_EQ(Written(), "First Taxi,11A1111,'2022/07/18',5,3,0\r\n"
                       "First Taxi,22B2222,'2022/07/18',1,1,2\r\n");
  ASSERT_TRUE(summary_.Final(out_));
  EXPECT_EQ(Written(), "First Taxi,11A1111,'2022/07/18',5,3,0\r\n"
                       "First Taxi,22B2222,'2022/07/18',1,1,2\r\n" +
                           Kr("둘째운수") + ",33C3333,'2022/07/18',3,1,3\r\n");
  EXPECT_EQ(summary_.CountersLine("s_ThreadWorker2"),
            "s_ThreadWorker2 onc_cd 0[3] 1[2] 2[1] 3[3] etc[0]");
}

TEST_F(SummaryTest, OddCodesCountApartAndNonNumbersAsZero) {
  summary_.Reset("20220718");
  Rows("11A1111", "C1", {"4", "9", "-1", "", "x", " 2", "3z"});
  ASSERT_TRUE(summary_.Final(out_));
  // 4, 9, -1 are etc; "" and "x" are 0; " 2" is 2; "3z" is 3. Codes change at every row but
  // "" -> "x" (both 0).
  EXPECT_EQ(Written(), "First Taxi,11A1111,'2022/07/18',7,6,3\r\n");
  EXPECT_EQ(summary_.CountersLine("s_ThreadWorker"),
            "s_ThreadWorker onc_cd 0[2] 1[0] 2[1] 3[1] etc[3]");
}

TEST_F(SummaryTest, CompanyLookedUpOnlyWhenTheIdChangesEvenAcrossRuns) {
  summary_.Reset("20220718");
  Rows("A", "C1", {"0"});
  Rows("B", "C1", {"0"});
  Rows("C", "C2", {"0"});
  Rows("D", "C9", {"0"});  // unknown company: empty name, still written
  Rows("E", "C9", {"0"});
  EXPECT_EQ(calls_, (std::vector<std::string>{"C1", "C2", "C9"}));
  ASSERT_TRUE(summary_.Final(out_));
  EXPECT_EQ(Written(), "First Taxi,A,'2022/07/18',1,1,0\r\n"
                       "First Taxi,B,'2022/07/18',1,1,0\r\n" +
                           Kr("둘째운수") + ",C,'2022/07/18',1,1,0\r\n"
                           ",D,'2022/07/18',1,1,0\r\n"
                           ",E,'2022/07/18',1,1,0\r\n");

  // The next run of the same worker keeps the last company: no lookup for C9 again.
  summary_.Reset("20220719");
  EXPECT_EQ(summary_.CountersLine("s_ThreadWorker"),
            "s_ThreadWorker onc_cd 0[0] 1[0] 2[0] 3[0] etc[0]");
  Rows("F", "C9", {"1"});
  Rows("G", "C1", {"1"});
  EXPECT_EQ(calls_, (std::vector<std::string>{"C1", "C2", "C9", "C1"}));
  // The company is that of the group's first row.
  Rows("G", "C2", {"1"});
  ASSERT_TRUE(summary_.Final(out_));
  EXPECT_NE(Written().find(",F,'2022/07/19',1,1,1\r\nFirst Taxi,G,'2022/07/19',2,1,1\r\n"),
            std::string::npos);
}

TEST_F(SummaryTest, EmptyVehicleNumbersAtTheStartJoinTheClearedGroup) {
  summary_.Reset("20220718");
  Rows("", "C1", {"0", "1", "1"});
  EXPECT_TRUE(calls_.empty());
  Rows("11A1111", "C1", {"2"});
  // The cleared record's empty fields, and changes counted from its code 0 without the
  // first-row 1.
  EXPECT_EQ(Written(), ",,,3,1,1\r\n");
  EXPECT_EQ(calls_.size(), 1u);
}

TEST_F(SummaryTest, RunWithoutRowsWritesNothingAndCountsZero) {
  summary_.Reset("20220718");
  ASSERT_TRUE(summary_.Final(out_));
  EXPECT_EQ(Written(), "");
  EXPECT_EQ(summary_.CountersLine("s_ThreadWorker"),
            "s_ThreadWorker onc_cd 0[0] 1[0] 2[0] 3[0] etc[0]");
  EXPECT_EQ(VehicleSummary::HeaderLine(),
            Utf8ToCp949("회사명,차량번호,일자,레코드수,승빈차변경횟수,마지막-승빈차코드"));
}

TEST_F(SummaryTest, LongCompanyIdsAndNamesStayInsideTheirFields) {
  LastCompany last{};
  VehicleSummary summary(last, [](const char*, char* name) {
    std::memset(name, 'n', 128);  // a lookup that fills the whole area without a terminator
  });
  summary.Reset("2022");  // a short date still formats with the widths' padding
  const std::string coid(200, 'c');
  ASSERT_TRUE(summary.Step(out_, "A", "0", coid.c_str()));
  EXPECT_EQ(std::strlen(last.szCoid), 127u);
  ASSERT_TRUE(summary.Final(out_));
  EXPECT_EQ(Written(), std::string(127, 'n') + ",A,'2022/  /  ',1,1,0\r\n");
}

}  // namespace
}  // namespace zelvik
