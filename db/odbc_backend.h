// The production backend: SQL Server (or another ODBC data source) through
// the ODBC driver manager (unixODBC).
//
// Statements go to SQL Server as the tool writes them, with @p1, @p2 turned
// into "?" markers; when the data source turns out to be SQLite (the SQLite
// ODBC driver, used by the tests) they are translated as for the embedded
// backend first.
//
// Each statement number keeps one statement handle. Its text is prepared
// once and re-executed with new bindings; a number whose text changes (the
// statements built at run time with a schema and a key) is prepared anew,
// and once it has changed it is sent with direct execution from then on,
// since such a text is rarely run twice. Transaction texts always go by
// direct execution: T-SQL keeps a transaction begun in a plain batch open
// for the next statements, but not one begun in a prepared procedure call.
// Autocommit stays on; the BEGIN/COMMIT/ROLLBACK texts manage the
// transactions.
//
// Text parameters go as varchar. Through FreeTDS they are bound as binary
// data (SQL_C_BINARY), which FreeTDS sends unconverted as varchar in the
// database's collation, and character columns are read back the same way:
// the Windows-1252 bytes cross unchanged, whatever ClientCharset says.
// Through other drivers parameters go as Windows-1252 bytes (SQL_C_CHAR;
// UTF-8 for SQLite; UTF-16 with PLOMVARDE_TEXT_PARAMS=wide) and results are
// fetched as UTF-16 and converted here. Parameters are bound once per
// statement and rebound only when a type or size changes: FreeTDS prepares
// a statement again whenever it is bound anew.
//
// A statement through FreeTDS that outlives its timeout is ended one
// second later by closing the connection (see Watchdog in the source);
// every later statement then fails at once with that reason. All rows of a result are
// read at execution and the cursor closed at once: no result set stays
// pending, and no driver needs multiple active result sets.
//
// sqlcode: 0 success (with info too), 100 no data, otherwise the negated
// native error of the diagnostic, -1 where the driver gives none. The
// password never appears in a message.
#pragma once

#include "platform/odbc_headers.h"

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/key_locks.h"
#include "db/runtime.h"

namespace plom {

// The sqlcode for the return code of an ODBC call and its first diagnostic
// record (native error, SQLSTATE; empty when the call left none).
constexpr int kOdbcFailed = kSqlFailed;
int SqlcodeFromDiag(int odbc_return, long native, std::string_view sqlstate);

// The message kept for a failed call: "[SQLSTATE] text", with the secrets
// masked; without a diagnostic record it names the return code.
std::string DiagMessage(int odbc_return, std::string_view sqlstate, std::string_view text,
                        const std::vector<std::string>& secrets);

// Whether the DBMS name (SQL_DBMS_NAME) is SQLite's.
bool IsSqliteDbms(std::string_view dbms_name);

// The statement text as sent to the DBMS: @pN (or, for SQLite after the
// translation, ?N) become "?", and *order receives the parameter number
// (1-based) of each marker in the order of the markers.
std::string OdbcStatementText(std::string_view tsql, bool sqlite, std::vector<int>* order);

// The sqlcode and message of a failed ODBC call.
struct Failure {
  int sqlcode;
  std::string error;
  Outcome outcome = Outcome::kFailed;  // what a negative sqlcode means
};

// What a failed statement means, from its SQLSTATE and native error: SQL
// Server's duplicate key (2601, 2627), constraint conflict (547) and user
// errors from 50000 up (a trigger's RAISERROR), and any integrity SQLSTATE
// (23xxx), refuse the row; a data exception (22xxx) is a bad value of this
// row; everything else is the database failing.
Outcome ClassifyDiag(long native, std::string_view sqlstate);

class OdbcBackend : public Backend {
 public:
  // Connects; on failure returns nullptr with a negative sqlcode and the
  // message (password masked). Every form of server name goes as a
  // connection string (BuildConnectionString: the configured schema as
  // DATABASE, so it travels in the login under the login timeout), except a
  // data source whose driver is not known as a SQL Server driver: it is
  // connected with SQLConnect (login and password as they are), and when the
  // server turns out to be SQL Server the schema is made current by a USE in
  // the session settings. SQL Server then gets SET NOCOUNT OFF, SET
  // XACT_ABORT OFF and SET LOCK_TIMEOUT (from options), checked; every
  // statement handle gets the query timeout.
  static std::unique_ptr<Backend> Open(const ConnectSettings& s, const TransportOptions& options,
                                       int* sqlcode, std::string* error);
  ~OdbcBackend() override;
  OdbcBackend(const OdbcBackend&) = delete;
  OdbcBackend& operator=(const OdbcBackend&) = delete;

  // Prepares (once per number and text), binds, executes, reads all rows.
  Result Run(int stmt_no, std::string_view text, const Params& params, size_t max_rows) override;
  // The rows as one parameter array per round trip (SQL_ATTR_PARAMSET_SIZE,
  // row status through SQL_ATTR_PARAM_STATUS_PTR) unless options say no or
  // the driver cannot; a failed row is sent again alone for its sqlcode and
  // message; rows the driver did not report on go one by one.
  std::vector<Result> RunMany(int stmt_no, std::string_view text,
                              const std::vector<Params>& rows) override;
  // Unless the options switch parameter arrays off.
  bool SendsRowsTogether() const override { return options_.param_arrays; }

  // The DBMS the driver reports (SQL_DBMS_NAME).
  const std::string& dbms_name() const { return dbms_name_; }

  class Watchdog;

 private:
  struct Handles;
  struct Statement;
  // The buffers of a statement's parameters, in the order of the markers,
  // bound once and kept while the statement's text stays: each execution
  // writes its values into them, and binds again only when a type, the
  // declared size or the room needed changes. Each marker's buffer holds
  // one value per parameter row (column-wise binding).
  struct Bound {
    struct Column {
      std::vector<char> texts;
      std::vector<SQLBIGINT> nums;
      std::vector<SQLLEN> inds;
      SQLLEN stride = 0;
      bool bound = false;  // what the driver was last given:
      bool is_int = false;
      SQLSMALLINT sql_type = 0;
      size_t declared = 0;
      size_t capacity = 0;  // rows
    };
    std::vector<Column> columns;
  };
  OdbcBackend();

  bool Connect(const ConnectSettings& s, Failure* f);
  // A host given as "host\instance" without a port: the instance's port
  // from the SQL Server Browser, within the login timeout, added to
  // s->server. False (and *f) when the browser gives none.
  bool LookUpInstance(ConnectSettings* s, Failure* f) const;
  void ReadDbmsName();
  bool PrepareSession(const ConnectSettings& s, Failure* f);
  // A text parameter's bytes as bound: SQL_C_CHAR in Windows-1252 for SQL
  // Server (the data source's client character set), in UTF-8 for SQLite;
  // or UTF-16 (SQL_C_WCHAR) when the options ask for wide text.
  std::string EdgeBytes(std::string_view cp1252) const;

  Result Failed(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) const;
  Statement* StatementFor(int stmt_no, Result* r);
  bool Prepare(Statement& st, std::string_view text, Result* r);
  bool Bind(Statement& st, const std::vector<const Params*>& rows, Result* r);
  SQLRETURN BindInts(SQLHSTMT hs, SQLUSMALLINT pos, int no, const std::vector<const Params*>& rows,
                     Bound::Column* col);
  SQLRETURN BindTexts(SQLHSTMT hs, SQLUSMALLINT pos, int no, const std::vector<const Params*>& rows,
                      Bound::Column* col);
  SQLRETURN Execute(Statement& st);
  void ReadRows(SQLHSTMT hs, size_t max_rows, Result* r);
  size_t RunArray(int stmt_no, Statement& st, const std::vector<Params>& rows, size_t from,
                  std::vector<Result>* results);
  // Fills in row statuses the driver left unwritten, from the return code
  // and the count of processed rows.
  void ReadStatus(SQLRETURN rc, SQLULEN processed, std::vector<SQLUSMALLINT>* status) const;
  static bool SetArray(SQLHSTMT hs, size_t n, SQLUSMALLINT* status, SQLULEN* processed);

  std::unique_ptr<Handles> h_;
  std::unordered_map<int, std::unique_ptr<Statement>> statements_;
  std::vector<std::string> secrets_;
  std::string dbms_name_;
  TransportOptions options_;
  bool sqlite_ = false;
  bool use_schema_ = false;  // the schema is made current by a USE
  bool freetds_ = false;     // the driver is FreeTDS
  std::vector<intptr_t> sockets_;  // the sockets the connect opened
  std::unique_ptr<Watchdog> watchdog_;
  // Set when the watchdog closed the connection: the failure that every
  // later statement gives.
  Result lost_;
  void NoteLoss(const Result& r);
  // The lock statement's answer "not granted" (sp_getapplock's -1).
  static Result LockNotGranted(const std::string& why);
  // SQLite: sp_getapplock is answered here, with a lock beside the
  // database file, as the embedded backend does.
  Result SqliteAppLock(const Params& params);
  SessionAppLocks app_locks_;
  std::string sqlite_file_;
};

// Whether the driver manager knows a data source of this name (user or
// system odbc.ini); *driver (when not null) receives the driver it names.
bool IsOdbcDataSource(std::string_view name, std::string* driver = nullptr);

}  // namespace plom
