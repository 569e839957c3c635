#include "testing/sandbox.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

#include "db/odbc.h"
#include "util/codepage.h"

namespace zelvik::sandbox {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

[[noreturn]] void Throw(const std::string& what, const std::string& driverText949) {
  throw std::runtime_error(what + ": " + Cp949ToUtf8(driverText949));
}

void Connect(Database& db, const std::string& dsn) {
  try {
    if (!db.OpenEx(SandboxConnectString(dsn))) Throw("connect to " + dsn, "no connection");
  } catch (const DbError& e) {
    Throw("connect to " + dsn, e.m_strError);
  }
}

}  // namespace

bool SandboxAvailable() {
  std::string dir = Env("ZELVIK_SANDBOX_DIR");
  std::string ini = Env("ODBCINI");
  struct stat st;
  return !dir.empty() && !ini.empty() && ::stat(ini.c_str(), &st) == 0;
}

std::string SandboxUser() { return Env("ZELVIK_SANDBOX_UID"); }
std::string SandboxPassword() { return Env("ZELVIK_SANDBOX_PWD"); }

std::string SandboxConnectString(const std::string& dsn) {
  std::string pwd = dsn == kSandboxDevDsn ? Env("ZELVIK_SANDBOX_DEV_PWD") : SandboxPassword();
  return "DSN=" + dsn + ";UID=" + SandboxUser() + ";PWD=" + pwd;
}

void SandboxExec(const std::string& dsn, const std::string& sqlUtf8) {
  Database db;
  Connect(db, dsn);
  try {
    Recordset rs(&db);
    rs.OpenUtf8(sqlUtf8);
    rs.Close();
  } catch (const DbError& e) {
    Throw(sqlUtf8, e.m_strError);
  }
}

std::vector<std::vector<std::string>> SandboxQuery(const std::string& dsn,
                                                   const std::string& sqlUtf8) {
  Database db;
  Connect(db, dsn);
  std::vector<std::vector<std::string>> rows;
  try {
    Recordset rs(&db);
    rs.OpenUtf8(sqlUtf8);
    for (; !rs.IsEOF(); rs.MoveNext()) {
      auto& row = rows.emplace_back();
      for (int i = 0; i < rs.GetODBCFieldCount(); ++i) row.emplace_back(rs.FieldView(i));
    }
  } catch (const DbError& e) {
    Throw(sqlUtf8, e.m_strError);
  }
  return rows;
}

void SandboxRestoreScratch() {
  std::ifstream in(Env("ZELVIK_SANDBOX_DIR") + "/schema.sql");
  if (!in) throw std::runtime_error("schema.sql missing in ZELVIK_SANDBOX_DIR");
  std::stringstream sql;
  sql << in.rdbuf();
  SandboxExec(kSandboxScratchDsn, sql.str());
}

}  // namespace zelvik::sandbox
