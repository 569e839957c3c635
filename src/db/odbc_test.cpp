#include "db/odbc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "testing/file_bytes.h"
#include "testing/program_home.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

class OpenDbTest : public ProgramHomeTest {
 protected:
  std::string Log() { return ReadBytes(dir_ / "20260107" / "2026010713-1.log"); }
};

TEST_F(OpenDbTest, EmptyConnectStringLogsNothing) {
  Database db;
  EXPECT_EQ(OpenDB(&db, ""), 0);
  EXPECT_EQ(OpenDB(&db, nullptr), 0);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(Log(), "");
}

TEST_F(OpenDbTest, DriverFailureIsLoggedWithThePasswordMasked) {
  Database db;
  EXPECT_EQ(OpenDB(&db, "DSN=zelvik_no_such_source;UID=u;PWD=topsecret"), 0);
  EXPECT_FALSE(db.IsOpen());
  std::string log = Log();
  EXPECT_EQ(log.rfind("2026/01/07 13:05:09 OpenDB Error[DSN=zelvik_no_such_source;UID=u;PWD=****][", 0),
            0u)
      << log;
  EXPECT_NE(log.find("Data source name not found"), std::string::npos) << log;
  EXPECT_EQ(log.find("topsecret"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 3), "]\r\n");  // one line
}

TEST(Recordset, NeedsAnOpenConnection) {
  Database db;
  Recordset rs(&db);
  EXPECT_THROW(rs.Open("select 1"), DbError);
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_EQ(rs.GetRecordCount(), 0);
  std::string value;
  EXPECT_THROW(rs.GetFieldValue(0, value), DbError);
  EXPECT_THROW(rs.MoveNext(), DbError);
  Recordset none(nullptr);
  EXPECT_THROW(none.Open("select 1"), DbError);
}

}  // namespace
}  // namespace zelvik
