#include "db/odbc_backend.h"
#include "db/sqlite_collation.h"

#include "platform/odbc_headers.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "db/codepage.h"
#include "db/odbc_settings.h"
#include "db/key_locks.h"
#include "db/tsql.h"
#include "platform/files.h"

namespace plom {
namespace {

// Text parameters whose column width is not known are declared with one
// size (SQL Server's largest varchar), so that SQL Server keeps one plan
// per statement whatever the length of the values.
constexpr SQLULEN kVarcharSize = 8000;
constexpr size_t kFetchChunk = 1024;  // UTF-16 units per SQLGetData call

using WString = std::basic_string<SQLWCHAR>;

WString ToWide(std::string_view cp1252) {
  std::u16string u = Cp1252ToUtf16(cp1252);
  return WString(u.begin(), u.end());
}

std::string FromWide(const SQLWCHAR* w, size_t n) {
  std::u16string u(w, w + n);
  return Utf16ToCp1252(u);
}

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// One ODBC handle, freed with its owner.
class Handle {
 public:
  Handle() = default;
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  SQLRETURN Alloc(SQLSMALLINT type, SQLHANDLE parent) {
    Reset();
    type_ = type;
    return SQLAllocHandle(type, parent, &h_);
  }
  void Reset() {
    if (h_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, h_);
    h_ = SQL_NULL_HANDLE;
  }
  SQLHANDLE get() const { return h_; }
  SQLSMALLINT type() const { return type_; }

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE h_ = SQL_NULL_HANDLE;
};

// The sqlcode and message of a failed call on the handle. The sqlcode comes
// from the first record that carries a native error (drivers often put a
// summary record without one first).
Failure Diagnose(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h,
                 const std::vector<std::string>& secrets) {
  std::string first_state, text;
  long native = 0;
  Outcome outcome = Outcome::kFailed;
  for (SQLSMALLINT rec = 1; rec <= 8; ++rec) {
    SQLWCHAR state[6] = {0};
    SQLINTEGER rec_native = 0;
    SQLWCHAR msg[1024];
    SQLSMALLINT len = 0;
    SQLRETURN d = SQLGetDiagRecW(type, h, rec, state, &rec_native, msg,
                                 static_cast<SQLSMALLINT>(sizeof msg / sizeof msg[0]), &len);
    if (!Succeeded(d)) break;
    size_t n = static_cast<size_t>(len);
    if (n >= sizeof msg / sizeof msg[0]) n = sizeof msg / sizeof msg[0] - 1;
    std::string st = FromWide(state, 5);
    std::string m = FromWide(msg, n);
    if (rec == 1) {
      first_state = st;
      text = m;
    } else {
      text += " / [" + st + "] " + m;
    }
    if (native == 0) native = rec_native;
    // The first record that says what happened to the row decides.
    if (outcome == Outcome::kFailed) outcome = ClassifyDiag(rec_native, st);
  }
  return {SqlcodeFromDiag(rc, native, first_state), DiagMessage(rc, first_state, text, secrets),
          outcome};
}

Value ReadText(SQLHSTMT st, SQLUSMALLINT col, SQLRETURN* rc) {
  Value v;
  WString text;
  SQLWCHAR buf[kFetchChunk + 1];
  for (;;) {
    SQLLEN ind = 0;
    *rc = SQLGetData(st, col, SQL_C_WCHAR, buf, sizeof buf, &ind);
    if (*rc == SQL_NO_DATA) break;  // a long value read to its end
    if (!Succeeded(*rc)) return v;
    if (ind == SQL_NULL_DATA) {
      *rc = SQL_SUCCESS;
      return v;
    }
    // A part of a longer value fills the buffer but for the terminator.
    size_t units = 0;
    if (ind == SQL_NO_TOTAL) {
      while (units < kFetchChunk && buf[units] != 0) ++units;
    } else {
      units = static_cast<size_t>(ind) / sizeof(SQLWCHAR);
      if (units > kFetchChunk) units = kFetchChunk;
    }
    text.append(buf, units);
    if (*rc == SQL_SUCCESS) break;
    // With info: 01004 (more to come) is the only expected case; anything
    // else that filled less than the buffer is complete.
    if (ind != SQL_NO_TOTAL && static_cast<size_t>(ind) / sizeof(SQLWCHAR) <= kFetchChunk) break;
  }
  *rc = SQL_SUCCESS;
  v.type = Value::Type::kText;
  v.s = FromWide(text.data(), text.size());
  return v;
}

// A character column's bytes as the server holds them (its code page,
// Windows-1252 for the installation's collations), with no conversion.
Value ReadBytes(SQLHSTMT st, SQLUSMALLINT col, SQLRETURN* rc) {
  Value v;
  std::string bytes;
  char buf[4096];
  for (;;) {
    SQLLEN ind = 0;
    *rc = SQLGetData(st, col, SQL_C_BINARY, buf, sizeof buf, &ind);
    if (*rc == SQL_NO_DATA) break;  // a long value read to its end
    if (!Succeeded(*rc)) return v;
    if (ind == SQL_NULL_DATA) {
      *rc = SQL_SUCCESS;
      return v;
    }
    size_t n = ind == SQL_NO_TOTAL || ind > static_cast<SQLLEN>(sizeof buf)
                   ? sizeof buf
                   : static_cast<size_t>(ind);
    bytes.append(buf, n);
    if (*rc == SQL_SUCCESS) break;
  }
  *rc = SQL_SUCCESS;
  v.type = Value::Type::kText;
  v.s = std::move(bytes);
  return v;
}

Value ReadColumn(SQLHSTMT st, SQLUSMALLINT col, Value::Type type, SQLRETURN* rc) {
  Value v;
  SQLLEN ind = 0;
  switch (type) {
    case Value::Type::kInt: {
      SQLBIGINT n = 0;
      *rc = SQLGetData(st, col, SQL_C_SBIGINT, &n, sizeof n, &ind);
      if (Succeeded(*rc) && ind != SQL_NULL_DATA) {
        v.type = Value::Type::kInt;
        v.i = n;
      }
      return v;
    }
    case Value::Type::kReal: {
      SQLDOUBLE d = 0;
      *rc = SQLGetData(st, col, SQL_C_DOUBLE, &d, sizeof d, &ind);
      if (Succeeded(*rc) && ind != SQL_NULL_DATA) {
        v.type = Value::Type::kReal;
        v.r = d;
      }
      return v;
    }
    default:
      return ReadText(st, col, rc);
  }
}

// The kind of Value a column of this SQL type is read into.
Value::Type ValueTypeOf(SQLSMALLINT sql_type, SQLSMALLINT scale) {
  switch (sql_type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return Value::Type::kInt;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return scale == 0 ? Value::Type::kInt : Value::Type::kReal;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return Value::Type::kReal;
    default:
      return Value::Type::kText;
  }
}

}  // namespace

Outcome ClassifyDiag(long native, std::string_view sqlstate) {
  if (native == 2601 || native == 2627 || native == 547 || native >= 50000) {
    return Outcome::kRowRefused;
  }
  if (sqlstate.substr(0, 2) == "23") return Outcome::kRowRefused;
  if (sqlstate.substr(0, 2) == "22") return Outcome::kBadValue;
  return Outcome::kFailed;
}

int SqlcodeFromDiag(int odbc_return, long native, std::string_view sqlstate) {
  switch (odbc_return) {
    case SQL_SUCCESS:
    case SQL_SUCCESS_WITH_INFO:
      return kSqlOk;
    case SQL_NO_DATA:
      return kSqlNotFound;
    default:
      break;
  }
  // A driver that gives no native error (or no record at all) gets the fixed
  // code; one that gives a negative number keeps it.
  if (native == 0 || sqlstate.empty()) return kOdbcFailed;
  long code = native > 0 ? -native : native;
  if (code < -2147483647L) return kOdbcFailed;
  return static_cast<int>(code);
}

std::string DiagMessage(int odbc_return, std::string_view sqlstate, std::string_view text,
                        const std::vector<std::string>& secrets) {
  std::string msg;
  if (sqlstate.empty()) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "ODBC call failed (return code %d)", odbc_return);
    msg = buf;
  } else {
    msg = "[" + std::string(sqlstate) + "] " + std::string(text);
  }
  return ScrubSecrets(std::move(msg), secrets);
}

bool IsSqliteDbms(std::string_view dbms_name) {
  return dbms_name.size() >= 6 && EqualsNoCase(dbms_name.substr(0, 6), "SQLite");
}

std::string OdbcStatementText(std::string_view tsql, bool sqlite, std::vector<int>* order) {
  if (sqlite) return PlainMarkers(TranslateForSqlite(tsql), '?', order);
  return PlainMarkers(tsql, '@', order);
}

bool IsOdbcDataSource(std::string_view name, std::string* driver) {
  if (name.empty() || name.find('=') != std::string_view::npos) return false;
  Handle env;
  if (!Succeeded(env.Alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE))) return false;
  SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLCHAR dsn[SQL_MAX_DSN_LENGTH + 1];
  SQLCHAR desc[256];
  SQLSMALLINT dsn_len = 0, desc_len = 0;
  SQLUSMALLINT dir = SQL_FETCH_FIRST;
  while (Succeeded(
      SQLDataSources(env.get(), dir, dsn, sizeof dsn, &dsn_len, desc, sizeof desc, &desc_len))) {
    dir = SQL_FETCH_NEXT;
    if (EqualsNoCase(reinterpret_cast<const char*>(dsn), name)) {
      // The description SQLDataSources gives is the data source's driver.
      if (driver != nullptr) driver->assign(reinterpret_cast<const char*>(desc));
      return true;
    }
  }
  return false;
}

namespace {

// A row status the driver has not written.
constexpr SQLUSMALLINT kStatusUnset = 0xFFFF;
// The statement number of the session settings sent after connecting.
constexpr int kSessionStatement = -1;

// Closes the statement's cursor when the statement is done with, whichever
// way it ends. The parameter bindings stay: binding again costs FreeTDS a
// new prepare (sp_unprepare and sp_prepexec) at the next execution.
class StatementGuard {
 public:
  explicit StatementGuard(SQLHSTMT h) : h_(h) {}
  ~StatementGuard() { SQLFreeStmt(h_, SQL_CLOSE); }
  StatementGuard(const StatementGuard&) = delete;
  StatementGuard& operator=(const StatementGuard&) = delete;

 private:
  SQLHSTMT h_;
};

}  // namespace

// Ends a statement that outlives its timeout. FreeTDS, when the timeout
// passes, sends a cancel and waits as long again for the server to confirm
// it: a server that answers nothing at all would cost twice the timeout.
// One second after the timeout the watchdog shuts the connection's sockets,
// and the statement ends with the driver's timeout error (HYT00). Armed
// and disarmed around every statement (two atomic stores); it looks ten
// times a second.
class OdbcBackend::Watchdog {
 public:
  explicit Watchdog(std::vector<intptr_t> sockets)
      : sockets_(std::move(sockets)), thread_([this] { Loop(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Arm(int seconds) { deadline_ms_ = Now() + (static_cast<int64_t>(seconds) + 1) * 1000; }
  void Disarm() { deadline_ms_ = 0; }
  // Whether the sockets were shut: the connection is gone.
  bool fired() const { return fired_; }

 private:
  static int64_t Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void Loop() {
    std::unique_lock<std::mutex> lock(mu_);
    while (!cv_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_; })) {
      int64_t deadline = deadline_ms_;
      if (deadline != 0 && Now() > deadline) {
        for (intptr_t sock : sockets_) ShutDownSocket(sock);
        fired_ = true;
        deadline_ms_ = 0;
      }
    }
  }
  std::vector<intptr_t> sockets_;
  std::atomic<int64_t> deadline_ms_{0};
  std::atomic<bool> fired_{false};
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread thread_;
};

namespace {

// Arms the watchdog (when there is one) for one statement.
class Armed {
 public:
  Armed(OdbcBackend::Watchdog* w, int seconds) : w_(seconds > 0 ? w : nullptr) {
    if (w_ != nullptr) w_->Arm(seconds);
  }
  ~Armed() {
    if (w_ != nullptr) w_->Disarm();
  }
  Armed(const Armed&) = delete;
  Armed& operator=(const Armed&) = delete;

 private:
  OdbcBackend::Watchdog* w_;
};

// The rows a parameter buffer is made for: one for a single row; for a
// parameter array room for the largest group the line store sends, so
// that groups of other sizes need no new binding (each one costs FreeTDS
// a new prepare).
size_t Capacity(size_t had, size_t rows) {
  constexpr size_t kArrayRows = 2048;
  if (rows <= had) return had;
  return rows == 1 ? 1 : std::max(rows, kArrayRows);
}

// The declared size of a text parameter: its column's width, or the one
// size for all when unknown; never less than the value.
SQLULEN DeclaredSize(const Param& p, size_t bytes) {
  SQLULEN size = p.width > 0 ? p.width : kVarcharSize;
  return bytes > size ? bytes : size;
}

}  // namespace

struct OdbcBackend::Handles {
  Handle env;
  Handle dbc;
  bool connected = false;
  ~Handles() {
    if (connected) SQLDisconnect(dbc.get());
  }
};

struct OdbcBackend::Statement {
  Handle stmt;
  Bound bound;             // the parameter buffers the driver holds
  std::string text;        // the statement text as the tool sent it
  WString sql;             // the text as sent to the DBMS
  std::vector<int> order;  // parameter number of each marker
  bool prepared = false;   // sql is prepared on stmt
  bool direct = false;     // the text has changed: execute directly
  bool arrays = true;      // the driver took a parameter array here
  bool lock = false;       // the text is the sp_getapplock statement
};

OdbcBackend::OdbcBackend() : h_(new Handles) {}

OdbcBackend::~OdbcBackend() {
  watchdog_.reset();
  statements_.clear();
}

std::string OdbcBackend::EdgeBytes(std::string_view cp1252) const {
  if (options_.wide_text_params && !freetds_) {
    WString w = ToWide(cp1252);
    return std::string(reinterpret_cast<const char*>(w.data()), w.size() * sizeof(SQLWCHAR));
  }
  return sqlite_ ? Cp1252ToUtf8(cp1252) : std::string(cp1252);
}

bool OdbcBackend::Connect(const ConnectSettings& s, Failure* f) {
  Handles& h = *h_;
  if (options_.login_timeout_s > 0) {
    SQLSetConnectAttr(h.dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(options_.login_timeout_s)),
                      0);
  }
  // The sockets this connect opens are told from the others by listing
  // them before and after; connects of the process's other threads (a
  // batch) wait meanwhile, so that none of theirs is taken for this one's.
  static std::mutex connecting;
  std::lock_guard<std::mutex> one_at_a_time(connecting);
  std::vector<intptr_t> before = OpenSockets();
  // Read-only intent, before the connect: a driver that honours it writes
  // nothing on this connection.
  if (s.read_only) {
    SQLSetConnectAttr(h.dbc.get(), SQL_ATTR_ACCESS_MODE,
                      reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
  }
  SQLRETURN rc;
  std::string where;
  std::string dsn_driver;
  const bool string_form = s.server.find('=') != std::string::npos;
  const bool data_source = !string_form && IsOdbcDataSource(s.server, &dsn_driver);
  if (string_form) {
    for (const ConnAttr& a : ParseConnectionString(s.server)) {
      if (EqualsNoCase(a.key, "DSN")) IsOdbcDataSource(a.value, &dsn_driver);
    }
  }
  const DriverTraits traits = TraitsOf(s, data_source, dsn_driver);
  if (data_source && !traits.sql_server) {
    // A data source of another driver takes login and password as they
    // are: no quoting, so a password may hold ";", "}" or "=".
    WString dsn = ToWide(s.server), uid = ToWide(s.login), pwd = ToWide(s.password);
    rc = SQLConnectW(h.dbc.get(), dsn.data(), static_cast<SQLSMALLINT>(dsn.size()), uid.data(),
                     static_cast<SQLSMALLINT>(uid.size()), pwd.data(),
                     static_cast<SQLSMALLINT>(pwd.size()));
    where = "connect (data source " + ScrubSecrets(s.server, secrets_) + ")";
    use_schema_ = !s.schema.empty();
  } else {
    ConnectSettings via = s;
    if (!data_source && !LookUpInstance(&via, f)) return false;
    std::string refusal;
    std::string conn = BuildConnectionString(via, data_source, dsn_driver, &refusal);
    if (conn.empty()) {
      *f = Failure{kOdbcFailed, "connect (" + ScrubSecrets(s.server, secrets_) +
                                    "): " + ScrubSecrets(refusal, secrets_)};
      return false;
    }
    WString wconn = ToWide(conn);
    // The completed connection string is not asked for: it holds the password.
    rc = SQLDriverConnectW(h.dbc.get(), nullptr, wconn.data(),
                           static_cast<SQLSMALLINT>(wconn.size()), nullptr, 0, nullptr,
                           SQL_DRIVER_NOPROMPT);
    // Masked twice over: by value, and by key for a password that a
    // malformed connection string does not show whole.
    std::string shown = MaskConnectionString(ScrubSecrets(conn, secrets_), traits.freetds);
    where = "connect (" + ScrubSecrets(shown, secrets_) + ")";
  }
  if (!Succeeded(rc)) {
    *f = Diagnose(rc, SQL_HANDLE_DBC, h.dbc.get(), secrets_);
    f->error = where + ": " + f->error;
    return false;
  }
  h.connected = true;
  std::vector<intptr_t> after = OpenSockets();
  for (intptr_t sock : after) {
    if (std::find(before.begin(), before.end(), sock) == before.end()) sockets_.push_back(sock);
  }
  return true;
}

bool OdbcBackend::LookUpInstance(ConnectSettings* s, Failure* f) const {
  if (s->server.find('=') != std::string::npos || s->server.find(',') != std::string::npos) {
    return true;
  }
  size_t bs = s->server.find('\\');
  if (bs == std::string::npos) return true;
  // FreeTDS asks the SQL Server Browser sixteen times a second apart before
  // its login timeout starts; asked here, the lookup is part of the
  // connect's time.
  std::string host = s->server.substr(0, bs), instance = s->server.substr(bs + 1);
  while (!host.empty() && host.front() == ' ') host.erase(0, 1);
  while (!instance.empty() && instance.back() == ' ') instance.pop_back();
  int timeout_s = options_.login_timeout_s > 0 ? options_.login_timeout_s : 10;
  std::string why;
  int port = SqlBrowserPort(host, instance, timeout_s * 1000, &why);
  if (port < 0) return true;  // the driver looks it up
  if (port == 0) {
    *f = Failure{kOdbcFailed, "connect (" + s->server + "): the SQL Server Browser of " + host +
                                  " gave no port for instance " + instance + ": " + why};
    return false;
  }
  s->server += "," + std::to_string(port);
  return true;
}

void OdbcBackend::ReadDbmsName() {
  SQLWCHAR name[128] = {0};
  SQLSMALLINT name_len = 0;
  if (Succeeded(SQLGetInfoW(h_->dbc.get(), SQL_DBMS_NAME, name, sizeof name, &name_len))) {
    size_t n = static_cast<size_t>(name_len) / sizeof(SQLWCHAR);
    if (n >= sizeof name / sizeof name[0]) n = sizeof name / sizeof name[0] - 1;
    dbms_name_ = FromWide(name, n);
  }
  sqlite_ = IsSqliteDbms(dbms_name_);
  SQLWCHAR driver[128] = {0};
  SQLSMALLINT driver_len = 0;
  if (Succeeded(SQLGetInfoW(h_->dbc.get(), SQL_DRIVER_NAME, driver, sizeof driver, &driver_len))) {
    size_t n = static_cast<size_t>(driver_len) / sizeof(SQLWCHAR);
    if (n >= sizeof driver / sizeof driver[0]) n = sizeof driver / sizeof driver[0] - 1;
    freetds_ = TraitsOfDriver(FromWide(driver, n)).freetds;
  }
}

bool OdbcBackend::PrepareSession(const ConnectSettings& s, Failure* f) {
  if (sqlite_) return true;
  // A data source connected with SQLConnect names its own database; the
  // configured one wins, as it does in a connection string. It is made
  // current in the batch below, under the query timeout (a USE can wait
  // for a database being restored or held in single-user mode).
  std::string use;
  if (use_schema_) {
    std::string quoted;
    for (char c : s.schema) {
      quoted.push_back(c);
      if (c == ']') quoted.push_back(']');
    }
    use = "USE [" + quoted + "]; ";
  }
  // Row counts are what tells an INSERT that stored its row; a failed
  // statement is undone alone and leaves the transaction open (a server's
  // user options may say otherwise, and a refused row of a parameter array
  // would then end the whole group); a lock held by another session is
  // waited for a bounded time.
  std::string set = use + "SET NOCOUNT OFF; SET XACT_ABORT OFF; SET LOCK_TIMEOUT " +
                    std::to_string(static_cast<int64_t>(options_.lock_timeout_s) * 1000);
  Result r;
  Statement* st = StatementFor(kSessionStatement, &r);
  if (st != nullptr) {
    st->direct = true;  // a plain batch: settings made in a prepared call would not last
    r = Run(kSessionStatement, set, {}, 0);
  }
  if (r.sqlcode < 0) {
    *f = Failure{r.sqlcode, "session settings: " + r.error};
    return false;
  }
  return true;
}

std::unique_ptr<Backend> OdbcBackend::Open(const ConnectSettings& s,
                                           const TransportOptions& options, int* sqlcode,
                                           std::string* error) {
  std::unique_ptr<OdbcBackend> b(new OdbcBackend);
  b->secrets_ = SecretsOf(s);
  b->options_ = options;
  Handles& h = *b->h_;
  auto fail = [&](const Failure& f, const std::string& what) {
    *sqlcode = f.sqlcode < 0 ? f.sqlcode : kOdbcFailed;
    *error = what.empty() ? f.error : what + ": " + f.error;
    return nullptr;
  };
  SQLRETURN rc = h.env.Alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  if (!Succeeded(rc)) return fail(Failure{kOdbcFailed, "out of memory"}, "ODBC environment");
  rc = SQLSetEnvAttr(h.env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                     0);
  if (!Succeeded(rc)) {
    return fail(Diagnose(rc, SQL_HANDLE_ENV, h.env.get(), b->secrets_), "ODBC environment");
  }
  rc = h.dbc.Alloc(SQL_HANDLE_DBC, h.env.get());
  if (!Succeeded(rc)) {
    return fail(Diagnose(rc, SQL_HANDLE_ENV, h.env.get(), b->secrets_), "ODBC connection");
  }
  Failure f{0, ""};
  if (!b->Connect(s, &f)) return fail(f, "");
  b->ReadDbmsName();
  if (b->freetds_ && options.query_timeout_s > 0 && !b->sockets_.empty()) {
    b->watchdog_ = std::make_unique<Watchdog>(b->sockets_);
  }
  if (!b->PrepareSession(s, &f)) return fail(f, "");
  *sqlcode = kSqlOk;
  error->clear();
  return b;
}

Result OdbcBackend::Failed(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) const {
  Failure f = Diagnose(rc, type, handle, secrets_);
  Result r;
  r.sqlcode = f.sqlcode;
  r.error = std::move(f.error);
  r.failure = f.outcome;
  // The SQLite ODBC driver gives SQLite's result code as the native error
  // under a general SQLSTATE: its constraint code refuses the row.
  if (sqlite_ && r.sqlcode == -19) r.failure = Outcome::kRowRefused;
  if (sqlite_ && r.error.find(kInt32Overflow) != std::string::npos) {
    r.sqlcode = kSqlIntOverflow;
    r.failure = Outcome::kBadValue;
  }
  return r;
}

OdbcBackend::Statement* OdbcBackend::StatementFor(int stmt_no, Result* r) {
  std::unique_ptr<Statement>& slot = statements_[stmt_no];
  if (slot) return slot.get();
  auto st = std::make_unique<Statement>();
  SQLRETURN rc = st->stmt.Alloc(SQL_HANDLE_STMT, h_->dbc.get());
  if (!Succeeded(rc)) {
    statements_.erase(stmt_no);
    *r = Failed(rc, SQL_HANDLE_DBC, h_->dbc.get());
    return nullptr;
  }
  if (options_.query_timeout_s > 0) {
    // A driver that cannot bound a statement's time says so with info;
    // the statement then runs without the bound.
    SQLSetStmtAttr(st->stmt.get(), SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(options_.query_timeout_s)), 0);
  }
  slot = std::move(st);
  return slot.get();
}

bool OdbcBackend::Prepare(Statement& st, std::string_view text, Result* r) {
  if (!st.sql.empty() && st.text == text) return true;
  bool transaction = IsTransactionText(text);
  if (!st.sql.empty() && !transaction) st.direct = true;
  st.text = std::string(text);
  st.lock = IsAppLockText(text);
  st.sql = ToWide(OdbcStatementText(text, sqlite_, &st.order));
  st.prepared = false;
  if (!st.bound.columns.empty()) {  // another text: its markers are bound anew
    SQLFreeStmt(st.stmt.get(), SQL_RESET_PARAMS);
    st.bound.columns.clear();
  }
  if (st.direct || transaction) return true;
  // FreeTDS prepares with the first execution (sp_prepexec).
  if (!freetds_) ++round_trips_;
  SQLHSTMT hs = st.stmt.get();
  SQLRETURN rc = SQLPrepareW(hs, st.sql.data(), static_cast<SQLINTEGER>(st.sql.size()));
  if (!Succeeded(rc)) {
    st.text.clear();
    st.sql.clear();
    *r = Failed(rc, SQL_HANDLE_STMT, hs);
    return false;
  }
  st.prepared = true;
  return true;
}

SQLRETURN OdbcBackend::BindInts(SQLHSTMT hs, SQLUSMALLINT pos, int no,
                                const std::vector<const Params*>& rows, Bound::Column* col) {
  // Whole numbers go as int when every row's fits, as bigint otherwise.
  bool wide = false;
  for (const Params* p : rows) wide = wide || !FitsInt32((*p)[static_cast<size_t>(no - 1)].num);
  SQLSMALLINT sql_type = wide ? SQL_BIGINT : SQL_INTEGER;
  SQLRETURN rc = SQL_SUCCESS;
  if (!col->bound || !col->is_int || col->sql_type != sql_type || col->capacity < rows.size()) {
    col->capacity = Capacity(col->capacity, rows.size());
    col->nums.assign(col->capacity, 0);
    col->inds.assign(col->capacity, 0);
    col->bound = true;
    col->is_int = true;
    col->sql_type = sql_type;
    rc = SQLBindParameter(hs, pos, SQL_PARAM_INPUT, SQL_C_SBIGINT, sql_type, 0, 0,
                          col->nums.data(), sizeof(SQLBIGINT), col->inds.data());
  }
  for (size_t k = 0; k < rows.size(); ++k) {
    col->nums[k] = (*rows[k])[static_cast<size_t>(no - 1)].num;
    col->inds[k] = 0;
  }
  return rc;
}

SQLRETURN OdbcBackend::BindTexts(SQLHSTMT hs, SQLUSMALLINT pos, int no,
                                 const std::vector<const Params*>& rows, Bound::Column* col) {
  size_t n = rows.size();
  bool wide = options_.wide_text_params && !freetds_;
  size_t unit = wide ? sizeof(SQLWCHAR) : 1;
  std::vector<std::string> values(n);
  size_t longest = 0, declared = 0;
  for (size_t k = 0; k < n; ++k) {
    const Param& p = (*rows[k])[static_cast<size_t>(no - 1)];
    values[k] = EdgeBytes(p.text);
    longest = std::max(longest, values[k].size());
    declared = std::max<size_t>(declared, DeclaredSize(p, values[k].size() / unit));
  }
  SQLRETURN rc = SQL_SUCCESS;
  if (!col->bound || col->is_int || col->declared != declared ||
      col->stride < static_cast<SQLLEN>(longest + unit) || col->capacity < n) {
    // Room for a value of the declared width (up to 1 KB), so that later
    // values rarely need a new binding.
    size_t room = std::max(longest, std::min<size_t>(declared * unit, 1024));
    col->stride = static_cast<SQLLEN>(room + unit);
    col->capacity = Capacity(col->capacity, n);
    col->texts.assign(col->capacity * (room + unit), '\0');
    col->inds.assign(col->capacity, 0);
    col->bound = true;
    col->is_int = false;
    col->declared = declared;
    // varchar, as the key columns are: an nvarchar parameter would make SQL
    // Server compare the column as nvarchar and scan instead of seek.
    // FreeTDS gets the bytes as binary data: it sends them unconverted as
    // varchar in the database's collation (its own conversion would go
    // through UTF-8 and lose the bytes Windows-1252 leaves undefined).
    SQLSMALLINT c_type = freetds_ ? SQL_C_BINARY : unit == 1 ? SQL_C_CHAR : SQL_C_WCHAR;
    rc = SQLBindParameter(hs, pos, SQL_PARAM_INPUT, c_type, SQL_VARCHAR, declared, 0,
                          col->texts.data(), col->stride, col->inds.data());
  }
  size_t stride = static_cast<size_t>(col->stride);
  for (size_t k = 0; k < n; ++k) {
    std::copy(values[k].begin(), values[k].end(), col->texts.begin() + k * stride);
    std::fill(col->texts.begin() + k * stride + values[k].size(),
              col->texts.begin() + k * stride + values[k].size() + unit, '\0');
    col->inds[k] = static_cast<SQLLEN>(values[k].size());
  }
  return rc;
}

bool OdbcBackend::Bind(Statement& st, const std::vector<const Params*>& rows, Result* r) {
  SQLHSTMT hs = st.stmt.get();
  Bound* b = &st.bound;
  if (b->columns.size() != st.order.size()) b->columns.assign(st.order.size(), Bound::Column());
  for (size_t i = 0; i < st.order.size(); ++i) {
    int no = st.order[i];
    for (const Params* p : rows) {
      if (no < 1 || static_cast<size_t>(no) > p->size()) {
        r->sqlcode = kOdbcFailed;
        r->error = "parameter @p" + std::to_string(no) + " not given";
        return false;
      }
    }
    Bound::Column& col = b->columns[i];
    SQLUSMALLINT pos = static_cast<SQLUSMALLINT>(i + 1);
    SQLRETURN rc = (*rows[0])[static_cast<size_t>(no - 1)].is_int
                       ? BindInts(hs, pos, no, rows, &col)
                       : BindTexts(hs, pos, no, rows, &col);
    if (!Succeeded(rc)) {
      col.bound = false;
      *r = Failed(rc, SQL_HANDLE_STMT, hs);
      return false;
    }
  }
  return true;
}

SQLRETURN OdbcBackend::Execute(Statement& st) {
  ++round_trips_;
  SQLHSTMT hs = st.stmt.get();
  return st.prepared ? SQLExecute(hs)
                     : SQLExecDirectW(hs, st.sql.data(), static_cast<SQLINTEGER>(st.sql.size()));
}

void OdbcBackend::ReadRows(SQLHSTMT hs, size_t max_rows, Result* r) {
  SQLSMALLINT ncols = 0;
  SQLNumResultCols(hs, &ncols);
  r->is_select = ncols > 0;
  if (!r->is_select) {
    SQLLEN count = -1;
    if (!Succeeded(SQLRowCount(hs, &count))) count = -1;
    r->changes = count < 0 ? -1 : count;  // -1: the server sent no count
    return;
  }
  std::vector<Value::Type> types(static_cast<size_t>(ncols));
  std::vector<bool> raw(static_cast<size_t>(ncols), false);
  for (SQLSMALLINT c = 0; c < ncols; ++c) {
    SQLWCHAR col_name[128];
    SQLSMALLINT name_len = 0, sql_type = 0, scale = 0, nullable = 0;
    SQLULEN size = 0;
    SQLRETURN rc = SQLDescribeColW(hs, static_cast<SQLUSMALLINT>(c + 1), col_name,
                                   static_cast<SQLSMALLINT>(sizeof col_name / sizeof col_name[0]),
                                   &name_len, &sql_type, &size, &scale, &nullable);
    types[static_cast<size_t>(c)] =
        Succeeded(rc) ? ValueTypeOf(sql_type, scale) : Value::Type::kText;
    // Through FreeTDS a character column is read as it is stored (see
    // BindTexts); national ones come as UTF-16.
    raw[static_cast<size_t>(c)] = freetds_ && Succeeded(rc) &&
                                  (sql_type == SQL_CHAR || sql_type == SQL_VARCHAR ||
                                   sql_type == SQL_LONGVARCHAR);
  }
  SQLRETURN rc;
  while ((rc = SQLFetch(hs)) != SQL_NO_DATA) {
    if (!Succeeded(rc)) {
      *r = Failed(rc, SQL_HANDLE_STMT, hs);
      return;
    }
    Row row;
    row.reserve(types.size());
    for (size_t c = 0; c < types.size(); ++c) {
      row.push_back(raw[c] ? ReadBytes(hs, static_cast<SQLUSMALLINT>(c + 1), &rc)
                           : ReadColumn(hs, static_cast<SQLUSMALLINT>(c + 1), types[c], &rc));
      if (!Succeeded(rc)) {
        *r = Failed(rc, SQL_HANDLE_STMT, hs);
        return;
      }
    }
    r->rows.push_back(std::move(row));
    if (max_rows != 0 && r->rows.size() >= max_rows) break;
  }
  // FreeTDS closes a cursor that was not read to its end with a cancel
  // (ATTENTION), a round trip of its own; the rows left are in the answer
  // already, so reading past them costs none.
  if (freetds_ && rc != SQL_NO_DATA) {
    while (Succeeded(SQLFetch(hs))) {
    }
  }
}

Result OdbcBackend::LockNotGranted(const std::string& why) {
  Result r;  // sp_getapplock's -1: not granted within the wait
  r.is_select = true;
  r.rows.assign(1, Row(1));
  r.rows[0][0].type = Value::Type::kInt;
  r.rows[0][0].i = -1;
  r.error = why;
  return r;
}

void OdbcBackend::NoteLoss(const Result& r) {
  if (lost_.sqlcode != 0 || !freetds_) return;
  SQLUINTEGER dead = SQL_CD_FALSE;
  SQLGetConnectAttr(h_->dbc.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
  if (dead != SQL_CD_TRUE && (watchdog_ == nullptr || !watchdog_->fired())) return;
  lost_.sqlcode = r.sqlcode < 0 ? r.sqlcode : kOdbcFailed;
  lost_.error = r.error + " (the server did not answer in time; the connection is closed)";
}

Result OdbcBackend::Run(int stmt_no, std::string_view text, const Params& params, size_t max_rows) {
  if (lost_.sqlcode != 0) {
    // Every later statement says why; the lock statement (asked again after
    // its first try) finds the lock not granted, as its first try did.
    return IsAppLockText(text) ? LockNotGranted(lost_.error) : lost_;
  }
  Result r;
  if (sqlite_ && IsAppLockText(text)) return SqliteAppLock(params);
  Statement* st = StatementFor(stmt_no, &r);
  if (st == nullptr || !Prepare(*st, text, &r)) return r;
  SQLHSTMT hs = st->stmt.get();
  int timeout = options_.query_timeout_s;
  bool lock = st->lock;
  if (lock && timeout > 0 && params.size() >= 2 && params[1].is_int && params[1].num > 0) {
    // The lock's wait is the caller's (@p2, milliseconds); the statement
    // may take that long and the query timeout besides.
    timeout += static_cast<int>((params[1].num + 999) / 1000);
    SQLSetStmtAttr(hs, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout)), 0);
  }
  StatementGuard guard(hs);
  if (!st->order.empty() && !Bind(*st, {&params}, &r)) return r;
  Armed armed(watchdog_.get(), timeout);
  SQLRETURN rc = Execute(*st);
  if (rc == SQL_NO_DATA) {  // a searched change that touched no row
    r.sqlcode = kSqlNotFound;
    return r;
  }
  if (!Succeeded(rc)) {
    r = Failed(rc, SQL_HANDLE_STMT, hs);
    NoteLoss(r);
    // No answer within the lock's wait and the query timeout: the lock was
    // not granted in time.
    if (lock && r.error.compare(0, 7, "[HYT00]") == 0) return LockNotGranted(r.error);
    return r;
  }
  ReadRows(hs, max_rows, &r);
  if (r.sqlcode < 0) NoteLoss(r);
  return r;
}

std::vector<Result> OdbcBackend::RunMany(int stmt_no, std::string_view text,
                                         const std::vector<Params>& rows) {
  std::vector<Result> results(rows.size());
  if (lost_.sqlcode != 0) return std::vector<Result>(rows.size(), lost_);
  if (rows.size() < 2 || !options_.param_arrays) return Backend::RunMany(stmt_no, text, rows);
  Result r;
  Statement* st = StatementFor(stmt_no, &r);
  if (st == nullptr || !Prepare(*st, text, &r) || st->order.empty()) {
    return Backend::RunMany(stmt_no, text, rows);
  }
  size_t done = 0;
  while (done < rows.size() && st->arrays) {
    size_t sent = RunArray(stmt_no, *st, rows, done, &results);
    if (sent == 0) break;
    done += sent;
  }
  for (; done < rows.size(); ++done) results[done] = Run(stmt_no, text, rows[done], 0);
  return results;
}

size_t OdbcBackend::RunArray(int stmt_no, Statement& st, const std::vector<Params>& rows,
                             size_t from, std::vector<Result>* results) {
  SQLHSTMT hs = st.stmt.get();
  size_t n = rows.size() - from;
  std::vector<SQLUSMALLINT> status(n, kStatusUnset);
  SQLULEN processed = 0;
  std::vector<const Params*> set(n);
  for (size_t k = 0; k < n; ++k) set[k] = &rows[from + k];
  Result r;
  {
    StatementGuard guard(hs);
    if (!SetArray(hs, n, status.data(), &processed)) {
      st.arrays = false;  // the driver cannot: one row per round trip
      return 0;
    }
    if (!Bind(st, set, &r)) {
      SetArray(hs, 1, nullptr, nullptr);
      st.arrays = false;
      return 0;
    }
    SQLRETURN rc;
    {
      Armed armed(watchdog_.get(), options_.query_timeout_s);
      rc = Execute(st);
    }
    if (!Succeeded(rc)) NoteLoss(Failed(rc, SQL_HANDLE_STMT, hs));
    SetArray(hs, 1, nullptr, nullptr);
    ReadStatus(rc, processed, &status);
  }
  const std::string text = st.text;
  // A failed row goes again alone: it fails again with its own sqlcode and
  // message (it was undone alone). The rows from the first one the driver
  // did not run go in the next array.
  size_t judged = 0;
  for (; judged < n; ++judged) {
    SQLUSMALLINT s = status[judged];
    if (s == SQL_PARAM_SUCCESS || s == SQL_PARAM_SUCCESS_WITH_INFO) {
      (*results)[from + judged].changes = 1;
    } else if (s == SQL_PARAM_ERROR) {
      (*results)[from + judged] = Run(stmt_no, text, rows[from + judged], 0);
    } else {
      break;
    }
  }
  if (judged == 0) st.arrays = false;
  return judged;
}

void OdbcBackend::ReadStatus(SQLRETURN rc, SQLULEN processed,
                             std::vector<SQLUSMALLINT>* status) const {
  for (SQLUSMALLINT s : *status) {
    if (s != kStatusUnset) return;  // the driver reported row by row
  }
  if (Succeeded(rc)) {  // success of the whole array is success of every row
    status->assign(status->size(), SQL_PARAM_SUCCESS);
    return;
  }
  // Only the count of processed rows: the rows before the failed one
  // succeeded. ODBC counts the failed row among the processed ones; the
  // SQLite ODBC driver counts only the rows before it.
  size_t ok = sqlite_ ? processed : (processed > 0 ? processed - 1 : 0);
  if (!sqlite_ && processed == 0) return;  // nothing ran: row by row
  for (size_t k = 0; k < ok && k < status->size(); ++k) (*status)[k] = SQL_PARAM_SUCCESS;
  if (ok < status->size()) (*status)[ok] = SQL_PARAM_ERROR;
}

bool OdbcBackend::SetArray(SQLHSTMT hs, size_t n, SQLUSMALLINT* status, SQLULEN* processed) {
  auto set = [&](SQLINTEGER attr, SQLPOINTER value) {
    return Succeeded(SQLSetStmtAttr(hs, attr, value, 0));
  };
  bool ok = set(SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN)) &&
            set(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(n))) &&
            set(SQL_ATTR_PARAM_STATUS_PTR, status) && set(SQL_ATTR_PARAMS_PROCESSED_PTR, processed);
  if (!ok || n == 1) return ok;
  SQLULEN size = 0;
  SQLGetStmtAttr(hs, SQL_ATTR_PARAMSET_SIZE, &size, 0, nullptr);
  return size == n;
}

Result OdbcBackend::SqliteAppLock(const Params& params) {
  if (sqlite_file_.empty()) {
    // The statement number of no statement of the tool.
    Result list = Run(-1, "PRAGMA database_list", {}, 0);
    if (list.sqlcode != 0) return list;
    for (const Row& row : list.rows) {
      if (row.size() >= 3 && row[1].Text() == "main") sqlite_file_ = row[2].Text();
    }
    if (sqlite_file_.empty()) {
      Result r;
      r.sqlcode = kOdbcFailed;
      r.error = "sp_getapplock: the data source names no database file";
      return r;
    }
  }
  return app_locks_.Take(sqlite_file_, params);
}

}  // namespace plom
