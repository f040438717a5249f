#include "db/runtime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#ifdef PLOM_HAVE_SQLITE
#include "db/sqlite_backend.h"
#endif
#ifdef PLOM_HAVE_ODBC
#include "db/odbc_backend.h"
#endif
#include "db/odbc_settings.h"
#include "platform/files.h"

namespace plom {

std::string Value::Text() const {
  char buf[64];
  switch (type) {
    case Type::kNull:
      return std::string();
    case Type::kInt:
      return std::to_string(i);
    case Type::kReal:
      std::snprintf(buf, sizeof buf, "%.15g", r);
      return buf;
    case Type::kText:
      return s;
  }
  return std::string();
}

namespace {

int32_t Saturated(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int32_t Saturated(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

}  // namespace

bool FitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

Outcome OutcomeOf(int sqlcode, Outcome failure) {
  if (sqlcode == kSqlOk) return Outcome::kOk;
  if (sqlcode == kSqlNotFound) return Outcome::kNoRow;
  if (sqlcode == kSqlTooLong || sqlcode == kSqlIntOverflow) return Outcome::kBadValue;
  if (sqlcode > 0) return Outcome::kFailed;  // no code a statement answers with
  return failure;
}

const char* OutcomeName(Outcome o) {
  switch (o) {
    case Outcome::kOk:
      return "ok";
    case Outcome::kNoRow:
      return "no row";
    case Outcome::kRowRefused:
      return "row refused";
    case Outcome::kBadValue:
      return "bad value";
    case Outcome::kFailed:
      return "database failed";
  }
  return "?";
}

int32_t Value::Int() const {
  switch (type) {
    case Type::kInt:
      return Saturated(i);
    case Type::kReal:
      return Saturated(r);
    case Type::kText:
      return Saturated(static_cast<int64_t>(std::strtoll(s.c_str(), nullptr, 10)));
    default:
      return 0;
  }
}

double Value::Real() const {
  switch (type) {
    case Type::kInt:
      return static_cast<double>(i);
    case Type::kReal:
      return r;
    case Type::kText:
      return std::strtod(s.c_str(), nullptr);
    default:
      return 0.0;
  }
}

int SecondsFrom(const char* value, int fallback) {
  if (value == nullptr || *value == '\0') return fallback;
  char* end = nullptr;
  long v = std::strtol(value, &end, 10);
  if (*end != '\0' || v < 0 || v > 86400) return fallback;
  return static_cast<int>(v);
}

TransportOptions TransportOptions::FromEnvironment() {
  TransportOptions o;
  o.query_timeout_s = SecondsFrom(std::getenv("PLOMVARDE_QUERY_TIMEOUT"), o.query_timeout_s);
  o.lock_timeout_s = SecondsFrom(std::getenv("PLOMVARDE_LOCK_TIMEOUT"), o.lock_timeout_s);
  o.login_timeout_s = SecondsFrom(std::getenv("PLOMVARDE_LOGIN_TIMEOUT"), o.login_timeout_s);
  auto off = [](const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && std::string_view(v) == "0";
  };
  o.param_arrays = !off("PLOMVARDE_PARAM_ARRAYS");
  const char* text = std::getenv("PLOMVARDE_TEXT_PARAMS");
  o.wide_text_params = text != nullptr && std::string_view(text) == "wide";
  return o;
}

namespace {

// A "sqlite:" database file: with the embedded backend where it is built in,
// otherwise through the SQLite ODBC driver. The driver is registered as
// "SQLite3" by Debian's package and as "SQLite3 ODBC Driver" by its Windows
// installer; the first one found serves.
std::unique_ptr<Backend> OpenSqliteFile(const std::string& path, const ConnectSettings& s,
                                        const TransportOptions& options, int* sqlcode,
                                        std::string* error) {
#ifdef PLOM_HAVE_SQLITE
  return SqliteBackend::Open(path, options, sqlcode, error, s.read_only);
#elif defined(PLOM_HAVE_ODBC)
  std::string first_error;
  int first_code = 0;
  for (const char* driver : {"SQLite3", "SQLite3 ODBC Driver"}) {
    ConnectSettings via = s;
    via.server = SqliteOdbcConnectionString(driver, path, CollationModulePath());
    auto backend = OdbcBackend::Open(via, options, sqlcode, error);
    if (backend) return backend;
    // Keep the reason of a driver that was found over "no such driver".
    if (first_error.empty() || first_error.rfind("[IM002]", 0) == 0) {
      first_error = *error;
      first_code = *sqlcode;
    }
  }
  *sqlcode = first_code;
  *error = first_error;
  return nullptr;
#else
  (void)path;
  (void)s;
  (void)options;
  *sqlcode = -1;
  *error = "this build has no backend for a database file";
  return nullptr;
#endif
}

}  // namespace

std::string SqliteOdbcConnectionString(std::string_view driver, std::string_view path,
                                       std::string_view collation_module) {
  // NoCreat: a missing file is a failed connect, as with the embedded backend.
  return "DRIVER={" + std::string(driver) + "};Database=" + QuoteConnValue(path) +
         ";NoCreat=1;LoadExt=" + QuoteConnValue(collation_module);
}

std::unique_ptr<Backend> OpenBackend(const ConnectSettings& s, int* sqlcode, std::string* error) {
  return OpenBackend(s, TransportOptions::FromEnvironment(), sqlcode, error);
}

std::unique_ptr<Backend> OpenBackend(const ConnectSettings& s, const TransportOptions& options,
                                     int* sqlcode, std::string* error) {
  *sqlcode = 0;
  error->clear();
  if (s.server.empty()) {
    *sqlcode = kSqlFailed;
    *error = "no server name configured (SQLSERVER and NET8 empty, or no configuration file)";
    return nullptr;
  }
  const std::string prefix = "sqlite:";
  if (s.server.compare(0, prefix.size(), prefix) == 0) {
    std::string path = s.server.substr(prefix.size());
    for (char& ch : path) {
      if (ch == '\\') ch = '/';
    }
    if (path.empty()) {
      *sqlcode = kSqlFailed;
      *error = "no database file named";
      return nullptr;
    }
    return OpenSqliteFile(path, s, options, sqlcode, error);
  }
#ifdef PLOM_HAVE_ODBC
  return OdbcBackend::Open(s, options, sqlcode, error);
#else
  *sqlcode = kSqlFailed;
  *error = "this build has no ODBC backend";
  return nullptr;
#endif
}

std::vector<Result> Backend::RunMany(int stmt_no, std::string_view text,
                                     const std::vector<Params>& rows) {
  std::vector<Result> results;
  results.reserve(rows.size());
  for (const Params& p : rows) results.push_back(Run(stmt_no, text, p, 0));
  return results;
}

Result Backend::RunEach(int stmt_no, std::string_view text, const Params& params,
                        const std::function<bool(const Row&)>& take) {
  Result r = Run(stmt_no, text, params, 0);
  std::vector<Row> rows = std::move(r.rows);
  r.rows.clear();
  for (const Row& row : rows) {
    if (!take(row)) break;
  }
  return r;
}

int Connection::Finish(const Result& r) {
  ++statements_sent_;
  last_sqlcode_ = r.sqlcode;
  if (r.sqlcode < 0) {
    last_error_ = r.error;
    last_failure_ = r.failure;
  }
  return r.sqlcode;
}

int Connection::Execute(int stmt_no, std::string_view text, const Params& params, Row* out) {
  if (!backend_) return last_sqlcode_ = kSqlFailed;
  Result r = backend_->Run(stmt_no, text, params, 1);
  const Row* delivered = nullptr;
  if (r.sqlcode == 0) {
    if (r.is_select) {
      if (r.rows.empty()) {
        r.sqlcode = kSqlNotFound;
      } else {
        delivered = &r.rows.front();
      }
    } else if (r.changes == 0) {  // -1: the server sent no count
      r.sqlcode = kSqlNotFound;
    }
  }
  int rc = Finish(r);
  Tell({StatementObserver::Kind::kExecute, stmt_no, text, &params, rc, delivered, r.rows.size()});
  if (delivered != nullptr && out != nullptr) *out = std::move(r.rows.front());
  return rc;
}

int Connection::ExecuteMany(int stmt_no, std::string_view text, const std::vector<Params>& rows,
                            std::vector<Status>* statuses) {
  statuses->assign(rows.size(), Status(kSqlFailed, Outcome::kFailed, "not sent"));
  if (!backend_) return last_sqlcode_ = kSqlFailed;
  std::vector<Result> results = backend_->RunMany(stmt_no, text, rows);
  int first = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    Result r =
        i < results.size() ? std::move(results[i]) : Result{kSqlFailed, {}, 0, false, "no result"};
    if (r.sqlcode == 0 && !r.is_select && r.changes == 0) r.sqlcode = kSqlNotFound;
    (*statuses)[i] = Status(r.sqlcode, OutcomeOf(r.sqlcode, r.failure),
                            r.sqlcode < 0 ? r.error : std::string());
    if (r.sqlcode != 0 && first == 0) {
      first = r.sqlcode;
      if (r.sqlcode < 0) {
        last_error_ = r.error;
        last_failure_ = r.failure;
      }
    }
    ++statements_sent_;
    Tell({StatementObserver::Kind::kExecute, stmt_no, text, &rows[i], r.sqlcode, nullptr, 0});
  }
  return last_sqlcode_ = first;
}

int Connection::Transaction(int stmt_no, std::string_view text) {
  if (!backend_) return last_sqlcode_ = kSqlFailed;
  int rc = Finish(backend_->Run(stmt_no, text, {}, 0));
  Tell({StatementObserver::Kind::kTransaction, stmt_no, text, nullptr, rc, nullptr, 0});
  return rc;
}

int Connection::Open(int cursor_no, std::string_view text, const Params& params, size_t max_rows) {
  cursors_.erase(cursor_no);
  if (!backend_) return last_sqlcode_ = kSqlFailed;
  Result r = backend_->Run(cursor_no, text, params, max_rows);
  int rc = Finish(r);
  Tell({StatementObserver::Kind::kOpen, cursor_no, text, &params, rc, nullptr, r.rows.size()});
  if (rc == 0) cursors_[cursor_no].rows = std::move(r.rows);
  return rc;
}

int Connection::ForEachRow(int cursor_no, std::string_view text, const Params& params,
                           const std::function<bool(const Row&)>& take) {
  using Kind = StatementObserver::Kind;
  cursors_.erase(cursor_no);
  if (!backend_) return last_sqlcode_ = kSqlFailed;
  // Seen as the cursor's open, its fetches and its close.
  bool opened = false, stopped = false;
  Result r = backend_->RunEach(cursor_no, text, params, [&](const Row& row) {
    if (!opened) Tell({Kind::kOpen, cursor_no, text, &params, kSqlOk, nullptr, 0});
    opened = true;
    Tell({Kind::kFetch, cursor_no, {}, nullptr, kSqlOk, &row, 1});
    stopped = !take(row);
    return !stopped;
  });
  int rc = Finish(r);
  if (!opened) Tell({Kind::kOpen, cursor_no, text, &params, rc, nullptr, 0});
  if (opened && rc != kSqlOk) Tell({Kind::kFetch, cursor_no, {}, nullptr, rc, nullptr, 0});
  if (rc == kSqlOk && !stopped) Tell({Kind::kFetch, cursor_no, {}, nullptr, kSqlNotFound, nullptr, 0});
  Tell({Kind::kClose, cursor_no, {}, nullptr, kSqlOk, nullptr, 0});
  return rc;
}

int Connection::Fetch(int cursor_no, Row* out) {
  using Kind = StatementObserver::Kind;
  auto it = cursors_.find(cursor_no);
  if (it == cursors_.end()) {
    last_error_ = "cursor not open";
    last_failure_ = Outcome::kFailed;
    Tell({Kind::kFetch, cursor_no, {}, nullptr, kSqlCursorNotOpen, nullptr, 0});
    return last_sqlcode_ = kSqlCursorNotOpen;
  }
  Cursor& cur = it->second;
  if (cur.next >= cur.rows.size()) {
    Tell({Kind::kFetch, cursor_no, {}, nullptr, kSqlNotFound, nullptr, 0});
    return last_sqlcode_ = kSqlNotFound;
  }
  Row& row = cur.rows[cur.next++];
  Tell({Kind::kFetch, cursor_no, {}, nullptr, kSqlOk, &row, 1});
  *out = std::move(row);
  return last_sqlcode_ = kSqlOk;
}

int Connection::Close(int cursor_no) {
  bool was_open = cursors_.erase(cursor_no) > 0;
  int rc = was_open ? kSqlOk : kSqlCursorNotOpen;
  Tell({StatementObserver::Kind::kClose, cursor_no, {}, nullptr, rc, nullptr, 0});
  return last_sqlcode_ = rc;
}

void TrimRight(std::string* s) {
  size_t n = s->size();
  while (n > 0 && ((*s)[n - 1] == ' ' || (*s)[n - 1] == '\t')) --n;
  s->resize(n);
}

std::string TrimmedRight(std::string_view s) {
  std::string t(s);
  TrimRight(&t);
  return t;
}

std::string Cut(std::string_view s, size_t n) { return std::string(s.substr(0, n)); }

}  // namespace plom
