#pragma once
// Support for integration tests against the sandbox dispatch database (scripts/dispatch-db).
//
// scripts/test starts the sandbox and exports what these helpers read. By hand:
//   scripts/dispatch-db start && eval "$(scripts/dispatch-db env)"
//   (cd build && ctest -L integration)
// Without that environment (a bare ctest run) SandboxAvailable() is false and a test that
// begins with ZELVIK_REQUIRE_SANDBOX() is skipped with a message saying so.
//
// Data sources, all with the user of the two presets:
//   kSandboxDsn        "dbidc"      database "dispatch"; only the production password works
//   kSandboxDevDsn     "db243"      database "dispatch"; any password works
//   kSandboxScratchDsn "dbscratch"  database "scratch", same tables: for tests that break
//                                   things (drop a table); SandboxRestoreScratch() mends it
// Tables: carloc_hst_lst (car_no, cre_dt, cre_day, area_cd, car_x, car_y, onc_cd, tax_coid,
// drv_uid) and carco_mst (coid, co_nm), all varchar. Tests run in parallel and share the
// databases: insert rows under keys of their own (a day or company id no other test uses)
// and delete them again.

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zelvik::sandbox {

inline constexpr const char* kSandboxDsn = "dbidc";
inline constexpr const char* kSandboxDevDsn = "db243";
inline constexpr const char* kSandboxScratchDsn = "dbscratch";

// True when the environment names a sandbox (ZELVIK_SANDBOX_DIR and ODBCINI set, the data
// source file present).
bool SandboxAvailable();

// "DSN=%s;UID=%s;PWD=%s" for the data source, with the user and the production password from
// the environment (the development password for db243), as the program builds it.
std::string SandboxConnectString(const std::string& dsn = kSandboxDsn);

// The user id and the production password the sandbox accepts.
std::string SandboxUser();
std::string SandboxPassword();

// Runs SQL given in UTF-8 (DDL or DML, e.g. inserts of hand-made rows, "drop table ...",
// "select pg_terminate_backend(...)") on its own connection to the data source. Throws
// std::runtime_error with the driver's text (UTF-8) when the connection or statement fails.
void SandboxExec(const std::string& dsn, const std::string& sqlUtf8);

// Runs a query on its own connection and returns every row, each column as code page 949
// text (NULL as the empty text). Throws like SandboxExec.
std::vector<std::vector<std::string>> SandboxQuery(const std::string& dsn,
                                                   const std::string& sqlUtf8);

// Recreates in the scratch database whatever of the schema is missing (tables, index, the
// raw-text function) after a test dropped it.
void SandboxRestoreScratch();

}  // namespace zelvik::sandbox

#define ZELVIK_REQUIRE_SANDBOX()                                                            \
  do {                                                                                      \
    if (!::zelvik::sandbox::SandboxAvailable()) {                                           \
      GTEST_SKIP() << "sandbox database not set up: run scripts/test, or "                   \
                      "'scripts/dispatch-db start && eval \"$(scripts/dispatch-db env)\"' " \
                      "before ctest";                                                       \
    }                                                                                       \
  } while (0)
