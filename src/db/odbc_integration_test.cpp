// The connection and result sets against the sandbox dispatch database.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "db/connect_string.h"
#include "db/odbc.h"
#include "db/raw_text.h"
#include "testing/file_bytes.h"
#include "testing/program_home.h"
#include "testing/sandbox.h"
#include "util/codepage.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;
using namespace zelvik::sandbox;

class OdbcSandboxTest : public ProgramHomeTest {
 protected:
  void SetUp() override {
    ZELVIK_REQUIRE_SANDBOX();
    ProgramHomeTest::SetUp();
  }
  // Every run-log file of the test, concatenated.
  std::string AllLogs() { return ReadAllLogs(dir_); }
  void Open(Database& db, const std::string& dsn = kSandboxDsn) {
    ASSERT_EQ(OpenDB(&db, SandboxConnectString(dsn).c_str()), 1) << AllLogs();
    ASSERT_TRUE(db.IsOpen());
  }
};

TEST_F(OdbcSandboxTest, OpensBothPresetsAndCloses) {
  Database db;
  Open(db);
  db.Close();
  EXPECT_FALSE(db.IsOpen());
  db.Close();  // harmless
  Database dev;
  Open(dev, kSandboxDevDsn);
  EXPECT_EQ(AllLogs(), "");  // success is the caller's to log
}

TEST_F(OdbcSandboxTest, WrongPasswordLogsTheDriverTextWithoutThePassword) {
  Database db;
  std::string connect = "DSN=dbidc;UID=" + SandboxUser() + ";PWD=notthepassword77";
  EXPECT_EQ(OpenDB(&db, connect.c_str()), 0);
  EXPECT_FALSE(db.IsOpen());
  std::string log = AllLogs();
  std::string head = "OpenDB Error[DSN=dbidc;UID=" + SandboxUser() + ";PWD=****][";
  EXPECT_NE(log.find(head), std::string::npos) << log;
  EXPECT_NE(log.find("password authentication failed"), std::string::npos) << log;
  EXPECT_EQ(log.find("notthepassword77"), std::string::npos) << log;
  EXPECT_EQ(log.find('\n'), log.size() - 1) << "one line: " << log;
}

// Roles scripts/dispatch-db makes (role:password), each password one the connect string braces.
TEST_F(OdbcSandboxTest, PasswordsThatNeedBracesConnect) {
  for (const std::string entry : {"zelvik_semi:semi;colon9", "zelvik_brace:{braced}",
                                  "zelvik_inject:x;DSN=nowhere;PWD=y", "zelvik_every: a;b{c}}d=e "}) {
    std::string connect;
    const char* refused = "";
    ASSERT_TRUE(BuildConnectString(kSandboxDsn, entry.substr(0, entry.find(':')),
                                   entry.substr(entry.find(':') + 1), &connect, &refused));
    Database db;
    EXPECT_EQ(OpenDB(&db, connect.c_str()), 1) << entry << "\n" << AllLogs();
  }
}

// The day statement of the export, unchanged, over hand-made rows of a day no seed uses.
TEST_F(OdbcSandboxTest, ExportStatementReadsRowsInOrderAcrossBlocks) {
  const std::string day = "19000102";
  SandboxExec(kSandboxDsn, "delete from carloc_hst_lst where cre_day = '" + day + "'");
  SandboxExec(kSandboxDsn,
              "insert into carloc_hst_lst select case when i % 2 = 0 then '서울12아3456' "
              "else '대구34바7890' end, '" + day + "' || lpad(i::text, 6, '0'), '" + day +
              "', case when i % 2 = 0 then '00001' else '00003' end, (4571208 + i)::text, "
              "'1352394', (i % 4)::text, '1001', case when i = 7 then null else '100112345' end "
              "from generate_series(1, 2500) i");
  Database db;
  Open(db);
  Recordset rs(&db);
  rs.Open(
      "select CONCAT(UTL_RAW.CAST_TO_RAW(car_no), '00000000') as car_no, cre_dt, "
      "substr(cre_dt,5,6), area_cd, car_x, car_y, onc_cd, tax_coid,drv_uid from CARLOC_HST_LST "
      "where area_cd in ('00001','00003') and cre_day = '" + day +
      "' order by area_cd,car_no,cre_dt;");
  ASSERT_GT(rs.GetRecordCount(), 0);
  EXPECT_EQ(rs.GetODBCFieldCount(), 9);
  long n = 0;
  std::string prevKey;
  std::string value;
  for (; !rs.IsEOF(); rs.MoveNext()) {
    ++n;
    EXPECT_EQ(rs.GetRecordCount(), n);
    std::string key = std::string(rs.FieldView(3)) + std::string(rs.FieldView(1));
    ASSERT_LT(prevKey, key);
    prevKey = key;
    char szcar[64] = {};
    rs.GetFieldValue(0, value);
    DecodeRawText(szcar, sizeof(szcar), value);
    if (rs.FieldView(3) == "00001") {
      ASSERT_EQ(value, "EC849CEC9AB83132EC958433343536" "00000000");
      ASSERT_EQ(Hex(szcar), "BCADBFEF3132BEC633343536");  // 서울12아3456 in 949
    }
    int i = std::stoi(std::string(rs.FieldView(1)).substr(8));
    ASSERT_EQ(rs.FieldView(2), std::string(rs.FieldView(1)).substr(4, 6));
    ASSERT_EQ(rs.FieldView(4), std::to_string(4571208 + i));
    ASSERT_EQ(rs.FieldView(8), i == 7 ? "" : "100112345");  // NULL is the empty text
  }
  EXPECT_EQ(n, 2500);
  EXPECT_EQ(rs.GetRecordCount(), 2500);
  EXPECT_THROW(rs.MoveNext(), DbError);
  rs.Close();
  SandboxExec(kSandboxDsn, "delete from carloc_hst_lst where cre_day = '" + day + "'");
}

TEST_F(OdbcSandboxTest, WideTextComesBackIn949AndOverlongValuesAreCut) {
  Database db;
  Open(db);
  Recordset rs(&db);
  rs.OpenUtf8(
      "select 'Müller택시', 'a🚕b', repeat('가', 3000), '', null, 42, "
      "CONCAT(UTL_RAW.CAST_TO_RAW('회사'), '00000000')");
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.FieldView(0), "M?ller" + Kr("택시"));
  EXPECT_EQ(rs.FieldView(1), "a?b");
  std::string cut(rs.FieldView(2));
  EXPECT_EQ(cut.size(), 2 * 2048u);  // 2048 characters of two bytes each
  EXPECT_EQ(cut.substr(0, 2), Kr("가"));
  EXPECT_EQ(rs.FieldView(3), "");
  EXPECT_EQ(rs.FieldView(4), "");
  EXPECT_EQ(rs.FieldView(5), "42");
  EXPECT_EQ(rs.FieldView(6), "ED9A8CEC82AC00000000");
  // A cut never leaves half a surrogate pair behind (it would show as '?').
  Recordset pair(&db);
  pair.OpenUtf8("select repeat('가', 2047) || '🚕'");
  EXPECT_EQ(pair.FieldView(0).size(), 2 * 2047u);
  EXPECT_EQ(pair.FieldView(0).find('?'), std::string_view::npos);
  EXPECT_THROW(rs.FieldView(7), DbError);
  EXPECT_THROW(rs.FieldView(-1), DbError);
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_EQ(rs.GetRecordCount(), 1);
}

// Columns named ASCII come back narrow and unchanged; Korean text in such a column is never
// passed on (the driver's narrow text is in the locale's encoding, or its fetch fails).
TEST_F(OdbcSandboxTest, AsciiColumnsFetchedNarrowAndKoreanThereFails) {
  Database db;
  Open(db);
  Recordset rs(&db);
  rs.Open("select CONCAT(UTL_RAW.CAST_TO_RAW('" + Kr("회사") + "'), '00000000'), null, "
          "repeat('A', 3000), '" + Kr("김철수") + "'",
          FetchOptions{0b0111u});
  EXPECT_EQ(rs.FieldView(0), "ED9A8CEC82AC00000000");
  EXPECT_EQ(rs.FieldView(1), "");
  EXPECT_EQ(rs.FieldView(2), std::string(2048, 'A'));  // cut as the wide text is
  EXPECT_EQ(rs.FieldView(3), Kr("김철수"));
  Recordset korean(&db);
  EXPECT_THROW(
      {
        korean.Open("select 'abc', '" + Kr("김철수") + "'", FetchOptions{0b10u});
        (void)korean.FieldView(1);
      },
      DbError);
}

TEST_F(OdbcSandboxTest, EmptyResultAndRejectedStatement) {
  Database db;
  Open(db);
  Recordset rs(&db);
  rs.Open("select coid from CARCO_MST where COID = 'zelvik-none'");
  EXPECT_EQ(rs.GetRecordCount(), 0);
  EXPECT_TRUE(rs.IsEOF());
  try {
    rs.Open("select * from zelvik_no_such_table");
    FAIL() << "no exception";
  } catch (const DbError& e) {
    EXPECT_NE(e.m_strError.find("zelvik_no_such_table"), std::string::npos) << e.m_strError;
    EXPECT_EQ(e.m_strError.find('\n'), std::string::npos);
  }
  EXPECT_TRUE(rs.IsEOF());
  // The connection goes on working after a rejected statement.
  rs.Open("select 1");
  EXPECT_EQ(rs.FieldView(0), "1");
}

TEST_F(OdbcSandboxTest, SecondStatementWhileAResultIsOpen) {
  Database db;
  Open(db);
  Recordset big(&db);
  big.Open("select i::text as v from generate_series(1, 60000) i order by i");
  long n = 0;
  for (; !big.IsEOF(); big.MoveNext()) {
    ++n;
    ASSERT_EQ(big.FieldView(0), std::to_string(n));
    if (n == 25000) {
      Recordset small(&db);
      small.Open("select 'inner'");
      ASSERT_EQ(small.FieldView(0), "inner");
      // Even a failing statement in the middle leaves the outer result readable.
      EXPECT_THROW(small.Open("select * from zelvik_no_such_table"), DbError);
    }
  }
  EXPECT_EQ(n, 60000);
}

TEST_F(OdbcSandboxTest, CancelRunningEndsAStatementFromAnotherThread) {
  Database db;
  Open(db);
  std::thread canceller([&db] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    db.CancelRunning();
  });
  auto t0 = std::chrono::steady_clock::now();
  Recordset rs(&db);
  std::string error;
  try {
    rs.Open("select pg_sleep(30)");
  } catch (const DbError& e) {
    error = e.m_strError;
  }
  canceller.join();
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_NE(error.find("cancel"), std::string::npos) << error;
  EXPECT_LT(seconds, 10.0);
  db.CancelRunning();  // nothing running: harmless
  rs.Open("select 2");
  EXPECT_EQ(rs.FieldView(0), "2");
}

TEST_F(OdbcSandboxTest, ConnectionLostReachesTheCallerAsDbError) {
  Database db;
  Open(db, kSandboxScratchDsn);
  Recordset rs(&db);
  rs.Open("select pg_backend_pid()");
  std::string pid(rs.FieldView(0));
  rs.Close();
  SandboxExec(kSandboxScratchDsn, "select pg_terminate_backend(" + pid + ")");
  EXPECT_THROW(rs.Open("select 1"), DbError);
  // Closing the database with a set still open releases the set too.
  Database other;
  Open(other);
  Recordset left(&other);
  left.Open("select 1");
  other.Close();
  EXPECT_TRUE(left.IsEOF());
  EXPECT_THROW(left.Open("select 1"), DbError);
}

TEST_F(OdbcSandboxTest, ScratchSchemaIsMendedFromTheSchemaFile) {
  SandboxExec(kSandboxScratchDsn, "drop index if exists carloc_hst_lst_day_area");
  SandboxRestoreScratch();
  auto rows = SandboxQuery(kSandboxScratchDsn,
                           "select count(*) from pg_indexes where indexname = "
                           "'carloc_hst_lst_day_area'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "1");
  EXPECT_EQ(SandboxQuery(kSandboxScratchDsn, "select utl_raw.cast_to_raw('가')")[0][0], "EAB080");
  EXPECT_THROW(SandboxExec(kSandboxScratchDsn, "select * from zelvik_no_such_table"),
               std::runtime_error);
}

}  // namespace
}  // namespace zelvik
