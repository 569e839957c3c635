#pragma once
// A small RAII wrapper over the ODBC C API (the driver manager: unixODBC's libodbc on Linux,
// the system's own odbc32 on Windows) offering exactly the connection and result-set
// operations the program relies on. Statements go to the driver as UTF-16 (wide
// entry points) so the Korean column alias arrives intact; text columns come back as wide
// text converted to code page 949, except columns the caller names as ASCII by construction,
// which come back as narrow text untouched. Rows are fetched in blocks underneath, so a row
// costs no round trip and a result of any size takes bounded memory. A Database and its
// Recordsets are used by the one thread that owns them; only CancelRunning may be called from
// another. Connects and disconnects are made one at a time across the process.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelvik {

// A database failure, carrying the driver's text (code page 949) in m_strError.
class DbError : public std::runtime_error {
 public:
  explicit DbError(std::string driverText)
      : std::runtime_error(driverText), m_strError(std::move(driverText)) {}
  std::string m_strError;
};

class Database {
 public:
  Database();
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Connects with the connect string unchanged (code page 949), never prompting. Returns
  // false on a plain failure; throws DbError with the driver's text.
  bool OpenEx(const std::string& connect);
  // Closes the connection; closing a closed connection is harmless.
  void Close();
  // True while the connection handle is set.
  bool IsOpen() const;
  // Cancels the statements running on this connection, from any thread (SQLCancel): a running
  // Open or fetch ends with DbError. A statement not yet sent is not affected.
  void CancelRunning();

  struct Impl;
  Impl* impl() { return impl_.get(); }

 private:
  std::unique_ptr<Impl> impl_;
};

// How the columns of a result are fetched.
struct FetchOptions {
  // Bit i names column i (0-based, below 32) as ASCII by construction, such as hexadecimal
  // digits the statement itself makes: it is fetched as narrow text, without the wide text's
  // conversions. A byte above 0x7F in such a column fails the fetch with DbError; it is never
  // passed on as text. Every other column is fetched wide.
  std::uint32_t asciiColumns = 0;
};

class Recordset {
 public:
  explicit Recordset(Database* db);
  ~Recordset();  // closes an open set
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // Executes the statement (code page 949 text) forward-only and stands on the first row.
  // A statement without a result (DDL, insert) leaves the set at its end. Throws DbError.
  void Open(const std::string& statement, FetchOptions options = {});
  // The same with a UTF-8 statement, for text that code page 949 cannot hold (test data).
  void OpenUtf8(std::string_view statementUtf8);
  int GetODBCFieldCount() const;
  // Greater than 0 right after Open when the result has at least one row.
  long GetRecordCount() const;
  bool IsEOF() const;
  // The current row's column (0-based) as code page 949 text; NULL gives the empty text.
  void GetFieldValue(int index, std::string& value) const;
  // The same without a copy: valid until the next MoveNext or Close.
  std::string_view FieldView(int index) const;
  void MoveNext();
  void Close();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Opens the connection: 1 when open, 0 when not (logged on pane 1 with the password masked;
// after a raised failure the connection is closed, whatever the driver left behind released).
int OpenDB(Database* db, const char* connect);

}  // namespace zelvik
