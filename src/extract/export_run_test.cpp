// Export runs against the sandbox database, with small hand-made data per test (each test has
// days of its own in 1987, far from any seeded day) and the expected files written out here.
#include "extract/export_run.h"
#include "publish/run_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "db/odbc.h"
#include "log/log_pane.h"
#include "log/run_log.h"
#include "testing/file_bytes.h"
#include "testing/pane_recorder.h"
#include "testing/program_home.h"
#include "testing/sandbox.h"
#include "util/clock.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/process_state.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

using sandbox::kSandboxDevDsn;
using sandbox::kSandboxScratchDsn;
using sandbox::SandboxConnectString;
using sandbox::SandboxExec;

std::string ReadFile949(const std::string& path949) { return ReadBytes(SysPath(path949.c_str())); }

bool Exists949(const std::string& path949) {
  std::error_code ec;
  return fs::symlink_status(SysPath(path949.c_str()), ec).type() != fs::file_type::not_found;
}

const char* const kExportHeader =
    "#차량번호,일자,생성월,지역코드,좌표X(bessel),좌표Y(bessel),승빈차코드,회사코드,운전자ID,"
    "좌표X(wgs84),좌표Y(wgs84)";
const char* const kDayHeader2 =
    "#지역코드(서울:'00001',대구:'00003',대구:'00003'), 승빈차코드 (공차→공차:0, 공차→승차:1,"
    "승차→공차:2, 승차→승차:3)";
// How the export's statement begins (the company lookup sends statements too).
const char* const kExportSelect = "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no)";
const char* const kSummaryHeader = "회사명,차량번호,일자,레코드수,승빈차변경횟수,마지막-승빈차코드";

class ExportRunTest : public ProgramHomeTest {
 protected:
  void SetUp() override {
    ZELVIK_REQUIRE_SANDBOX();
    ProgramHomeTest::SetUp();
    BindPanes();
    ASSERT_EQ(OpenDB(&db_, SandboxConnectString(kSandboxDevDsn).c_str()), 1);
    SandboxExec(kSandboxDevDsn,
         "insert into carco_mst (coid, co_nm) values ('E9001', '테스트운수(주)'), "
         "('E9002', '시험교통') on conflict (coid) do update set co_nm = excluded.co_nm");
  }
  void TearDown() override {
    if (!days_.empty()) Exec("delete from carloc_hst_lst where cre_day in (" + days_ + ")");
    ProgramHomeTest::TearDown();
    db_.Close();
  }

  static void Exec(const std::string& sqlUtf8) { SandboxExec(kSandboxDevDsn, sqlUtf8); }
  // Replaces the rows of the given days by the given value tuples (UTF-8 SQL); the days'
  // rows are deleted again after the test.
  void Rows(const std::string& daysIn, const std::string& values) {
    days_ += (days_.empty() ? "" : ",") + daysIn;
    Exec("delete from carloc_hst_lst where cre_day in (" + daysIn + ")");
    if (!values.empty()) {
      Exec(
           "insert into carloc_hst_lst (car_no, cre_dt, cre_day, area_cd, car_x, car_y, onc_cd, "
           "tax_coid, drv_uid) values " + values);
    }
  }
  ExportOutcome Run(const ExportInputs& in, const ExportOptions& options = ExportOptions()) {
    return ExportLocationHistory(in, &db_, flag_, bessel_, state_, &cancel_, options);
  }
  // The name a run of worker n of this process writes the file under until it is complete.
  static std::string Tmp(const std::string& final949, int n = 1) {
    return RunTempName(final949, ::getpid(), n);
  }
  std::string Path(const char* nameUtf8) {
    return std::string(g_szExeDir) + "/" + Utf8ToCp949(nameUtf8);
  }

  Database db_;
  std::string days_;
  std::atomic<std::int32_t> flag_{0};
  std::atomic<std::int32_t> bessel_{1};
  ExportWorkerState state_;
  CancelToken cancel_;
};

TEST_F(ExportRunTest, DayRunOverTwoAreasWithAVehicleInBoth) {
  Rows("'19870203','19870204'",
       "('대구34나5678','19870203090100','19870203','00003','4629700','1291400','0','E9001','E90'),"
       "('서울12가3456','19870203080100','19870203','00001','4571300','1352500','1','E9001','E9001D0001'),"
       "('서울12가3456','19870203100000','19870203','00003','4571500','1352700','1','E9002','E9002X'),"
       "('서울12가3456','19870203080000','19870203','00001','4571208','1352394','0','E9001','E9001D0001'),"
       "('대구34나5678','19870203090000','19870203','00003','4629650','1291370','2','E9001','E90'),"
       "('서울12가3456','19870203080200','19870203','00001','4571400','1352600','3','E9001','E9001D0002'),"
       "('청주56다7890','19870203080000','19870203','00007','4589604','1319112','0','E9001','E9001D1'),"
       "('서울12가3456','19870204080000','19870204','00001','4571208','1352394','0','E9001','E9001D1')");
  // The flag is 1 until the statement's result has arrived.
  std::vector<int> flagAt;
  recorder_.SetHook([&](const std::string& text) {
    if (text.rfind(kExportSelect, 0) == 0 || text.find("query result") != std::string::npos) {
      flagAt.push_back(flag_.load());
    }
  });

  EXPECT_EQ(Run({1, "19870203", "", ""}), ExportOutcome::kGood);

  EXPECT_EQ(ReadFile949(Path("carloc_hst-서울대구-19870203.dat")),
            Cp949Lines({kExportHeader, kDayHeader2,
                        "서울12가3456,19870203080000,020308,00001,4571208,1352394,0,E9001,D0001,"
                        "126.975884,37.569279",
                        "서울12가3456,19870203080100,020308,00001,4571300,1352500,1,E9001,D0001,"
                        "126.978439,37.572223",
                        "서울12가3456,19870203080200,020308,00001,4571400,1352600,3,E9001,D0002,"
                        "126.981217,37.575000",
                        "대구34나5678,19870203090000,020309,00003,4629650,1291370,2,E9001,,"
                        "128.599165,35.874402",
                        "대구34나5678,19870203090100,020309,00003,4629700,1291400,0,E9001,,"
                        "128.600554,35.875235",
                        "서울12가3456,19870203100000,020310,00003,4571500,1352700,1,E9002,X,"
                        "126.983994,37.577778"}));
  const std::string summary = ReadFile949(Path("carloc_hst-서울대구-19870203.log"));
  EXPECT_EQ(summary, Cp949Lines({kSummaryHeader,
                                 "테스트운수(주),서울12가3456,'1987/02/03',3,3,3",
                                 "테스트운수(주),대구34나5678,'1987/02/03',2,2,0",
                                 "시험교통,서울12가3456,'1987/02/03',1,1,1"}));
  // 서울 in code page 949, byte by byte.
  EXPECT_NE(summary.find("\xbc\xad\xbf\xef" "12"), std::string::npos);

  EXPECT_EQ(flagAt, (std::vector<int>{1, 0}));
  EXPECT_EQ(flag_.load(), 0);
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker query result elapsed[0]sec"));
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker ncnt[6] elapsed[0]sec"));
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker onc_cd 0[2] 1[2] 2[1] 3[1] etc[0]"));
  // One lookup per run of equal company ids: E9001 for the first two groups, then E9002.
  EXPECT_EQ(recorder_.Texts(1, "============== START GetCO_NM("),
            (std::vector<std::string>{"============== START GetCO_NM(E9001)",
                                      "============== START GetCO_NM(E9002)"}));
  // The run's lines also reach the pane's hourly log file.
  const std::string runLog = ReadFile949(std::string(g_szExeDir) + "/20260107/2026010713-1.log");
  EXPECT_NE(runLog.find("2026/01/07 13:05:09 s_ThreadWorker ncnt[6] elapsed[0]sec\r\n"),
            std::string::npos);
}

TEST_F(ExportRunTest, RangeRunOverThreeDaysThenRewrittenWithConversionOff) {
  Rows("'19870310','19870311','19870312','19870313'",
       "('충북70아1234','19870310235900','19870310','00008','4605336','1331676','0','E9801','E9801777'),"
       "('충북70아1234','19870311000100','19870311','00008','4605400','1331700','1','E9801','E9801777'),"
       "('충북70아1234','19870312120000','19870312','00008','4605500','1331800','5','E9801','E9801'),"
       "('충북70아1234','19870313120000','19870313','00008','4605500','1331800','0','E9801','E9801'),"
       "('충북71바9999','19870311080000','19870311','00008','4605336','1331676','3','E9899','E9'),"
       "('서울12가3456','19870311080000','19870311','00001','4571208','1352394','0','E9001','E9001')");
  // Companies nobody has entered.
  Exec("delete from carco_mst where coid in ('E9801', 'E9899')");
  const ExportInputs in{2, "19870310", "19870312", "00008"};
  EXPECT_EQ(Run(in), ExportOutcome::kGood);

  const std::string header2 =
      "#지역코드(00008), 승빈차코드 (공차→공차:0, 공차→승차:1,승차→공차:2, 승차→승차:3)";
  const std::string dat = Path("carloc_hst-충주-19870310-19870312.dat");
  EXPECT_EQ(ReadFile949(dat),
            Cp949Lines({kExportHeader, header2.c_str(),
                        "충북70아1234,19870310235900,031023,00008,4605336,1331676,0,E9801,777,"
                        "127.923809,36.993866",
                        "충북70아1234,19870311000100,031100,00008,4605400,1331700,1,E9801,777,"
                        "127.925586,36.994533",
                        "충북70아1234,19870312120000,031212,00008,4605500,1331800,5,E9801,,"
                        "127.928364,36.997310",
                        "충북71바9999,19870311080000,031108,00008,4605336,1331676,3,E9899,,"
                        "127.923809,36.993866"}));
  // One group for all days of the range, dated with the start day; an unknown company stays
  // empty.
  const std::string log = Path("carloc_hst-충주-19870310-19870312.log");
  EXPECT_EQ(ReadFile949(log), Cp949Lines({kSummaryHeader, ",충북70아1234,'1987/03/10',3,3,5",
                                          ",충북71바9999,'1987/03/10',1,1,3"}));
  EXPECT_TRUE(recorder_.Shown(2, "s_ThreadWorker2 ncnt[4] elapsed[0]sec"));
  EXPECT_TRUE(recorder_.Shown(2, "s_ThreadWorker2 onc_cd 0[1] 1[1] 2[0] 3[1] etc[1]"));

  // The same run with the conversion switched off rewrites both files. The worker's last
  // company (E9899) is not the first group's, so both are looked up again.
  const auto lookups = recorder_.Texts(1, "============== START GetCO_NM(").size();
  bessel_ = 0;
  EXPECT_EQ(Run(in), ExportOutcome::kGood);
  EXPECT_EQ(ReadFile949(dat),
            Cp949Lines({kExportHeader, header2.c_str(),
                        "충북70아1234,19870310235900,031023,00008,4605336,1331676,0,E9801,777,"
                        "0.000000,0.000000",
                        "충북70아1234,19870311000100,031100,00008,4605400,1331700,1,E9801,777,"
                        "0.000000,0.000000",
                        "충북70아1234,19870312120000,031212,00008,4605500,1331800,5,E9801,,"
                        "0.000000,0.000000",
                        "충북71바9999,19870311080000,031108,00008,4605336,1331676,3,E9899,,"
                        "0.000000,0.000000"}));
  EXPECT_EQ(ReadFile949(log), Cp949Lines({kSummaryHeader, ",충북70아1234,'1987/03/10',3,3,5",
                                          ",충북71바9999,'1987/03/10',1,1,3"}));
  EXPECT_EQ(recorder_.Texts(1, "============== START GetCO_NM(").size(), lookups + 2);
}

// Korean text in the columns fetched wide reaches the files as its code page 949 bytes, and the
// narrow vehicle number and the all-wide fetch write the same files.
TEST_F(ExportRunTest, KoreanDriverIdReachesTheFilesOnBothFetchPaths) {
  Rows("'19870205'",
       "('서울12가3456','19870205080000','19870205','00001','4571208','1352394','0','E9001',"
       "'E9001김철수'),"
       "('서울12가3457','19870205080100','19870205','00001','4571300','1352500','1','E9002',"
       "'E9002Müller')");
  const std::string dat = Path("carloc_hst-서울대구-19870205.dat");
  const std::string log = Path("carloc_hst-서울대구-19870205.log");
  ExportOptions wide;
  wide.bWideFetch = true;
  ASSERT_EQ(Run({1, "19870205", "", ""}, wide), ExportOutcome::kGood);
  const std::string wideDat = ReadFile949(dat);
  const std::string wideLog = ReadFile949(log);
  ASSERT_EQ(Run({1, "19870205", "", ""}), ExportOutcome::kGood);
  EXPECT_EQ(ReadFile949(dat),
            Cp949Lines({kExportHeader, kDayHeader2,
                        "서울12가3456,19870205080000,020508,00001,4571208,1352394,0,E9001,김철수,"
                        "126.975884,37.569279",
                        "서울12가3457,19870205080100,020508,00001,4571300,1352500,1,E9002,M?ller,"
                        "126.978439,37.572223"}));
  EXPECT_NE(ReadFile949(dat).find(",E9001,\xb1\xe8\xc3\xb6\xbc\xf6,"), std::string::npos);
  EXPECT_EQ(ReadFile949(dat), wideDat);
  EXPECT_EQ(ReadFile949(log), wideLog);
}

// Line ends in a vehicle number or a driver id once broke three rows into four export lines.
// Every control byte of a value becomes a space: in the export, the summary and the run-log
// lines that quote values (the periodic row line, the cut-value line).
TEST_F(ExportRunTest, LineEndsInValuesBecomeSpaces) {
  const std::string tail = std::string(20, 'x') + "\\n\\t" + std::string(40, 'y');
  Rows("'19870206'",
       "(E'서울\\n12가', '19870206080000', '19870206', '00001', '4571208', '1352394', '0', "
       "'E9001', E'E9001D\\r\\n1'),"
       "(E'서울\\n12가', '19870206080100', '19870206', '00001', '4571300', '1352500', '1', "
       "'E9001', E'E9001D\\n2'),"
       "(E'X\\r\\n1', '19870206080200', '19870206', '00001', '4571400', '1352600', '2', "
       "'E9002', E'E9002" + tail + "')");
  state_.nPeriodic = 9999;  // the first row writes the periodic row line
  ASSERT_EQ(Run({1, "19870206", "", ""}), ExportOutcome::kGood);
  // The driver id is longer than its column: cut to 63 bytes in the files, whole in the log.
  const std::string shown = std::string(20, 'x') + "  " + std::string(40, 'y');
  const std::string cut = shown.substr(0, 58);
  EXPECT_EQ(ReadFile949(Path("carloc_hst-서울대구-19870206.dat")),
            Cp949Lines({kExportHeader, kDayHeader2,
                        ("X  1,19870206080200,020608,00001,4571400,1352600,2,E9002," + cut +
                         ",126.981217,37.575000").c_str(),
                        "서울 12가,19870206080000,020608,00001,4571208,1352394,0,E9001,D  1,"
                        "126.975884,37.569279",
                        "서울 12가,19870206080100,020608,00001,4571300,1352500,1,E9001,D 2,"
                        "126.978439,37.572223"}));
  EXPECT_EQ(ReadFile949(Path("carloc_hst-서울대구-19870206.log")),
            Cp949Lines({kSummaryHeader, "시험교통,X  1,'1987/02/06',1,1,2",
                        "테스트운수(주),서울 12가,'1987/02/06',2,2,1"}));
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker ncnt[0000000001] X  1,19870206080200,020608,"
                               "00001,4571400,1352600,2,E9002,E9002" + cut));
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker ncnt[1] column[8] longer than 63 bytes, cut[E9002" +
                                   shown + "]"));
  // Every line of the run log is one of its own lines, starting with its time.
  std::istringstream runLog(ReadFile949(std::string(g_szExeDir) + "/20260107/2026010713-1.log"));
  for (std::string line; std::getline(runLog, line);) {
    EXPECT_EQ(line.rfind("2026/01/07 13:05:09 ", 0), 0u) << line;
  }
}

TEST_F(ExportRunTest, DayWithoutRowsLeavesHeadersAndZeroCounts) {
  Rows("'19870401'", "");
  EXPECT_EQ(Run({1, "19870401", "", ""}), ExportOutcome::kGood);
  EXPECT_EQ(ReadFile949(Path("carloc_hst-서울대구-19870401.dat")),
            Cp949Lines({kExportHeader, kDayHeader2}));
  EXPECT_EQ(ReadFile949(Path("carloc_hst-서울대구-19870401.log")), Cp949Lines({kSummaryHeader}));
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker ncnt[0] elapsed[0]sec"));
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker onc_cd 0[0] 1[0] 2[0] 3[0] etc[0]"));
}

TEST_F(ExportRunTest, PeriodicRowLineEveryTenThousandRowsAcrossRuns) {
  const std::string gen =
      "insert into carloc_hst_lst (car_no, cre_dt, cre_day, area_cd, car_x, car_y, onc_cd, "
      "tax_coid, drv_uid) select 'P' || lpad((g / 100)::text, 4, '0'), '%DAY%' || "
      "lpad(g::text, 6, '0'), '%DAY%', '00001', (4571208 + g % 97)::text, (1352394 + g % 89)"
      "::text, (g % 4)::text, 'E9001', 'E9001' || g from generate_series(1, %N%) g";
  auto insert = [&](const std::string& day, int n) {
    std::string sql = gen;
    for (std::size_t p; (p = sql.find("%DAY%")) != std::string::npos;) sql.replace(p, 5, day);
    sql.replace(sql.find("%N%"), 3, std::to_string(n));
    Exec(sql);
  };
  Rows("'19870501','19870502'", "");
  insert("19870501", 24000);
  insert("19870502", 7000);

  EXPECT_EQ(Run({1, "19870501", "", ""}), ExportOutcome::kGood);
  EXPECT_EQ(recorder_.Texts(1, "s_ThreadWorker ncnt[0"),
            (std::vector<std::string>{
                "s_ThreadWorker ncnt[0000010000] P0100,19870501010000,050101,00001,4571217,"
                "1352426,0,E9001,E900110000",
                "s_ThreadWorker ncnt[0000020000] P0200,19870501020000,050102,00001,4571226,"
                "1352458,0,E9001,E900120000"}));
  EXPECT_EQ(state_.nPeriodic, 4000);

  // The worker's next run goes on counting: its first line comes at its 6000th row.
  EXPECT_EQ(Run({1, "19870502", "", ""}), ExportOutcome::kGood);
  const auto lines = recorder_.Texts(1, "s_ThreadWorker ncnt[0");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].substr(0, 32), "s_ThreadWorker ncnt[0000006000] ");
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker ncnt[7000] elapsed[0]sec"));
}

TEST_F(ExportRunTest, FilesThatCannotBeCreatedOrRenamedLeaveNothingNew) {
  Rows("'19870601'", "('서울12가3456','19870601080000','19870601','00001','1','2','0','E9001','E9001')");
  const std::string dat = Path("carloc_hst-서울대구-19870601.dat");
  const std::string log = Path("carloc_hst-서울대구-19870601.log");

  // A folder where the export file is written.
  fs::create_directory(SysPath(Tmp(dat).c_str()));
  EXPECT_EQ(Run({1, "19870601", "", ""}), ExportOutcome::kFailed);
  EXPECT_TRUE(recorder_.Shown(1, "fopen error[" + Tmp(dat) + "]"));
  EXPECT_FALSE(Exists949(Tmp(log)));
  EXPECT_TRUE(fs::is_directory(SysPath(Tmp(dat).c_str())));
  fs::remove(SysPath(Tmp(dat).c_str()));

  // A folder where the summary file is written: the export file is removed again.
  fs::create_directory(SysPath(Tmp(log).c_str()));
  EXPECT_EQ(Run({1, "19870601", "", ""}), ExportOutcome::kFailed);
  EXPECT_TRUE(recorder_.Shown(1, "fopen error[" + Tmp(log) + "]"));
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker run failed, removed[" + Tmp(dat) + "]"));
  EXPECT_FALSE(Exists949(Tmp(dat)));
  EXPECT_FALSE(Exists949(dat));
  EXPECT_FALSE(Exists949(log));
  EXPECT_TRUE(fs::is_directory(SysPath(Tmp(log).c_str())));
  EXPECT_TRUE(recorder_.Texts(1, kExportSelect).empty());
  EXPECT_EQ(flag_.load(), 0);
  fs::remove(SysPath(Tmp(log).c_str()));

  // The export cannot take its final name (held open by a reader on Windows; here a folder):
  // the earlier summary is put back and the new files go.
  std::ofstream(SysPath(log.c_str()), std::ios::binary) << "earlier\r\n";
  fs::create_directories(SysPath(dat.c_str()) + "/held");
  EXPECT_EQ(Run({1, "19870601", "", ""}), ExportOutcome::kFailed);
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker rename error[" + Tmp(dat) + "]=>[" + dat +
                               "][Is a directory]"));
  EXPECT_EQ(ReadFile949(log), "earlier\r\n");
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker run failed, kept the earlier file[" + log + "]"));
  EXPECT_FALSE(Exists949(Tmp(dat)) || Exists949(Tmp(log)) ||
               Exists949(RunAsideName(log, ::getpid(), 1)));
}

// A full disk is met on a real small file system in the workers' fault tests: a link to
// /dev/full at a temporary name is never written through, as temporary files are only ever
// created new.
TEST_F(ExportRunTest, LinksAtTheTemporaryNamesAreNeverFollowed) {
  Rows("'19870602'", "('서울12가3456','19870602080000','19870602','00001','1','2','0','E9001','E9001')");
  const std::string dat = Path("carloc_hst-서울대구-19870602.dat");
  const std::string log = Path("carloc_hst-서울대구-19870602.log");
  for (const std::string* linked : {&dat, &log}) {
    fs::create_symlink("/dev/full", SysPath(Tmp(*linked).c_str()));
    EXPECT_EQ(Run({1, "19870602", "", ""}), ExportOutcome::kFailed);
    EXPECT_TRUE(recorder_.Shown(1, "fopen error[" + Tmp(*linked) + "]"));
    EXPECT_FALSE(Exists949(dat));
    EXPECT_FALSE(Exists949(log));
    EXPECT_TRUE(fs::is_symlink(SysPath(Tmp(*linked).c_str())));
    fs::remove(SysPath(Tmp(*linked).c_str()));
  }
}

TEST_F(ExportRunTest, StatementRejectedByTheServer) {
  // On a scratch connection whose search path holds no location table.
  Database scratch;
  ASSERT_EQ(OpenDB(&scratch, SandboxConnectString(kSandboxScratchDsn).c_str()), 1);
  SandboxExec(kSandboxScratchDsn, "create schema if not exists zelvik_export_empty");
  {
    Recordset rs(&scratch);
    rs.Open("set search_path to zelvik_export_empty");
  }
  EXPECT_EQ(ExportLocationHistory({3, "19870603", "19870604", "00003"}, &scratch, flag_, bessel_,
                                  state_, nullptr),
            ExportOutcome::kFailed);
  const auto errors = recorder_.Texts(3, "s_ThreadWorker3 Error: open recordset or GetRecordCount[");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("cre_day <= '19870604' order by area_cd,car_no,cre_dt;]["),
            std::string::npos);
  EXPECT_NE(errors[0].find("carloc_hst_lst"), std::string::npos) << errors[0];
  EXPECT_FALSE(Exists949(Path("carloc_hst-대구-19870603-19870604.dat")));
  EXPECT_FALSE(Exists949(Path("carloc_hst-대구-19870603-19870604.log")));
  EXPECT_TRUE(recorder_.Shown(3, "s_ThreadWorker3 ncnt[0] elapsed[0]sec"));
  EXPECT_EQ(flag_.load(), 0);
}

// 12000 rows: more than one block of the driver, so that rows are still to come at row 10000.
class InterruptedRunTest : public ExportRunTest {
 protected:
  void SetUp() override {
    ExportRunTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    // Each test a day of its own, as the tests may run at the same time.
    day_ = std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())
                   .find("Killed") != std::string::npos
               ? "19870701"
               : "19870702";
    Rows("'" + day_ + "'", "");
    Exec("insert into carloc_hst_lst (car_no, cre_dt, cre_day, area_cd, car_x, car_y, onc_cd, "
         "tax_coid, drv_uid) select 'K' || lpad((g / 50)::text, 4, '0'), '" + day_ + "' || "
         "lpad(g::text, 6, '0'), '" + day_ + "', '00003', '4629650', '1291370', '1', 'E9002', "
         "'E9002' || g from generate_series(1, 12000) g");
  }
  // Runs fn on the run's thread when the row line of row 10000 is logged.
  void AtRow10000(std::function<void()> fn) {
    recorder_.SetHook([fn](const std::string& text) {
      if (text.find("ncnt[0000010000]") != std::string::npos) fn();
    });
  }
  void ExpectNothingLeft() {
    const std::string base = Path("carloc_hst-서울대구-") + day_;
    EXPECT_FALSE(Exists949(base + ".dat"));
    EXPECT_FALSE(Exists949(base + ".log"));
    EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker run failed, removed[" + Tmp(base + ".dat") + "]"));
    EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker run failed, removed[" + Tmp(base + ".log") + "]"));
    EXPECT_FALSE(Exists949(Tmp(base + ".dat")));
    EXPECT_FALSE(Exists949(Tmp(base + ".log")));
    EXPECT_EQ(flag_.load(), 0);
  }
  std::string day_;
};

TEST_F(InterruptedRunTest, ServerConnectionKilledInTheMiddleOfTheRows) {
  std::string pid;
  {
    Recordset rs(&db_);
    rs.Open("select pg_backend_pid()");
    rs.GetFieldValue(0, pid);
  }
  AtRow10000([&] { Exec("select pg_terminate_backend(" + pid + ")"); });
  EXPECT_EQ(Run({1, day_, "", ""}), ExportOutcome::kFailed);
  EXPECT_EQ(recorder_.Texts(1, "s_ThreadWorker Error: open recordset or GetRecordCount[").size(),
            1u);
  const auto ends = recorder_.Texts(1, "s_ThreadWorker ncnt[1");
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_NE(ends[0], "s_ThreadWorker ncnt[12000] elapsed[0]sec");
  ExpectNothingLeft();
}

TEST_F(InterruptedRunTest, CancelledFromAnotherThreadStopsAtTheNextRow) {
  AtRow10000([&] {
    std::thread forcedEnd([&] {
      cancel_.Cancel();
      db_.CancelRunning();
    });
    forcedEnd.join();
  });
  EXPECT_EQ(Run({1, day_, "", ""}), ExportOutcome::kFailed);
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker cancelled at ncnt[10000]"));
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker ncnt[10000] elapsed[0]sec"));
  ExpectNothingLeft();

  // Cancelled before it starts: no statement is sent.
  const auto statements = recorder_.Texts(1, kExportSelect).size();
  EXPECT_EQ(Run({1, day_, "", ""}), ExportOutcome::kFailed);
  EXPECT_EQ(recorder_.Texts(1, kExportSelect).size(), statements + 1);  // logged, not sent
  EXPECT_TRUE(recorder_.Shown(1, "s_ThreadWorker cancelled at ncnt[0]"));
  ExpectNothingLeft();
}

TEST_F(ExportRunTest, RefusedAreaTextMakesNoFileAndSendsNothing) {
  flag_ = 1;
  EXPECT_EQ(Run({4, "19870801", "19870802", "00001') or ('1'='1"}), ExportOutcome::kRefused);
  EXPECT_TRUE(recorder_.Shown(4, "s_ThreadWorker4 area text refused[00001') or ('1'='1]: codes of "
                               "letters and digits joined by ',' only"));
  EXPECT_TRUE(recorder_.Texts(4, kExportSelect).empty());
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_TRUE(entry.is_directory()) << entry.path();  // only the run log's day folder
  }
  EXPECT_EQ(flag_.load(), 0);
}

}  // namespace
}  // namespace zelvik
