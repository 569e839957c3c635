#include "verify/verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/file_bytes.h"
#include "testing/test_folder.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/owned_file.h"
#include "util/platform.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

const char* kHeader1 =
    "#차량번호,일자,생성월,지역코드,좌표X(bessel),좌표Y(bessel),승빈차코드,회사코드,운전자ID,"
    "좌표X(wgs84),좌표Y(wgs84)";
const char* kCodes = "승빈차코드 (공차→공차:0, 공차→승차:1,승차→공차:2, 승차→승차:3)";
const char* kSummaryHeader = "회사명,차량번호,일자,레코드수,승빈차변경횟수,마지막-승빈차코드";

std::string Row(const std::string& car) {
  return car + ",19910521080000,052108,00001,4571208,1352394,1,W9101,D01,126.975884,37.569279";
}

class VerifyTest : public TestFolderTest {
 protected:
  void SetUp() override {
    TestFolderTest::SetUp();
    // The folder as the program names it: '/' separators on every system.
    folder_ = FsText(dir_);
    std::replace(folder_.begin(), folder_.end(), '\\', '/');
  }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / FsPath(name), std::ios::binary) << bytes;
  }
  // A day export's two files; the export's data rows and the summary's lines.
  void Day(const std::string& day, const std::string& rows, const std::string& summary) {
    const std::string base = "carloc_hst-서울대구-" + day;
    Write(base + ".dat",
          Cp949Lines({kHeader1, std::string("#지역코드(서울:'00001',대구:'00003',대구:'00003'), ") +
                               kCodes}) + rows);
    Write(base + ".log", Cp949Lines({kSummaryHeader}) + summary);
  }
  // Runs verify; its lines in UTF-8, and whether everything was whole.
  std::string Verify(const std::string& from, const std::string& to, bool* whole) {
    std::string out;
    const VerifyCounts counts = VerifyExports(Utf8ToCp949(folder_), from, to,
                                              [&](const std::string& line) {
                                                out += Cp949ToUtf8(line) + "\n";
                                              });
    *whole = counts.AllWhole();
    return out;
  }

  std::string folder_;  // UTF-8
};

TEST_F(VerifyTest, TellsWholeDaysFromCutShortMismatchedAndMissingOnes) {
  const std::string rows = Cp949Lines({Row(""), Row("서울1"), Row("서울1"), Row("대구2"), Row("서울1")});
  // An empty number opens the run's first group; a vehicle met again is a group of its own;
  // a company name may hold commas.
  const std::string summary = Cp949Lines({",,'2022/11/01',1,1,1", "가,나 운수,서울1,'2022/11/01',2,1,1",
                                     ",대구2,'2022/11/01',1,1,1", ",서울1,'2022/11/01',1,1,1"});
  Day("20221101", rows, summary);
  Day("20221102", rows.substr(0, rows.size() - 30), summary);  // cut inside its last line
  Day("20221103", Cp949Lines({Row(""), Row("서울1")}), summary);    // cut at a line end
  Day("20221104",
      Cp949Lines({Row(""), Row("서울1"), Row("대구2"), Row("대구2"), "서울1,1,2,3"}) + Row("서울1") + "\n",
      summary);
  Write("carloc_hst-서울대구-20221106.dat", rows);  // its summary lost
  // An area without a name: its area text is checked only for its form.
  Write("carloc_hst-지역알수없음-20221101-20221103.dat",
        Cp949Lines({kHeader1, std::string("#지역코드(00009','00010), ") + kCodes, Row("충주3")}));
  Write("carloc_hst-지역알수없음-20221101-20221103.log",
        Cp949Lines({kSummaryHeader, ",충주3,'2022/11/01',1,1,1"}));
  Write("carloc_hst-서울대구-2022110.dat", "not an export's name");

  const std::string d1 = "carloc_hst-서울대구-20221101: whole, 5 rows of 4 vehicles\n";
  const std::string d2to4 =
      "carloc_hst-서울대구-20221102: .dat is cut: its last line has no line end; .dat is short: "
      "4 rows, its summary counts 5\n"
      "carloc_hst-서울대구-20221103: .dat is short: 2 rows, its summary counts 5\n"
      "carloc_hst-서울대구-20221104: .dat line 7 has 4 fields, fewer than 11; .dat line 8 ends "
      "in LF alone, not CR LF; .dat does not match its summary: summary line 3 (vehicle [서울1], "
      "2 records) does not match the rows from line 4 (vehicle [서울1], 1 rows)\n";
  const std::string d6 = "carloc_hst-서울대구-20221106: its summary .log is missing\n";
  const std::string range = "carloc_hst-지역알수없음-20221101-20221103: whole, 1 rows of 1 vehicles\n";
  bool whole = true;
  EXPECT_EQ(Verify("20221101", "20221106", &whole),
            d1 + d2to4 + "carloc_hst-서울대구-20221105: missing\n" + d6 + range +
                "verify: 7 checked: 2 whole, 1 missing, 4 damaged, 0 in progress; 0 left by "
                "ended runs\n");
  EXPECT_FALSE(whole);
  // Every pair found, whatever its days.
  EXPECT_EQ(Verify("", "", &whole),
            d1 + d2to4 + d6 + range +
                "verify: 6 checked: 2 whole, 0 missing, 4 damaged, 0 in progress; 0 left by "
                "ended runs\n");
  // A whole day alone is whole.
  EXPECT_EQ(Verify("20221101", "20221101", &whole),
            d1 + "verify: 1 checked: 1 whole, 0 missing, 0 damaged, 0 in progress; 0 left by "
                 "ended runs\n");
  EXPECT_TRUE(whole);
  // A first export under way (its temporary file held by a live run) is not judged; the
  // leftover of an ended run is listed with what the start-up repair would do.
  platform::OwnedFile live;
  platform::SysError error;
  ASSERT_TRUE(live.Create(FsText(dir_ / FsPath("carloc_hst-서울대구-20221107.dat.")) +
                              std::to_string(CurrentProcessId()) + "-1.tmp",
                          &error))
      << error.text;
  Write("carloc_hst-서울대구-20221108.log.123456-1.tmp", "ended");
  EXPECT_EQ(Verify("20221107", "20221108", &whole),
            "carloc_hst-서울대구-20221107: in progress\n"
            "carloc_hst-서울대구-20221108: missing\n"
            "the next start's repair would log: RepairFolder removed a leftover of an ended run[" +
                folder_ + "/carloc_hst-서울대구-20221108.log.123456-1.tmp]\n"
                "verify: 2 checked: 0 whole, 1 missing, 0 damaged, 1 in progress; 1 left by "
                "ended runs\n");
  EXPECT_FALSE(whole);
  EXPECT_TRUE(fs::exists(dir_ / FsPath("carloc_hst-서울대구-20221108.log.123456-1.tmp")));
}

}  // namespace
}  // namespace zelvik
