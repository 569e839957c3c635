// Company-name lookups against the sandbox dispatch database.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "db/company_names.h"
#include "db/odbc.h"
#include "testing/file_bytes.h"
#include "testing/program_home.h"
#include "testing/sandbox.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;
using namespace zelvik::sandbox;

// Company ids of these tests; no seed uses the prefix "ZT".
const char* const kRows =
    "insert into carco_mst (coid, co_nm) values "
    "('ZT01', '한빛운수(주)'), ('ZT02', 'Müller택시'), ('ZT03', ''), ('ZT04', null), "
    "('ZT05', '동부,운수'), ('ZT06', repeat('가', 100)), ('ZT07', E'Good\\nZQ02,Forged\\r') "
    "on conflict (coid) do update set co_nm = excluded.co_nm";

class CompanyNamesSandboxTest : public ProgramHomeTest {
 protected:
  void SetUp() override {
    ZELVIK_REQUIRE_SANDBOX();
    ProgramHomeTest::SetUp();
    SandboxExec(kSandboxDsn, kRows);
    ASSERT_EQ(OpenDB(&db_, SandboxConnectString().c_str()), 1);
    LoadMemoryCOM_NM();  // no file yet: an empty cache
  }
  std::string Cfg() { return ReadBytes(dir_ / "com_nm.cfg"); }
  std::vector<std::string> LogLines() {
    std::ifstream in(dir_ / "20260107" / "2026010713-1.log", std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line.substr(20, line.size() - 21));
    return lines;
  }
  static std::string Statement(const std::string& id) {
    return "select CONCAT(UTL_RAW.CAST_TO_RAW(CO_NM), '00000000') as " + Kr("회사명") +
           " from CARCO_MST where COID = '" + id + "'";
  }

  Database db_;
};

TEST_F(CompanyNamesSandboxTest, FetchedOnceThenAnsweredFromCacheAndFile) {
  char out[128] = {};
  EXPECT_EQ(GetCO_NM(&db_, "ZT01", out), 1);
  const std::string name = Kr("한빛운수(주)");
  EXPECT_EQ(std::string(out), name);
  EXPECT_EQ(GetCO_NM(&db_, "ZT01", out), 1);
  EXPECT_EQ(std::string(out), name);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "LoadMemoryCOM_NM ncnt[0]",
                            "============== START GetCO_NM(ZT01)",
                            Statement("ZT01"),
                            "============== END GetCO_NM (ZT01) => (" + name + ")",
                            "============== START GetCO_NM(ZT01)",
                            "============== END GetCO_NM (ZT01) => (" + name + ")",
                        }));
  // Code page 949 with CR LF: ZT01,한빛운수(주)
  EXPECT_EQ(Cfg(), "ZT01,\xC7\xD1\xBA\xFB\xBF\xEE\xBC\xF6(\xC1\xD6)\r\n");
  // The next start reads it back.
  LoadMemoryCOM_NM();
  db_.Close();
  EXPECT_EQ(GetCO_NM(&db_, "ZT01", out), 1);
  EXPECT_EQ(std::string(out), name);
}

TEST_F(CompanyNamesSandboxTest, AwkwardNames) {
  char out[128] = {};
  EXPECT_EQ(GetCO_NM(&db_, "ZT02", out), 1);
  EXPECT_EQ(std::string(out), "M?ller" + Kr("택시"));
  EXPECT_EQ(GetCO_NM(&db_, "ZT03", out), 1);  // an empty name is still a hit
  EXPECT_STREQ(out, "");
  EXPECT_EQ(GetCO_NM(&db_, "ZT04", out), 1);  // NULL arrives as the eight zeros alone
  EXPECT_STREQ(out, "");
  EXPECT_EQ(GetCO_NM(&db_, "ZT05", out), 1);
  EXPECT_EQ(std::string(out), Kr("동부,운수"));
  std::string cut;
  for (int i = 0; i < 63; ++i) cut += Kr("가");
  EXPECT_EQ(GetCO_NM(&db_, "ZT06", out), 1);  // 200 bytes: cut to 63 characters
  EXPECT_EQ(std::string(out), cut);
  EXPECT_EQ(GetCO_NM(&db_, "ZT99", out), 0);  // no row: nothing cached or written
  EXPECT_STREQ(out, "");
  EXPECT_EQ(GetCO_NM(&db_, "ZT07", out), 1);  // line ends in a name would plant a company
  EXPECT_STREQ(out, "Good ZQ02,Forged ");
  EXPECT_EQ(LogLines().back(), "============== END GetCO_NM (ZT07) => (Good ZQ02,Forged )");
  EXPECT_EQ(Cfg(), "ZT02,M?ller" + Kr("택시") + "\r\nZT03,\r\nZT04,\r\nZT05," + Kr("동부,운수") +
                       "\r\nZT06," + cut + "\r\nZT07,Good ZQ02,Forged \r\n");
  // On the next start the empty names are skipped and the comma ends a name.
  LoadMemoryCOM_NM();
  std::lock_guard<std::mutex> lock(g_CompanyNameCache.Mutex());
  ASSERT_EQ(g_CompanyNameCache.Size(), 4u);
  EXPECT_EQ(std::string(g_CompanyNameCache.At(1).szCoNm), Kr("동부"));
  EXPECT_EQ(g_CompanyNameCache.Find("ZQ02", 4), nullptr);
}

TEST_F(CompanyNamesSandboxTest, FileThatCannotBeAppendedToStillCachesForTheRun) {
  fs::create_directory(dir_ / "com_nm.cfg");  // fopen for appending fails on a folder
  char out[128] = {};
  EXPECT_EQ(GetCO_NM(&db_, "ZT01", out), 1);
  EXPECT_EQ(GetCO_NM(&db_, "ZT01", out), 1);
  EXPECT_EQ(std::string(out), Kr("한빛운수(주)"));
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 6u);  // no message about the file; the second lookup sends nothing
  EXPECT_EQ(lines[2], Statement("ZT01"));
  EXPECT_EQ(lines[4], "============== START GetCO_NM(ZT01)");
}

TEST_F(CompanyNamesSandboxTest, QuotedIdIsNeverSent) {
  char out[128] = {};
  EXPECT_EQ(GetCO_NM(&db_, "ZT01' or ''='", out), 0);
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "GetCO_NM Error: quote in company id[ZT01' or ''='], no statement sent");
  EXPECT_FALSE(fs::exists(dir_ / "com_nm.cfg"));
}

TEST_F(CompanyNamesSandboxTest, LookupInTheMiddleOfAnotherResult) {
  Recordset rows(&db_);
  rows.Open("select i from generate_series(1, 30000) i");
  long n = 0;
  char out[128] = {};
  for (; !rows.IsEOF(); rows.MoveNext()) {
    if (++n == 15000) {
      ASSERT_EQ(GetCO_NM(&db_, "ZT01", out), 1);
    }
  }
  EXPECT_EQ(n, 30000);
  EXPECT_EQ(std::string(out), Kr("한빛운수(주)"));
}

TEST_F(CompanyNamesSandboxTest, DatabaseFailureIsLoggedWithTheStatement) {
  Database lost;
  ASSERT_EQ(OpenDB(&lost, SandboxConnectString(kSandboxScratchDsn).c_str()), 1);
  {
    Recordset rs(&lost);
    rs.Open("select pg_backend_pid()");
    SandboxExec(kSandboxScratchDsn, "select pg_terminate_backend(" + std::string(rs.FieldView(0)) + ")");
  }
  char out[128] = {};
  EXPECT_EQ(GetCO_NM(&lost, "ZT01", out), 0);
  EXPECT_STREQ(out, "");
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 5u);
  std::string head = "GetCO_NM error open recordset or GetRecordCount[" + Statement("ZT01") + "][";
  EXPECT_EQ(lines[3].substr(0, head.size()), head);
  EXPECT_GT(lines[3].size(), head.size() + 2);  // the driver's text
  EXPECT_EQ(lines[4], "============== END GetCO_NM (ZT01) => ()");
  EXPECT_FALSE(fs::exists(dir_ / "com_nm.cfg"));
}

// Four workers, each with its own connection, ask for the same new id at once: one statement,
// one cache entry, one line in the file.
TEST_F(CompanyNamesSandboxTest, ConcurrentLookupsFetchAnIdOnce) {
  std::vector<std::thread> workers;
  std::atomic<int> found{0};
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&found] {
      Database db;
      if (OpenDB(&db, SandboxConnectString().c_str()) != 1) return;
      for (int k = 0; k < 20; ++k) {
        char out[128] = {};
        found += GetCO_NM(&db, k % 2 == 0 ? "ZT01" : "ZT05", out);
      }
    });
  }
  for (auto& t : workers) t.join();
  EXPECT_EQ(found.load(), 80);
  std::string cfg = Cfg();
  EXPECT_EQ(cfg.size(), std::string("ZT01,\r\n").size() * 2 + Kr("한빛운수(주)").size() +
                            Kr("동부,운수").size());
  int statements = 0;
  for (const std::string& line : LogLines()) statements += line.rfind("select ", 0) == 0;
  EXPECT_EQ(statements, 2);
  std::lock_guard<std::mutex> lock(g_CompanyNameCache.Mutex());
  EXPECT_EQ(g_CompanyNameCache.Size(), 2u);
}

// A lookup whose statement is held up (the table locked) holds up neither a lookup of a
// cached id nor a cancelled lookup waiting for the same id; the id is still asked once.
TEST_F(CompanyNamesSandboxTest, BlockedStatementHoldsUpNeitherCachedNorCancelledLookups) {
  char out[128] = {};
  ASSERT_EQ(GetCO_NM(&db_, "ZT01", out), 1);
  const std::string lockSql =
      "do $$ begin lock table carco_mst in access exclusive mode; perform pg_sleep(60); end $$";
  std::thread locker([&] {
    try { SandboxExec(kSandboxDsn, lockSql); } catch (const std::exception&) {}  // cancelled
  });
  const std::string granted =
      "select count(*) from pg_locks l join pg_class c on c.oid = l.relation where c.relname = "
      "'carco_mst' and l.mode = 'AccessExclusiveLock' and l.granted";
  while (SandboxQuery(kSandboxDsn, granted)[0][0] != "1") std::this_thread::yield();
  char blocked[128] = {};
  std::thread asker([&] { GetCO_NM(&db_, "ZT05", blocked); });
  auto sent = [&] {
    auto lines = LogLines();
    return std::count(lines.begin(), lines.end(), Statement("ZT05"));
  };
  while (sent() == 0) std::this_thread::yield();
  EXPECT_EQ(GetCO_NM(nullptr, "ZT01", out), 1);
  CancelToken cancel;
  cancel.Cancel();
  std::strcpy(out, "x");
  EXPECT_EQ(GetCO_NM(nullptr, "ZT05", out, &cancel), 0);
  EXPECT_STREQ(out, "");
  SandboxExec(kSandboxDsn, "select pg_cancel_backend(pid) from pg_stat_activity where query = '" +
                               lockSql + "'");
  locker.join();
  asker.join();
  EXPECT_EQ(std::string(blocked), Kr("동부,운수"));
  EXPECT_EQ(sent(), 1);
}

}  // namespace
}  // namespace zelvik
