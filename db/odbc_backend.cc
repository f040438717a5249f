#include "db/odbc_backend.h"

#include "platform/odbc_headers.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "db/codepage.h"
#include "db/odbc_settings.h"
#include "db/tsql.h"

namespace plom {
namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 10;
// Wide parameters are declared with one size, so that SQL Server keeps one
// plan per statement whatever the length of the values.
constexpr SQLULEN kWideParamSize = 4000;
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

struct Failure {
  int sqlcode;
  std::string error;
};

// The sqlcode and message of a failed call on the handle. The sqlcode comes
// from the first record that carries a native error (drivers often put a
// summary record without one first).
Failure Diagnose(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h,
                 const std::vector<std::string>& secrets) {
  std::string first_state, text;
  long native = 0;
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
  }
  return {SqlcodeFromDiag(rc, native, first_state),
          DiagMessage(rc, first_state, text, secrets)};
}

// Transaction statements: BEGIN/COMMIT/ROLLBACK/SAVE TRAN[SACTION] [name].
bool IsTransactionWords(std::string_view s) {
  std::vector<std::string> words = SqlWords(s);
  if (words.size() < 2 || words.size() > 3) return false;
  if (!EqualsNoCase(words[1], "TRANSACTION") && !EqualsNoCase(words[1], "TRAN")) return false;
  return EqualsNoCase(words[0], "BEGIN") || EqualsNoCase(words[0], "COMMIT") ||
         EqualsNoCase(words[0], "ROLLBACK") || EqualsNoCase(words[0], "SAVE");
}

// Rewrites the numbered markers ?N of a translated text into "?".
std::string PlainMarkers(std::string_view s, std::vector<int>* order) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    size_t end = i;
    if (c == '\'' || c == '"') {
      end = i + 1;
      while (end < s.size()) {
        if (s[end] == c) {
          if (end + 1 < s.size() && s[end + 1] == c) {
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        ++end;
      }
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      end = s.find("*/", i + 2);
      end = end == std::string_view::npos ? s.size() : end + 2;
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      end = s.find('\n', i);
      end = end == std::string_view::npos ? s.size() : end + 1;
    }
    if (end > i) {
      out.append(s.substr(i, end - i));
      i = end;
      continue;
    }
    if (c == '?') {
      size_t j = i + 1;
      int n = 0;
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
        n = n * 10 + (s[j] - '0');
        ++j;
      }
      out.push_back('?');
      order->push_back(j > i + 1 ? n : static_cast<int>(order->size()) + 1);
      i = j;
      continue;
    }
    out.push_back(c);
    ++i;
  }
  return out;
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

bool IsTransactionText(std::string_view tsql) { return IsTransactionWords(tsql); }

std::string OdbcStatementText(std::string_view tsql, bool sqlite, std::vector<int>* order) {
  order->clear();
  if (sqlite) return PlainMarkers(TranslateForSqlite(tsql), order);
  std::string numbers;
  std::string out = ToOdbcMarkers(tsql, &numbers);
  for (size_t i = 0; i < numbers.size();) {
    size_t comma = numbers.find(',', i);
    if (comma == std::string::npos) comma = numbers.size();
    order->push_back(std::atoi(numbers.substr(i, comma - i).c_str()));
    i = comma + 1;
  }
  return out;
}

bool IsOdbcDataSource(std::string_view name) {
  if (name.empty() || name.find('=') != std::string_view::npos) return false;
  Handle env;
  if (!Succeeded(env.Alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE))) return false;
  SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                0);
  SQLCHAR dsn[SQL_MAX_DSN_LENGTH + 1];
  SQLCHAR desc[256];
  SQLSMALLINT dsn_len = 0, desc_len = 0;
  SQLUSMALLINT dir = SQL_FETCH_FIRST;
  while (Succeeded(SQLDataSources(env.get(), dir, dsn, sizeof dsn, &dsn_len, desc, sizeof desc,
                                  &desc_len))) {
    dir = SQL_FETCH_NEXT;
    if (EqualsNoCase(reinterpret_cast<const char*>(dsn), name)) return true;
  }
  return false;
}

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
  std::string text;         // the statement text as the tool sent it
  WString sql;              // the text as sent to the DBMS
  std::vector<int> order;   // parameter number of each marker
  bool prepared = false;    // sql is prepared on stmt
  bool direct = false;      // the text has changed: execute directly
};

OdbcBackend::OdbcBackend() : h_(new Handles) {}

OdbcBackend::~OdbcBackend() { statements_.clear(); }

std::unique_ptr<Backend> OdbcBackend::Open(const ConnectSettings& s, int* sqlcode,
                                           std::string* error) {
  std::unique_ptr<OdbcBackend> b(new OdbcBackend);
  b->secrets_ = SecretsOf(s);
  Handles& h = *b->h_;
  auto fail = [&](SQLRETURN rc, const Handle& on, const char* what) {
    Failure f = on.get() != SQL_NULL_HANDLE ? Diagnose(rc, on.type(), on.get(), b->secrets_)
                                            : Failure{kOdbcFailed, "out of memory"};
    *sqlcode = f.sqlcode < 0 ? f.sqlcode : kOdbcFailed;
    *error = std::string(what) + ": " + f.error;
    return nullptr;
  };
  SQLRETURN rc = h.env.Alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  if (!Succeeded(rc)) {
    h.env.Reset();
    return fail(rc, h.env, "ODBC environment");
  }
  rc = SQLSetEnvAttr(h.env.get(), SQL_ATTR_ODBC_VERSION,
                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!Succeeded(rc)) return fail(rc, h.env, "ODBC environment");
  rc = h.dbc.Alloc(SQL_HANDLE_DBC, h.env.get());
  if (!Succeeded(rc)) return fail(rc, h.env, "ODBC connection");
  SQLSetConnectAttr(h.dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);

  bool dsn = s.server.find('=') == std::string::npos && IsOdbcDataSource(s.server);
  std::string conn = BuildConnectionString(s, dsn);
  WString wconn = ToWide(conn);
  // The completed connection string is not asked for: it holds the password.
  rc = SQLDriverConnectW(h.dbc.get(), nullptr, wconn.data(), static_cast<SQLSMALLINT>(wconn.size()),
                         nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!Succeeded(rc)) {
    // Masked twice over: by key, and by value for a password that a
    // malformed connection string does not show under its key.
    std::string shown = MaskConnectionString(ScrubSecrets(conn, b->secrets_));
    std::string where = "connect (" + ScrubSecrets(shown, b->secrets_) + ")";
    return fail(rc, h.dbc, where.c_str());
  }
  h.connected = true;

  SQLWCHAR name[128] = {0};
  SQLSMALLINT name_len = 0;
  if (Succeeded(SQLGetInfoW(h.dbc.get(), SQL_DBMS_NAME, name, sizeof name, &name_len))) {
    size_t n = static_cast<size_t>(name_len) / sizeof(SQLWCHAR);
    if (n >= sizeof name / sizeof name[0]) n = sizeof name / sizeof name[0] - 1;
    b->dbms_name_ = FromWide(name, n);
  }
  b->sqlite_ = IsSqliteDbms(b->dbms_name_);
  *sqlcode = kSqlOk;
  error->clear();
  return b;
}

Result OdbcBackend::Run(int stmt_no, std::string_view text, const Params& params,
                        size_t max_rows) {
  Result r;
  if (sqlite_ && SqliteSkipsSavepoint(text, &savepoints_)) return r;
  auto fail = [&](SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
    Failure f = Diagnose(rc, type, handle, secrets_);
    r.sqlcode = f.sqlcode;
    r.error = std::move(f.error);
    r.rows.clear();
    r.is_select = false;
    return r;
  };

  std::unique_ptr<Statement>& slot = statements_[stmt_no];
  if (!slot) {
    auto st = std::make_unique<Statement>();
    SQLRETURN rc = st->stmt.Alloc(SQL_HANDLE_STMT, h_->dbc.get());
    if (!Succeeded(rc)) {
      statements_.erase(stmt_no);
      return fail(rc, SQL_HANDLE_DBC, h_->dbc.get());
    }
    slot = std::move(st);
  }
  Statement& st = *slot;
  SQLHSTMT hs = st.stmt.get();

  if (st.sql.empty() || st.text != text) {
    bool transaction = IsTransactionText(text);
    if (!st.sql.empty() && !transaction) st.direct = true;
    st.text = std::string(text);
    st.sql = ToWide(OdbcStatementText(text, sqlite_, &st.order));
    st.prepared = false;
    if (!st.direct && !transaction) {
      SQLRETURN rc = SQLPrepareW(hs, st.sql.data(), static_cast<SQLINTEGER>(st.sql.size()));
      if (!Succeeded(rc)) {
        st.text.clear();
        st.sql.clear();
        return fail(rc, SQL_HANDLE_STMT, hs);
      }
      st.prepared = true;
    }
  }

  // Bind the parameters in the order of the markers; the buffers live until
  // the execution below has returned.
  SQLFreeStmt(hs, SQL_RESET_PARAMS);
  std::vector<WString> texts(st.order.size());
  std::vector<SQLINTEGER> longs(st.order.size());
  std::vector<SQLBIGINT> nums(st.order.size());
  std::vector<SQLLEN> inds(st.order.size());
  for (size_t i = 0; i < st.order.size(); ++i) {
    int no = st.order[i];
    if (no < 1 || static_cast<size_t>(no) > params.size()) {
      r.sqlcode = kOdbcFailed;
      r.error = "parameter @p" + std::to_string(no) + " not given";
      return r;
    }
    const Param& p = params[static_cast<size_t>(no - 1)];
    SQLUSMALLINT pos = static_cast<SQLUSMALLINT>(i + 1);
    SQLRETURN rc;
    if (p.is_int && p.num >= INT32_MIN && p.num <= INT32_MAX) {
      longs[i] = static_cast<SQLINTEGER>(p.num);
      rc = SQLBindParameter(hs, pos, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &longs[i],
                            0, &inds[i]);
    } else if (p.is_int) {
      nums[i] = p.num;
      rc = SQLBindParameter(hs, pos, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &nums[i],
                            0, &inds[i]);
    } else {
      texts[i] = ToWide(p.text);
      inds[i] = static_cast<SQLLEN>(texts[i].size() * sizeof(SQLWCHAR));
      SQLULEN size = texts[i].size() > kWideParamSize ? texts[i].size() : kWideParamSize;
      rc = SQLBindParameter(hs, pos, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, size, 0,
                            texts[i].data(), inds[i], &inds[i]);
    }
    if (!Succeeded(rc)) return fail(rc, SQL_HANDLE_STMT, hs);
  }

  SQLRETURN rc = st.prepared
                     ? SQLExecute(hs)
                     : SQLExecDirectW(hs, st.sql.data(), static_cast<SQLINTEGER>(st.sql.size()));
  if (rc == SQL_NO_DATA) {  // a searched change that touched no row
    SQLFreeStmt(hs, SQL_CLOSE);
    r.sqlcode = kSqlNotFound;
    return r;
  }
  if (!Succeeded(rc)) {
    Result f = fail(rc, SQL_HANDLE_STMT, hs);
    SQLFreeStmt(hs, SQL_CLOSE);
    return f;
  }

  SQLSMALLINT ncols = 0;
  SQLNumResultCols(hs, &ncols);
  r.is_select = ncols > 0;
  if (!r.is_select) {
    SQLLEN count = 0;
    if (Succeeded(SQLRowCount(hs, &count)) && count > 0) r.changes = count;
    SQLFreeStmt(hs, SQL_CLOSE);
    return r;
  }

  std::vector<Value::Type> types(static_cast<size_t>(ncols));
  for (SQLSMALLINT c = 0; c < ncols; ++c) {
    SQLWCHAR col_name[128];
    SQLSMALLINT name_len = 0, sql_type = 0, scale = 0, nullable = 0;
    SQLULEN size = 0;
    rc = SQLDescribeColW(hs, static_cast<SQLUSMALLINT>(c + 1), col_name,
                         static_cast<SQLSMALLINT>(sizeof col_name / sizeof col_name[0]),
                         &name_len, &sql_type, &size, &scale, &nullable);
    types[static_cast<size_t>(c)] =
        Succeeded(rc) ? ValueTypeOf(sql_type, scale) : Value::Type::kText;
  }
  while ((rc = SQLFetch(hs)) != SQL_NO_DATA) {
    if (!Succeeded(rc)) {
      Result f = fail(rc, SQL_HANDLE_STMT, hs);
      SQLFreeStmt(hs, SQL_CLOSE);
      return f;
    }
    Row row;
    row.reserve(types.size());
    for (size_t c = 0; c < types.size(); ++c) {
      row.push_back(ReadColumn(hs, static_cast<SQLUSMALLINT>(c + 1), types[c], &rc));
      if (!Succeeded(rc)) {
        Result f = fail(rc, SQL_HANDLE_STMT, hs);
        SQLFreeStmt(hs, SQL_CLOSE);
        return f;
      }
    }
    r.rows.push_back(std::move(row));
    if (max_rows != 0 && r.rows.size() >= max_rows) break;
  }
  SQLFreeStmt(hs, SQL_CLOSE);
  return r;
}

}  // namespace plom
