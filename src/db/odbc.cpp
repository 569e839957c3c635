#include "db/odbc.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <vector>

#include "db/connect_string.h"
#include "db/sql_headers.h"
#include "log/run_log.h"
#include "util/ascii_text.h"
#include "util/codepage.h"
#include "util/format.h"

namespace zelvik {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver's wide text must be UTF-16");

namespace {

// Widest text bound per column, in UTF-16 units without the terminator. Every caller cuts
// longer values anyway (raw text at 2048 digits, column buffers at 63 bytes).
constexpr SQLULEN kMaxColumnUnits = 2048;
// Narrowest bound for a column whose declared size is small or unreliable.
constexpr SQLULEN kMinColumnUnits = 64;
// Rows fetched per block, and the memory a block of bound buffers may take. The bound widths
// are generous (about 13 KB a row for the export's statement) while the values are short, so a
// small block keeps what the driver has just written in the processor's caches until the rows
// are read. Measured on the day export: with 1000-row blocks (8 MB) reading the values took
// about 15 % of the client's processor time, with 64-row blocks about 5 %.
constexpr SQLULEN kMaxRowsPerBlock = 64;
constexpr SQLULEN kMinRowsPerBlock = 16;
constexpr std::size_t kBlockBudgetBytes = 8u << 20;

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

SQLWCHAR* Wide(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

// The driver's diagnostic records as one line of code page 949 text: records joined by a
// space, line breaks inside a message turned into spaces (a log line stays one line).
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN rc) {
  std::string text;
  for (SQLSMALLINT rec = 1; handle != nullptr; ++rec) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::vector<SQLWCHAR> msg(SQL_MAX_MESSAGE_LENGTH + 1);
    SQLSMALLINT len = 0;
    SQLRETURN r = SQLGetDiagRecW(type, handle, rec, state, &native, msg.data(),
                                 static_cast<SQLSMALLINT>(msg.size()), &len);
    if (r == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(len) >= msg.size()) {
      msg.assign(static_cast<std::size_t>(len) + 1, 0);
      r = SQLGetDiagRecW(type, handle, rec, state, &native, msg.data(),
                         static_cast<SQLSMALLINT>(msg.size()), &len);
    }
    if (!Succeeded(r)) break;
    std::size_t n = std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(len, 0)),
                             msg.size() - 1);
    std::string part =
        Utf16ToCp949(std::u16string_view(reinterpret_cast<const char16_t*>(msg.data()), n));
    for (char& c : part) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    while (!part.empty() && part.back() == ' ') part.pop_back();
    if (part.empty()) continue;
    if (!text.empty()) text.push_back(' ');
    text += part;
  }
  if (text.empty()) text = Format("ODBC call failed (return code %d)", static_cast<int>(rc));
  return text;
}

// The process-wide ODBC environment, created on first use and kept for the life of the
// process (connections of every thread hang off it).
SQLHENV Environment() {
  static SQLHENV env = [] {
    SQLHENV h = SQL_NULL_HENV;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h))) return SQLHENV{};
    SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return h;
  }();
  return env;
}

// How long a connect may take before the driver gives up. Slow links need 10 seconds or more;
// a stop does not wait for it (the program ends without a worker stuck in a connect).
constexpr SQLULEN kLoginTimeoutSeconds = 30;

// The driver switches the process locale while it connects (setlocale is not thread-safe),
// so connections are made and ended one at a time across the workers.
std::mutex g_connectMutex;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connection

struct Database::Impl {
  // Guards dbc and the list of open result sets against CancelRunning from another thread.
  std::mutex mutex;
  SQLHDBC dbc = SQL_NULL_HDBC;
  std::vector<Recordset::Impl*> sets;

  void Register(Recordset::Impl* set);
  void Unregister(Recordset::Impl* set);
  void DetachAll();
};

struct Recordset::Impl {
  struct Column {
    bool narrow = false;             // fetched as narrow text (ASCII by construction)
    SQLULEN units = 0;               // bound width per row, terminator included
    std::vector<SQLWCHAR> data;      // rows * units (wide)
    std::vector<char> bytes;         // rows * units (narrow)
    std::vector<SQLLEN> indicator;   // rows
    std::string text;                // the current row's value in code page 949 (wide)
    std::string_view view;           // the current row's value
    unsigned long long textRow = 0;  // rowSerial the value was taken for (0: none)
  };

  Database::Impl* db = nullptr;  // null once the connection went away
  SQLHSTMT stmt = SQL_NULL_HSTMT;  // guarded by db->mutex for CancelRunning
  bool open = false;
  bool eof = true;
  std::vector<Column> columns;
  std::uint32_t asciiColumns = 0;  // FetchOptions of the statement
  SQLULEN rowsPerBlock = 0;
  SQLULEN rowsFetched = 0;
  std::vector<SQLUSMALLINT> rowStatus;
  SQLULEN pos = 0;                 // current row within the block
  long rowsSeen = 0;               // rows stood on so far
  unsigned long long rowSerial = 0;

  void Execute(std::u16string statement);
  void Bind();
  void FetchBlock();
  void Release();  // frees the statement; the set is closed afterwards
  [[noreturn]] void Fail(SQLRETURN rc);
  std::string_view Value(int index);
};

void Database::Impl::Register(Recordset::Impl* set) {
  std::lock_guard<std::mutex> lock(mutex);
  sets.push_back(set);
}

void Database::Impl::Unregister(Recordset::Impl* set) {
  std::lock_guard<std::mutex> lock(mutex);
  sets.erase(std::remove(sets.begin(), sets.end(), set), sets.end());
}

// Closing the connection closes its result sets: their statements are freed and they count
// as closed (no longer tied to this connection).
void Database::Impl::DetachAll() {
  std::vector<Recordset::Impl*> detached;
  {
    std::lock_guard<std::mutex> lock(mutex);
    detached.swap(sets);
  }
  for (Recordset::Impl* set : detached) {
    set->db = nullptr;
    set->Release();
  }
}

Database::Database() : impl_(std::make_unique<Impl>()) {}

Database::~Database() { Close(); }

bool Database::OpenEx(const std::string& connect) {
  Close();
  SQLHENV env = Environment();
  if (env == SQL_NULL_HENV) throw DbError("ODBC environment could not be allocated");
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  if (!Succeeded(rc)) throw DbError(Diagnostics(SQL_HANDLE_ENV, env, rc));
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds),
                    0);

  std::u16string wide = Cp949ToUtf16(connect);
  SQLWCHAR completed[1024] = {};
  SQLSMALLINT completedLen = 0;
  std::unique_lock<std::mutex> connecting(g_connectMutex);
  rc = SQLDriverConnectW(dbc, nullptr, Wide(wide), static_cast<SQLSMALLINT>(wide.size()),
                         completed, static_cast<SQLSMALLINT>(std::size(completed)),
                         &completedLen, SQL_DRIVER_NOPROMPT);
  connecting.unlock();
  if (Succeeded(rc)) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->dbc = dbc;
    return true;
  }
  std::string text;
  if (rc != SQL_NO_DATA) text = Diagnostics(SQL_HANDLE_DBC, dbc, rc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  if (rc == SQL_NO_DATA) return false;
  throw DbError(std::move(text));
}

void Database::Close() {
  impl_->DetachAll();
  SQLHDBC dbc = SQL_NULL_HDBC;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::swap(dbc, impl_->dbc);
  }
  if (dbc == SQL_NULL_HDBC) return;
  std::lock_guard<std::mutex> connecting(g_connectMutex);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

bool Database::IsOpen() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->dbc != SQL_NULL_HDBC;
}

void Database::CancelRunning() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  for (Recordset::Impl* set : impl_->sets) {
    if (set->stmt != SQL_NULL_HSTMT) SQLCancel(set->stmt);
  }
}

// ---------------------------------------------------------------------------------------------
// Result set

void Recordset::Impl::Fail(SQLRETURN rc) {
  std::string text = Diagnostics(SQL_HANDLE_STMT, stmt, rc);
  Release();
  throw DbError(std::move(text));
}

void Recordset::Impl::Release() {
  SQLHSTMT h = SQL_NULL_HSTMT;
  if (db != nullptr) {
    db->Unregister(this);
    std::lock_guard<std::mutex> lock(db->mutex);
    std::swap(h, stmt);
  } else {
    std::swap(h, stmt);
  }
  if (h != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h);
  open = false;
  eof = true;
  columns.clear();
  rowStatus.clear();
  rowsFetched = 0;
  pos = 0;
}

void Recordset::Impl::Execute(std::u16string statement) {
  if (db == nullptr) throw DbError("the connection is not open");
  SQLHDBC dbc = SQL_NULL_HDBC;
  {
    std::lock_guard<std::mutex> lock(db->mutex);
    dbc = db->dbc;
  }
  if (dbc == SQL_NULL_HDBC) throw DbError("the connection is not open");
  SQLHSTMT h = SQL_NULL_HSTMT;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h);
  if (!Succeeded(rc)) throw DbError(Diagnostics(SQL_HANDLE_DBC, dbc, rc));
  {
    std::lock_guard<std::mutex> lock(db->mutex);
    stmt = h;
  }
  db->Register(this);
  SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY),
                 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY),
                 0);

  rc = SQLExecDirectW(stmt, Wide(statement), static_cast<SQLINTEGER>(statement.size()));
  if (!Succeeded(rc) && rc != SQL_NO_DATA) Fail(rc);
  open = true;
  eof = true;
  rowsSeen = 0;

  SQLSMALLINT count = 0;
  rc = SQLNumResultCols(stmt, &count);
  if (!Succeeded(rc)) Fail(rc);
  if (count <= 0) return;  // a statement without a result (DDL, insert): no rows
  columns.resize(static_cast<std::size_t>(count));
  Bind();
  FetchBlock();
  if (!eof) rowsSeen = 1;
}

// Binds every column as text, column-wise, over a block of rows: the width follows the
// declared size within [kMinColumnUnits, kMaxColumnUnits] (twice the size, so that characters
// outside the basic plane fit), and the block holds as many rows as the budget allows.
//
// Text is fetched wide (UTF-16) and converted here: a Unicode driver's narrow text is in an
// encoding this program does not choose (psqlODBC 13, measured). On Linux it is the process
// locale's, and a character the locale lacks fails the whole block's fetch; on Windows the ANSI
// code page's, with '?' for what it lacks and no error ("김철수" under 1252 arrives as "???").
// Only a column ASCII by construction (FetchOptions) is fetched narrow, the same everywhere; a
// byte above 0x7F there, or a failed fetch, ends the read with DbError.
void Recordset::Impl::Bind() {
  std::size_t rowBytes = 0;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    SQLWCHAR name[64] = {};
    SQLSMALLINT nameLen = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    SQLRETURN rc = SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(i + 1), name,
                                   static_cast<SQLSMALLINT>(std::size(name)), &nameLen, &type,
                                   &size, &digits, &nullable);
    if (!Succeeded(rc)) Fail(rc);
    SQLULEN units = kMaxColumnUnits;
    if (size > 0 && size < kMaxColumnUnits / 2) units = std::max(size * 2 + 8, kMinColumnUnits);
    Column& c = columns[i];
    c.narrow = i < 32 && ((asciiColumns >> i) & 1u) != 0;
    c.units = units + 1;
    rowBytes += c.units * (c.narrow ? 1 : sizeof(SQLWCHAR)) + sizeof(SQLLEN);
  }
  rowsPerBlock = std::clamp<SQLULEN>(kBlockBudgetBytes / std::max<std::size_t>(rowBytes, 1),
                                     kMinRowsPerBlock, kMaxRowsPerBlock);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    Column& c = columns[i];
    c.indicator.assign(rowsPerBlock, 0);
    SQLRETURN rc;
    if (c.narrow) {
      c.bytes.assign(c.units * rowsPerBlock, 0);
      rc = SQLBindCol(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_C_CHAR, c.bytes.data(),
                      static_cast<SQLLEN>(c.units), c.indicator.data());
    } else {
      c.data.assign(c.units * rowsPerBlock, 0);
      rc = SQLBindCol(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_C_WCHAR, c.data.data(),
                      static_cast<SQLLEN>(c.units * sizeof(SQLWCHAR)), c.indicator.data());
    }
    if (!Succeeded(rc)) Fail(rc);
  }
  rowStatus.assign(rowsPerBlock, 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN),
                 0);
  SQLRETURN rc = SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE,
                                reinterpret_cast<SQLPOINTER>(rowsPerBlock), 0);
  if (!Succeeded(rc)) Fail(rc);
  SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, rowStatus.data(), 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &rowsFetched, 0);
}

void Recordset::Impl::FetchBlock() {
  rowsFetched = 0;
  pos = 0;
  SQLRETURN rc = SQLFetch(stmt);
  if (rc == SQL_NO_DATA) {
    eof = true;
    return;
  }
  if (!Succeeded(rc)) Fail(rc);
  for (SQLULEN r = 0; r < rowsFetched; ++r) {
    // A row the driver could not deliver would otherwise be lost without a word.
    if (rowStatus[r] == SQL_ROW_ERROR) Fail(SQL_ERROR);
  }
  eof = rowsFetched == 0;
  ++rowSerial;
}

std::string_view Recordset::Impl::Value(int index) {
  if (!open || eof) throw DbError("no current row");
  if (index < 0 || static_cast<std::size_t>(index) >= columns.size()) {
    throw DbError(Format("column index %d out of range", index));
  }
  Column& c = columns[static_cast<std::size_t>(index)];
  if (c.textRow == rowSerial) return c.view;
  SQLLEN ind = c.indicator[pos];
  if (ind == SQL_NULL_DATA) {
    c.view = {};
    c.textRow = rowSerial;
    return c.view;
  }
  // A value longer than the bound width arrives cut by the driver (its indicator holds the
  // whole length, or SQL_NO_TOTAL); keep what fits, without half a surrogate pair.
  const std::size_t width = c.narrow ? 1 : sizeof(SQLWCHAR);
  std::size_t units = c.units - 1;
  bool cut = ind < 0 || static_cast<std::size_t>(ind) / width > units;
  if (!cut) units = static_cast<std::size_t>(ind) / width;
  if (c.narrow) {
    std::string_view bytes(c.bytes.data() + pos * c.units, units);
    if (!IsAsciiText(bytes)) {
      throw DbError(Format("column %d holds a byte above 0x7F, but its text must be ASCII",
                           index + 1));
    }
    c.view = bytes;
  } else {
    const SQLWCHAR* p = c.data.data() + pos * c.units;
    if (cut && units > 0 && p[units - 1] >= 0xD800 && p[units - 1] <= 0xDBFF) --units;
    std::u16string_view wide(reinterpret_cast<const char16_t*>(p), units);
    c.text.resize(units);
    if (!NarrowAscii(wide, c.text.data())) Utf16ToCp949(wide, &c.text);
    c.view = c.text;
  }
  c.textRow = rowSerial;
  return c.view;
}

Recordset::Recordset(Database* db) : impl_(std::make_unique<Impl>()) {
  impl_->db = db != nullptr ? db->impl() : nullptr;
}

Recordset::~Recordset() { Close(); }

void Recordset::Open(const std::string& statement, FetchOptions options) {
  if (impl_->stmt != SQL_NULL_HSTMT) impl_->Release();
  impl_->asciiColumns = options.asciiColumns;
  impl_->Execute(Cp949ToUtf16(statement));
}

void Recordset::OpenUtf8(std::string_view statementUtf8) {
  if (impl_->stmt != SQL_NULL_HSTMT) impl_->Release();
  impl_->asciiColumns = 0;
  impl_->Execute(Utf8ToUtf16(statementUtf8));
}

int Recordset::GetODBCFieldCount() const { return static_cast<int>(impl_->columns.size()); }

long Recordset::GetRecordCount() const { return impl_->rowsSeen; }

bool Recordset::IsEOF() const { return !impl_->open || impl_->eof; }

void Recordset::GetFieldValue(int index, std::string& value) const {
  value.assign(impl_->Value(index));
}

std::string_view Recordset::FieldView(int index) const { return impl_->Value(index); }

void Recordset::MoveNext() {
  Impl& s = *impl_;
  if (!s.open || s.eof) throw DbError("MoveNext past the end of the result");
  ++s.pos;
  if (s.pos >= s.rowsFetched) {
    s.FetchBlock();
  } else {
    ++s.rowSerial;
  }
  if (!s.eof) ++s.rowsSeen;
}

void Recordset::Close() { impl_->Release(); }

// ---------------------------------------------------------------------------------------------
// Opening a connection

int OpenDB(Database* db, const char* connect) {
  if (connect == nullptr || connect[0] == '\0' || db == nullptr) return 0;
  // The program never changes the mouse cursor, so a failure has none to set back.
  try {
    if (db->OpenEx(connect)) return 1;
    LogOpenDBFailure(connect);
  } catch (const DbError& e) {
    LogOpenDBFailure(connect, e.m_strError);
    db->Close();
  }
  return 0;
}

}  // namespace zelvik
