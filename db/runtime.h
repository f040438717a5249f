// The database runtime: the one small interface through which every
// statement of the tool runs.
//
// A Connection runs statements against one backend (embedded SQLite or
// ODBC) and answers with an sqlcode: 0 success, 100 no (more) rows,
// negative on error (the backend's message is kept in last_error()).
//
// Cursors: Open() runs the SELECT and reads all of its rows at once;
// Fetch() serves them from memory. Several cursors can be open at the same
// time, and commits and rollbacks close none of them. No two result sets
// are ever pending on the backend's connection.
//
// Statement numbers identify statements: a backend prepares a statement once
// per number and rebinds it; when a number comes with another text (a
// statement built with another client schema) it is prepared anew.
//
// All texts, statement texts included, are Windows-1252 byte strings; the
// backend converts at its edge.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plom {

constexpr int kSqlOk = 0;
constexpr int kSqlNotFound = 100;
// Negative sqlcodes this layer makes up itself (a backend's own errors carry
// the server's codes):
// a failure without a code of its own: no connection, no backend, a
// connect that could not start, a transaction the backend had to undo;
constexpr int kSqlFailed = -1;
// a fetch from a cursor that is not open;
constexpr int kSqlCursorNotOpen = -2;
// a value longer than the column it is meant for (nothing is sent).
constexpr int kSqlTooLong = -3;
// a fetched integer beyond the 32-bit range: the columns are SQL Server
// int, where such a value is an arithmetic overflow error (8115); the
// embedded database reports it the same way instead of passing it on.
constexpr int kSqlIntOverflow = -8115;
bool FitsInt32(int64_t v);

// What the outcome of a statement means for the run. Every failure is
// classified once, here in the transport, from the backend's own codes
// (SQLite's result codes, ODBC's SQLSTATE and SQL Server's error numbers):
enum class Outcome : uint8_t {
  kOk,
  kNoRow,       // 100: no (more) rows; an answer like any other
  kRowRefused,  // the row was refused by a constraint or trigger of its table
  kBadValue,    // a value of this one row does not fit (an overflow, a
                // conversion): that row's problem, not the database's
  kFailed,      // the database failed: a missing table or column, no
                // permission, a lost connection, a timeout, a deadlock, a
                // damaged file, a full disk, an I/O error
};
const char* OutcomeName(Outcome o);

// The outcome of a lookup: its sqlcode, what that means, and the backend's
// reason when it failed. Callers must look at it: a lookup whose database
// failed has no answer, and "no row" is not what it said.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(int sqlcode, Outcome outcome, std::string reason = std::string())
      : sqlcode_(sqlcode), outcome_(outcome), reason_(std::move(reason)) {}
  static Status Ok() { return Status(); }
  static Status NoRow() { return Status(100, Outcome::kNoRow); }

  int sqlcode() const { return sqlcode_; }
  Outcome outcome() const { return outcome_; }
  const std::string& reason() const { return reason_; }
  bool ok() const { return outcome_ == Outcome::kOk; }
  bool no_row() const { return outcome_ == Outcome::kNoRow; }
  // An answer: a row, or none.
  bool answered() const { return ok() || no_row(); }
  bool refused() const { return outcome_ == Outcome::kRowRefused; }
  bool bad_value() const { return outcome_ == Outcome::kBadValue; }
  // The database failed: the run cannot go on.
  bool failed() const { return outcome_ == Outcome::kFailed; }
  // What was asked (a cursor or table name) when it did not answer.
  const char* what() const { return what_; }
  Status& At(const char* what) {
    what_ = what;
    return *this;
  }

 private:
  int sqlcode_ = 0;
  Outcome outcome_ = Outcome::kOk;
  std::string reason_;
  const char* what_ = "";
};

// The outcome of an sqlcode that the backend classified as `failure` (what
// a negative sqlcode means; the made-up codes of this layer classify
// themselves).
Outcome OutcomeOf(int sqlcode, Outcome failure = Outcome::kFailed);

// One column value of a fetched row.
struct Value {
  enum class Type : uint8_t { kNull, kInt, kReal, kText };
  Type type = Type::kNull;
  int64_t i = 0;
  double r = 0;
  std::string s;  // Windows-1252

  bool IsNull() const { return type == Type::kNull; }
  // The value as text; NULL is the empty text.
  std::string Text() const;
  // The value as a 32-bit integer; NULL and non-numeric texts give 0, a
  // number beyond the 32-bit range the nearest end of the range.
  int32_t Int() const;
  // The value as a floating point number; NULL gives 0.0.
  double Real() const;
};
using Row = std::vector<Value>;

// One input parameter (@p1, @p2, ... in bind order).
struct Param {
  bool is_int = false;
  std::string text;  // Windows-1252
  int64_t num = 0;
  // The width of the column a text is compared with or stored in (bytes);
  // 0 when not known. SQL Server gets the text as varchar of this size.
  size_t width = 0;

  static Param Text(std::string_view t, size_t width = 0) {
    Param p;
    p.text = std::string(t);
    p.width = width;
    return p;
  }
  static Param Int(int64_t n) {
    Param p;
    p.is_int = true;
    p.num = n;
    return p;
  }
};
using Params = std::vector<Param>;

// The outcome of one statement sent to a backend.
struct Result {
  int sqlcode = 0;
  std::vector<Row> rows;   // the rows of a SELECT (up to the requested maximum)
  int64_t changes = 0;     // rows changed by INSERT, UPDATE or DELETE; -1 unknown
  bool is_select = false;  // the statement delivered a result set
  std::string error;       // the backend's message when sqlcode < 0
  // What a negative sqlcode means, as the backend classifies its own codes.
  Outcome failure = Outcome::kFailed;
};

// What a backend does: run one statement text (the SQL Server text of the
// tool) with its parameters. max_rows limits the rows read (0: all).
class Backend {
 public:
  virtual ~Backend() = default;
  virtual Result Run(int stmt_no, std::string_view text, const Params& params, size_t max_rows) = 0;

  // Runs a SELECT and hands its rows to take one by one; take answers false
  // to read no more. The result holds no rows. A backend that can step
  // through a result keeps only the row at hand (and may run other
  // statements while take runs); this default reads all rows first.
  virtual Result RunEach(int stmt_no, std::string_view text, const Params& params,
                         const std::function<bool(const Row&)>& take);

  // Runs one statement without result set (an INSERT of one row) once per
  // parameter row, in order; one result per row. A row that fails is
  // undone alone, the others stand. This default sends one statement per
  // row; a backend that can send the rows together overrides it.
  virtual std::vector<Result> RunMany(int stmt_no, std::string_view text,
                                      const std::vector<Params>& rows);
  // Whether RunMany sends rows together (fewer round trips than rows), so
  // that a caller holding many rows gains by handing them over at once.
  virtual bool SendsRowsTogether() const { return false; }
  // Whether the database lets one session at a time write (the embedded
  // database locks the whole file), so that sessions of one process that
  // write in turn by themselves lose nothing and wait less.
  virtual bool OneWriterAtATime() const { return false; }
  // Lets SELECTs outside a transaction share one read transaction of the
  // database, where taking one costs much (see SqliteBackend): a SELECT
  // may then miss what another session committed a few statements ago.
  // Any other statement reads and writes the newest data as before. A
  // backend without that cost ignores it.
  virtual void ShareReads(bool on) {}

  // Requests that went to the database server so far: what a network
  // between the tool and SQL Server would carry, one round trip each. A
  // backend that runs in the process counts its statements.
  virtual int64_t round_trips() const { return round_trips_; }

 protected:
  int64_t round_trips_ = 0;
};

// Sees what a Connection runs: every statement sent to the backend and
// every fetch served from an open cursor, each after it ran, with its
// sqlcode (last_sqlcode() and last_error() already tell its outcome). For
// tracing and explaining runs; it must not run statements on the connection
// itself.
class StatementObserver {
 public:
  enum class Kind { kExecute, kTransaction, kOpen, kFetch, kClose };
  struct Event {
    Kind kind = Kind::kExecute;
    int stmt_no = 0;
    std::string_view text;           // empty for fetch and close
    const Params* params = nullptr;  // nullptr where the statement has none
    int sqlcode = 0;
    // Execute: the row delivered (nullptr when none); Fetch: the row
    // fetched (nullptr at the end or on error).
    const Row* row = nullptr;
    size_t rows = 0;  // Open: the rows the cursor holds
  };
  virtual ~StatementObserver() = default;
  virtual void Saw(const Event& e) = 0;
};

// Connection settings as the configuration gives them.
struct ConnectSettings {
  std::string server;  // "sqlite:PATH", an ODBC data source, a connection string or a host
  std::string login;
  std::string password;
  std::string schema;  // the configured schema (database)
  // Opened to read only (plomvarde-explain): the embedded database without
  // write access, an ODBC connection with read-only intent.
  bool read_only = false;
};

// How long a statement may take and how statements travel; the
// environment may change each (see FromEnvironment).
struct TransportOptions {
  // Seconds a statement may run before the driver cancels it (ODBC query
  // timeout; 0: no limit). PLOMVARDE_QUERY_TIMEOUT.
  int query_timeout_s = 600;
  // Seconds a statement waits for another session's lock (SQL Server SET
  // LOCK_TIMEOUT, the embedded database's busy timeout). PLOMVARDE_LOCK_TIMEOUT.
  int lock_timeout_s = 120;
  // Seconds a connect may take, login and database included (ODBC login
  // timeout; 0: the driver's own). PLOMVARDE_LOGIN_TIMEOUT.
  int login_timeout_s = 10;
  // Text parameters bound from UTF-16 (SQL_C_WCHAR) instead of Windows-1252
  // bytes (SQL_C_CHAR); either way SQL Server gets varchar. For a driver
  // that reads narrow text in the locale's character set.
  // PLOMVARDE_TEXT_PARAMS=wide.
  bool wide_text_params = false;
  // Rows of one statement sent together as a parameter array where the
  // driver supports it. PLOMVARDE_PARAM_ARRAYS=0 sends one row per round trip.
  bool param_arrays = true;

  // The defaults with the environment's values; a value that is not a
  // whole number of seconds (0 to 86400) leaves the default.
  static TransportOptions FromEnvironment();
};
// The seconds a variable's value gives, or fallback when it gives none.
int SecondsFrom(const char* value, int fallback);

// Builds the backend that the server name selects; sets *error and returns
// nullptr when the connect fails. "sqlite:PATH" names a database file (a
// backslash in PATH counts as '/'): opened by the embedded backend, or, in a
// build without it (Windows), through the SQLite ODBC driver.
std::unique_ptr<Backend> OpenBackend(const ConnectSettings& s, int* sqlcode, std::string* error);
std::unique_ptr<Backend> OpenBackend(const ConnectSettings& s, const TransportOptions& options,
                                     int* sqlcode, std::string* error);

// The ODBC connection string that opens a database file through the SQLite
// ODBC driver of that name, with the extension module that gives the driver
// the line store's collation (LoadExt).
std::string SqliteOdbcConnectionString(std::string_view driver, std::string_view path,
                                       std::string_view collation_module);

// The one connection of a run, with the state the statements share
// (current client schema, open cursors, last sqlcode).
class Connection {
 public:
  Connection() = default;
  explicit Connection(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool connected() const { return backend_ != nullptr; }
  void Attach(std::unique_ptr<Backend> backend) { backend_ = std::move(backend); }
  // Takes the backend away (the connection is then closed for statements).
  std::unique_ptr<Backend> Detach() { return std::move(backend_); }

  // A statement without cursor: INSERT, DELETE, UPDATE, or a singleton
  // SELECT whose first row goes to *out (when out is not null). A SELECT
  // without rows and a change that touches no row give 100.
  int Execute(int stmt_no, std::string_view text, const Params& params, Row* out = nullptr);

  // An INSERT (or other one-row change) once for each parameter row, sent
  // together where the backend can. (*statuses)[i] is row i's outcome as
  // Execute gives it; a failed row is undone alone. Returns 0 when every
  // row succeeded, else the first failed row's sqlcode (also last_sqlcode()).
  int ExecuteMany(int stmt_no, std::string_view text, const std::vector<Params>& rows,
                  std::vector<Status>* statuses);

  // Transaction statements (BEGIN/COMMIT/ROLLBACK/SAVE TRANSACTION texts).
  int Transaction(int stmt_no, std::string_view text);

  // Cursors, keyed by their statement number. Open reads every row (or the
  // first max_rows rows, for a cursor of which the caller fetches no more);
  // opening an open cursor replaces it.
  int Open(int cursor_no, std::string_view text, const Params& params, size_t max_rows = 0);
  int Fetch(int cursor_no, Row* out);
  int Close(int cursor_no);

  // A cursor read through once: each row goes to take as it is read (take
  // answers false to stop), without the rows being kept. Lookups may run on
  // the connection while take runs. Answers as Open does; a row the backend
  // refuses (a bad value) ends the reading with its sqlcode.
  int ForEachRow(int cursor_no, std::string_view text, const Params& params,
                 const std::function<bool(const Row&)>& take);

  // Every statement and fetch from now on is shown to the observer (nullptr:
  // none). The observer must outlive its use.
  void SetObserver(StatementObserver* observer) { observer_ = observer; }

  int last_sqlcode() const { return last_sqlcode_; }
  // The last statement's outcome as a Status (with the backend's reason
  // when it failed).
  Status status() const {
    Outcome o = OutcomeOf(last_sqlcode_, last_failure_);
    return Status(last_sqlcode_, o, last_sqlcode_ < 0 ? last_error_ : std::string());
  }
  // Records the outcome of something that ran outside a statement (connect).
  void SetError(int sqlcode, std::string message, Outcome failure = Outcome::kFailed) {
    last_sqlcode_ = sqlcode;
    last_error_ = std::move(message);
    last_failure_ = failure;
  }
  const std::string& last_error() const { return last_error_; }
  // Statements sent to the backend so far (fetches from memory do not
  // count; each row of ExecuteMany counts).
  int64_t statements_sent() const { return statements_sent_; }
  // Whether ExecuteMany saves round trips on this connection.
  bool sends_rows_together() const { return backend_ && backend_->SendsRowsTogether(); }
  // Whether one session at a time can write (see Backend::OneWriterAtATime).
  bool one_writer_at_a_time() const { return backend_ && backend_->OneWriterAtATime(); }
  // See Backend::ShareReads.
  void ShareReads(bool on) {
    if (backend_) backend_->ShareReads(on);
  }
  // Round trips to the database server so far (see Backend::round_trips).
  int64_t round_trips() const { return backend_ ? backend_->round_trips() : 0; }

 private:
  struct Cursor {
    std::vector<Row> rows;
    size_t next = 0;
  };
  int Finish(const Result& r);
  void Tell(const StatementObserver::Event& e) {
    if (observer_ != nullptr) observer_->Saw(e);
  }

  std::unique_ptr<Backend> backend_;
  std::map<int, Cursor> cursors_;
  int last_sqlcode_ = 0;
  std::string last_error_;
  Outcome last_failure_ = Outcome::kFailed;
  int64_t statements_sent_ = 0;
  StatementObserver* observer_ = nullptr;
};

// Removes trailing blanks and tabs.
void TrimRight(std::string* s);
std::string TrimmedRight(std::string_view s);

// Text cut to at most n bytes (a host variable of n + 1 bytes).
std::string Cut(std::string_view s, size_t n);

}  // namespace plom
