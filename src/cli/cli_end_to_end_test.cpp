// zelvik-cli against the sandbox database: the program as an operator or a service runs it.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/file_bytes.h"
#include "testing/sandbox.h"
#include "testing/test_folder.h"
#include "util/build_pace.h"
#include "util/codepage.h"

extern char** environ;

namespace zelvik {
namespace {

namespace fs = std::filesystem;
using sandbox::kSandboxDevDsn;
using sandbox::SandboxExec;

const char* kExportHeader =
    "#차량번호,일자,생성월,지역코드,좌표X(bessel),좌표Y(bessel),승빈차코드,회사코드,운전자ID,"
    "좌표X(wgs84),좌표Y(wgs84)";
const char* kDayHeader2 =
    "#지역코드(서울:'00001',대구:'00003',대구:'00003'), 승빈차코드 (공차→공차:0, 공차→승차:1,"
    "승차→공차:2, 승차→승차:3)";
const char* kSummaryHeader = "회사명,차량번호,일자,레코드수,승빈차변경횟수,마지막-승빈차코드";

// One run of the program, its output kept in files.
class Cli {
 public:
  explicit Cli(const fs::path& dir) : out_(dir / "stdout.txt"), err_(dir / "stderr.txt") {}

  // Starts the program with the arguments and extra environment entries.
  void Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {ZELVIK_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (std::string& a : argv) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    std::vector<std::string> envs = env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("ZELVIK_PWD=", 0) != 0) envs.emplace_back(*e);
    }
    std::vector<char*> cenv;
    for (std::string& e : envs) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    ASSERT_EQ(posix_spawn(&pid_, cargs[0], &actions, nullptr, cargs.data(), cenv.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  // Waits for the end (at most timeoutMs); the exit status, or -1 when it did not end.
  int Wait(int timeoutMs = 120000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      if (std::chrono::steady_clock::now() > end) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  int Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    Start(args, env);
    return Wait();
  }
  void Signal(int sig) { kill(pid_, sig); }
  pid_t Pid() const { return pid_; }
  std::string Out() const { return ReadBytes(out_); }
  std::string Err() const { return ReadBytes(err_); }

 private:
  fs::path out_, err_;
  pid_t pid_ = -1;
};

class CliEndToEndTest : public TestFolderTest {
 protected:
  void SetUp() override {
    ZELVIK_REQUIRE_SANDBOX();
    TestFolderTest::SetUp();
    home_ = dir_ / "home";
    fs::create_directories(home_);
  }
  // Replaces the location rows of the days (SQL list) by the value tuples (UTF-8).
  static void Rows(const std::string& daysIn, const std::string& values) {
    SandboxExec(kSandboxDevDsn, "delete from carloc_hst_lst where cre_day in (" + daysIn + ")");
    if (values.empty()) return;
    SandboxExec(kSandboxDevDsn,
                "insert into carloc_hst_lst (car_no, cre_dt, cre_day, area_cd, car_x, car_y, "
                "onc_cd, tax_coid, drv_uid) values " + values);
  }
  static void Company(const std::string& coid, const std::string& name) {
    SandboxExec(kSandboxDevDsn, "delete from carco_mst where coid = '" + coid + "'");
    SandboxExec(kSandboxDevDsn,
                "insert into carco_mst (coid, co_nm) values ('" + coid + "', '" + name + "')");
  }
  // Every run log and summary under the program directory, joined.
  std::string AllLogs() { return ReadAllLogs(home_); }

  fs::path home_;
};

TEST_F(CliEndToEndTest, DayExportsTheFilesAndCleanConvertsTheFolder) {
  Company("W9101", "연습운수(주)");
  SandboxExec(kSandboxDevDsn, "delete from carco_mst where coid = 'W9102'");
  Rows("'19910521'",
       "('서울12가3456','19910521080100','19910521','00001','4571300','1352500','1','W9101','W9101D01'),"
       "('서울12가3456','19910521080000','19910521','00001','4571208','1352394','1','W9101','W9101D01'),"
       "('서울12가3456','19910521080200','19910521','00001','4571400','1352600','3','W9101','W9101D02'),"
       "('대구34나5678','19910521090000','19910521','00003','4629650','1291370','2','W9102','W9102K7'),"
       "('대구34나5678','19910521090100','19910521','00003','4629700','1291400','2','W9102','W9102K7'),"
       "('청주56다7890','19910521080000','19910521','00007','4589604','1319112','0','W9101','W9101X')");
  Cli cli(dir_);
  ASSERT_EQ(cli.Run({"--home", home_.string(), "--ignore-quiet-hours", "day", "19910521"}), 0)
      << cli.Err();
  EXPECT_EQ(ReadBytes(home_ / "carloc_hst-서울대구-19910521.dat"),
            Cp949Lines({kExportHeader, kDayHeader2,
                        "서울12가3456,19910521080000,052108,00001,4571208,1352394,1,W9101,D01,"
                        "126.975884,37.569279",
                        "서울12가3456,19910521080100,052108,00001,4571300,1352500,1,W9101,D01,"
                        "126.978439,37.572223",
                        "서울12가3456,19910521080200,052108,00001,4571400,1352600,3,W9101,D02,"
                        "126.981217,37.575000",
                        "대구34나5678,19910521090000,052109,00003,4629650,1291370,2,W9102,K7,"
                        "128.599165,35.874402",
                        "대구34나5678,19910521090100,052109,00003,4629700,1291400,2,W9102,K7,"
                        "128.600554,35.875235"}));
  EXPECT_EQ(ReadBytes(home_ / "carloc_hst-서울대구-19910521.log"),
            Cp949Lines({kSummaryHeader, "연습운수(주),서울12가3456,'1991/05/21',3,2,3",
                        ",대구34나5678,'1991/05/21',2,1,2"}));
  // Pane lines on standard output, UTF-8, prefixed with the pane number.
  const std::string out = cli.Out();
  EXPECT_NE(out.find("[1] "), std::string::npos);
  EXPECT_NE(out.find(" ------------------------------- s_ThreadWorker START g_bstop[0] "),
            std::string::npos);
  EXPECT_NE(out.find(" LoadMemoryCOM_NM ncnt[0]\n"), std::string::npos);
  EXPECT_NE(out.find(" s_ThreadWorker ncnt[5] elapsed["), std::string::npos);
  EXPECT_NE(out.find(" ------------------------------- s_ThreadWorker STOP g_bstop[0] "),
            std::string::npos);
  EXPECT_NE(cli.Err().find("s_ThreadWorker: good"), std::string::npos);
  // The company learned from the database went to the cache file.
  EXPECT_EQ(ReadBytes(home_ / "com_nm.cfg"), Cp949Lines({"W9101,연습운수(주)"}));

  // The clean-up of that folder: runs of code 1 and 2 of one vehicle reduced to their last line.
  Cli clean(dir_);
  ASSERT_EQ(clean.Run({"--home", home_.string(), "clean", home_.string()}), 0) << clean.Err();
  EXPECT_EQ(ReadBytes(home_ / "converted" / "carloc_hst-서울대구-19910521.dat"),
            Cp949Lines({kExportHeader, kDayHeader2,
                        "서울12가3456,19910521080000,052108,00001,4571208,1352394,0,W9101,D01,"
                        "126.975884,37.569279",
                        "서울12가3456,19910521080100,052108,00001,4571300,1352500,1,W9101,D01,"
                        "126.978439,37.572223",
                        "서울12가3456,19910521080200,052108,00001,4571400,1352600,3,W9101,D02,"
                        "126.981217,37.575000",
                        "대구34나5678,19910521090000,052109,00003,4629650,1291370,3,W9102,K7,"
                        "128.599165,35.874402",
                        "대구34나5678,19910521090100,052109,00003,4629700,1291400,2,W9102,K7,"
                        "128.600554,35.875235"}));
  EXPECT_NE(clean.Out().find(" ProcOnOffSum START nCnt[1] szpath["), std::string::npos);
  EXPECT_NE(clean.Out().find("/converted] failed[0]\n"), std::string::npos);

  // A relative folder names the folder it names from the current one ("." once passed as a
  // clean-up of nothing, with "good").
  fs::remove_all(home_ / "converted");
  const fs::path cwd = fs::current_path();
  fs::current_path(home_);
  Cli relative(dir_);
  const int relativeStatus = relative.Run({"--home", home_.string(), "clean", "."});
  fs::current_path(cwd);
  EXPECT_EQ(relativeStatus, 0) << relative.Err();
  EXPECT_TRUE(fs::exists(home_ / "converted" / "carloc_hst-서울대구-19910521.dat"));

  // verify reads the pair as the export wrote it, and changes nothing.
  Cli verify(dir_);
  EXPECT_EQ(verify.Run({"--home", home_.string(), "verify", "19910521"}), 0) << verify.Out();
  EXPECT_EQ(verify.Out(),
            "carloc_hst-서울대구-19910521: whole, 5 rows of 2 vehicles\n"
            "verify: 1 checked: 1 whole, 0 missing, 0 damaged, 0 in progress; 0 left by ended "
            "runs\n");

  // Nothing can be converted where "converted" is a plain file: the run fails.
  fs::create_directories(dir_ / "blocked");
  fs::copy_file(home_ / "carloc_hst-서울대구-19910521.dat",
                dir_ / "blocked" / "carloc_hst-서울대구-19910521.dat");
  std::ofstream(dir_ / "blocked" / "converted") << "not a folder";
  Cli blocked(dir_);
  EXPECT_EQ(blocked.Run({"--home", home_.string(), "clean", (dir_ / "blocked").string()}), 1);
  EXPECT_NE(blocked.Out().find("/converted] failed[1]\n"), std::string::npos);
  EXPECT_NE(blocked.Err().find("s_ThreadWorker: failed"), std::string::npos);
  Rows("'19910521'", "");
}

TEST_F(CliEndToEndTest, RangeExportsTheAreaTextAndAWrongPasswordIsLoggedMasked) {
  SandboxExec(kSandboxDevDsn, "delete from carco_mst where coid = 'W9103'");
  Rows("'19910522','19910523'",
       "('대구34나5678','19910522090000','19910522','00003','4629650','1291370','0','W9103','W9103A'),"
       "('대구34나5678','19910523090100','19910523','00003','4629700','1291400','1','W9103','W9103A'),"
       "('서울12가3456','19910522080000','19910522','00001','4571208','1352394','0','W9103','W9103B')");
  fs::create_directories(dir_ / "good");
  fs::create_directories(dir_ / "wrong");
  Cli good(dir_ / "good");
  Cli wrong(dir_ / "wrong");
  fs::path wrongHome = dir_ / "wrong-home";
  // Both at once: each waits its 15-second first delay.
  good.Start({"--home", home_.string(), "--ignore-quiet-hours", "range", "19910522", "19910523"});
  wrong.Start({"--home", wrongHome.string(), "--ignore-quiet-hours", "range", "19910522",
               "19910523"},
              {"ZELVIK_PWD=notthepassword"});
  ASSERT_EQ(good.Wait(), 0) << good.Err();
  EXPECT_EQ(ReadBytes(home_ / "carloc_hst-대구-19910522-19910523.dat"),
            Cp949Lines({kExportHeader,
                        "#지역코드(00003), 승빈차코드 (공차→공차:0, 공차→승차:1,승차→공차:2, "
                        "승차→승차:3)",
                        "대구34나5678,19910522090000,052209,00003,4629650,1291370,0,W9103,A,"
                        "128.599165,35.874402",
                        "대구34나5678,19910523090100,052309,00003,4629700,1291400,1,W9103,A,"
                        "128.600554,35.875235"}));
  EXPECT_EQ(ReadBytes(home_ / "carloc_hst-대구-19910522-19910523.log"),
            Cp949Lines({kSummaryHeader, ",대구34나5678,'1991/05/22',2,2,1"}));
  EXPECT_NE(good.Out().find("[2] "), std::string::npos);

  ASSERT_EQ(wrong.Wait(), 1);
  const std::string out = wrong.Out();
  EXPECT_NE(out.find(" OpenDB error[DSN=dbidc;UID=qarnimel;PWD=****]\n"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("notthepassword"), std::string::npos);
  home_ = wrongHome;
  EXPECT_NE(AllLogs().find("OpenDB error[DSN=dbidc;UID=qarnimel;PWD=****]\r\n"),
            std::string::npos);
  EXPECT_EQ(AllLogs().find("notthepassword"), std::string::npos);
  EXPECT_NE(wrong.Err().find("s_ThreadWorker2: no connection"), std::string::npos);
  Rows("'19910522','19910523'", "");
}

TEST_F(CliEndToEndTest, UnsafeAreaTextIsRefusedAndUsageErrorsExit2) {
  Cli refused(dir_);
  ASSERT_EQ(refused.Run({"--home", home_.string(), "--ignore-quiet-hours", "--area",
                         "00003') or ('1'='1", "range", "19910524", "19910524"}),
            1);
  EXPECT_NE(refused.Err().find("s_ThreadWorker2: area text refused"), std::string::npos);
  for (const auto& e : fs::directory_iterator(home_)) {
    EXPECT_NE(e.path().extension(), ".dat") << e.path();
  }

  Cli usage(dir_);
  EXPECT_EQ(usage.Run({"day", "2022-11-07"}), 2);
  EXPECT_EQ(usage.Err().rfind("zelvik-cli: day needs one day as YYYYMMDD\nusage: zelvik-cli", 0),
            0u);
  EXPECT_EQ(usage.Run({"--home", home_.string(), "clean", (dir_ / "missing").string()}), 2);
}

// Waits until the output holds the text (at most a minute).
bool WaitFor(const Cli& cli, const std::string& text) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (cli.Out().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

TEST_F(CliEndToEndTest, StoppedOrKilledExportsNeverLeaveAPartialDay) {
  // Enough rows that the statement and the rows take several seconds.
  SandboxExec(kSandboxDevDsn, "delete from carloc_hst_lst where cre_day = '19910525'");
  SandboxExec(kSandboxDevDsn,
              "insert into carloc_hst_lst (car_no, cre_dt, cre_day, area_cd, car_x, car_y, "
              "onc_cd, tax_coid, drv_uid) "
              "select '서울' || (k % 500)::text, '19910525' || lpad((k % 86400)::text, 6, '0'), "
              "'19910525', case when k % 2 = 0 then '00001' else '00003' end, "
              "(4571208 + k % 1000)::text, (1352394 + k % 700)::text, (k % 4)::text, "
              "'W91' || (k % 50)::text, 'W91D' || k::text "
              "from generate_series(1, 800000) as k");
  const std::vector<std::string> day = {"--home", home_.string(), "--ignore-quiet-hours", "day",
                                        "19910525"};
  const std::string dat = (home_ / "carloc_hst-서울대구-19910525.dat").string();
  const std::string sum = (home_ / "carloc_hst-서울대구-19910525.log").string();
  const std::string lock = (home_ / "zelvik.lock").string();  // made by the first publish
  auto files = [&] {  // the regular files of the home folder, in order
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(home_)) {
      if (e.is_regular_file()) out.insert(e.path().string());
    }
    return out;
  };

  // Stopped as soon as the statement has gone out: nothing is left.
  Cli cli(dir_);
  cli.Start(day);
  ASSERT_TRUE(WaitFor(cli, " select CONCAT("));
  auto stopped = std::chrono::steady_clock::now();
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(), 1);
  // One second of the stop command, then the forced end and its grace (one second, scaled in
  // a sanitizer build).
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5 + kBuildSlowdown));
  EXPECT_NE(cli.Err().find("s_ThreadWorker: failed"), std::string::npos) << cli.Err();
  EXPECT_TRUE(files().empty());

  // Killed in the middle of the rows: only the temporary files, named for process and worker.
  cli.Start(day);
  ASSERT_TRUE(WaitFor(cli, "ncnt[0000010000]"));
  cli.Signal(SIGKILL);
  EXPECT_EQ(cli.Wait(), 128 + SIGKILL);
  const std::string tmp = "." + std::to_string(cli.Pid()) + "-1.tmp";
  EXPECT_EQ(files(), (std::set<std::string>{dat + tmp, sum + tmp}));
  // verify lists them with what the next start will do, and changes nothing.
  Cli verify(dir_);
  EXPECT_EQ(verify.Run({"--home", home_.string(), "verify", "19910525"}), 1);
  EXPECT_NE(verify.Out().find("carloc_hst-서울대구-19910525: missing\n"), std::string::npos)
      << verify.Out();
  EXPECT_NE(verify.Out().find("the next start's repair would log: RepairFolder removed a "
                              "leftover of an ended run[" + dat + tmp + "]"),
            std::string::npos)
      << verify.Out();
  EXPECT_EQ(files(), (std::set<std::string>{dat + tmp, sum + tmp}));

  // The next start removes them before the run, which writes the day whole.
  ASSERT_EQ(cli.Run(day), 0) << cli.Err();
  EXPECT_NE(cli.Out().find(" RepairFolder removed a leftover of an ended run[" + dat + tmp),
            std::string::npos);
  EXPECT_EQ(files(), (std::set<std::string>{dat, sum, lock}));
  const std::string goodDat = ReadBytes(dat), goodSum = ReadBytes(sum);
  EXPECT_EQ(std::count(goodDat.begin(), goodDat.end(), '\n'), 2 + 800000);

  // A re-run that fails (a hang-up in the middle of the rows) keeps the good day and says so.
  cli.Start(day);
  ASSERT_TRUE(WaitFor(cli, "ncnt[0000010000]"));
  cli.Signal(SIGHUP);
  EXPECT_EQ(cli.Wait(), 1);
  EXPECT_NE(cli.Out().find(" s_ThreadWorker run failed, kept the earlier file[" + dat + "]"),
            std::string::npos)
      << cli.Out() << cli.Err();
  EXPECT_EQ(files(), (std::set<std::string>{dat, sum, lock}));
  EXPECT_TRUE(ReadBytes(dat) == goodDat && ReadBytes(sum) == goodSum);
  SandboxExec(kSandboxDevDsn, "delete from carloc_hst_lst where cre_day = '19910525'");
}

// A server that accepts the connection and never answers holds worker 1 inside the driver's
// connect, which no cancel reaches: a stop still ends the program at once, without it.
TEST_F(CliEndToEndTest, StopDuringAConnectThatNeverAnswersEndsTheProgramWithoutIt) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof(addr);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(::listen(listener, 8), 0);  // the kernel accepts; nobody ever answers
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  std::ofstream(dir_ / "odbc.ini") << "[stalled]\nDriver = PostgreSQL Unicode\n"
                                    << "Servername = 127.0.0.1\nPort = " << ntohs(addr.sin_port)
                                    << "\nDatabase = dispatch\n";
  // The one-shot day, and run catching up the day before yesterday (a worker left behind
  // once made a stopped run exit 0).
  for (const char* command : {"day", "run"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args = {"--home", home_.string(), "--dsn", "stalled",
                                     "--ignore-quiet-hours"};
    if (std::string(command) == "day") {
      args.insert(args.end(), {"day", "19910521"});
    } else {
      args.insert(args.end(), {"--catch-up", "2", "run"});
    }
    Cli cli(dir_);
    cli.Start(args, {"ODBCINI=" + (dir_ / "odbc.ini").string()});
    ASSERT_TRUE(WaitFor(cli, " s_ThreadWorker START "));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // inside the connect
    const auto stopped = std::chrono::steady_clock::now();
    cli.Signal(SIGTERM);
    EXPECT_EQ(cli.Wait(), 1);
    // The stop's second and the grace: far below the driver's 30-second login timeout.
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(10));
    EXPECT_NE(cli.Out().find(" s_ThreadWorker still inside a database call " +
                             std::to_string(1000 * kBuildSlowdown) +
                             " ms after its forced end: the program ends without it"),
              std::string::npos);
    EXPECT_NE(cli.Err().find("s_ThreadWorker: left inside a database call at the stop"),
              std::string::npos);
  }
  ::close(listener);
}

}  // namespace
}  // namespace zelvik
