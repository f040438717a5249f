#include "db/runtime.h"

#include <cstdio>
#include <cstdlib>

#ifdef PLOM_HAVE_SQLITE
#include "db/sqlite_backend.h"
#endif
#ifdef PLOM_HAVE_ODBC
#include "db/odbc_backend.h"
#endif
#include "db/odbc_settings.h"

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

int32_t Value::Int() const {
  switch (type) {
    case Type::kInt:
      return static_cast<int32_t>(i);
    case Type::kReal:
      return static_cast<int32_t>(r);
    case Type::kText:
      return static_cast<int32_t>(std::strtol(s.c_str(), nullptr, 10));
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

namespace {

// A "sqlite:" database file: with the embedded backend where it is built in,
// otherwise through the SQLite ODBC driver. The driver is registered as
// "SQLite3" by Debian's package and as "SQLite3 ODBC Driver" by its Windows
// installer; the first one found serves.
std::unique_ptr<Backend> OpenSqliteFile(const std::string& path, const ConnectSettings& s,
                                        int* sqlcode, std::string* error) {
#ifdef PLOM_HAVE_SQLITE
  (void)s;
  return SqliteBackend::Open(path, sqlcode, error);
#elif defined(PLOM_HAVE_ODBC)
  std::string first_error;
  int first_code = 0;
  for (const char* driver : {"SQLite3", "SQLite3 ODBC Driver"}) {
    ConnectSettings via = s;
    via.server = SqliteOdbcConnectionString(driver, path);
    auto backend = OdbcBackend::Open(via, sqlcode, error);
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
  *sqlcode = -1;
  *error = "this build has no backend for a database file";
  return nullptr;
#endif
}

}  // namespace

std::string SqliteOdbcConnectionString(std::string_view driver, std::string_view path) {
  // NoCreat: a missing file is a failed connect, as with the embedded backend.
  return "DRIVER={" + std::string(driver) + "};Database=" + QuoteConnValue(path) + ";NoCreat=1";
}

std::unique_ptr<Backend> OpenBackend(const ConnectSettings& s, int* sqlcode, std::string* error) {
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
    return OpenSqliteFile(path, s, sqlcode, error);
  }
#ifdef PLOM_HAVE_ODBC
  return OdbcBackend::Open(s, sqlcode, error);
#else
  *sqlcode = kSqlFailed;
  *error = "this build has no ODBC backend";
  return nullptr;
#endif
}

int Connection::Finish(const Result& r) {
  ++statements_sent_;
  last_sqlcode_ = r.sqlcode;
  if (r.sqlcode < 0) last_error_ = r.error;
  return r.sqlcode;
}

int Connection::Execute(int stmt_no, std::string_view text, const Params& params, Row* out) {
  if (!backend_) return last_sqlcode_ = kSqlFailed;
  Result r = backend_->Run(stmt_no, text, params, 1);
  if (r.sqlcode == 0) {
    if (r.is_select) {
      if (r.rows.empty()) {
        r.sqlcode = kSqlNotFound;
      } else if (out != nullptr) {
        *out = std::move(r.rows.front());
      }
    } else if (r.changes == 0) {
      r.sqlcode = kSqlNotFound;
    }
  }
  return Finish(r);
}

int Connection::Transaction(int stmt_no, std::string_view text) {
  if (!backend_) return last_sqlcode_ = kSqlFailed;
  return Finish(backend_->Run(stmt_no, text, {}, 0));
}

int Connection::Open(int cursor_no, std::string_view text, const Params& params,
                     size_t max_rows) {
  cursors_.erase(cursor_no);
  if (!backend_) return last_sqlcode_ = kSqlFailed;
  Result r = backend_->Run(cursor_no, text, params, max_rows);
  if (r.sqlcode == 0) cursors_[cursor_no].rows = std::move(r.rows);
  return Finish(r);
}

int Connection::Fetch(int cursor_no, Row* out) {
  auto it = cursors_.find(cursor_no);
  if (it == cursors_.end()) {
    last_error_ = "cursor not open";
    return last_sqlcode_ = kSqlCursorNotOpen;
  }
  Cursor& cur = it->second;
  if (cur.next >= cur.rows.size()) return last_sqlcode_ = kSqlNotFound;
  *out = std::move(cur.rows[cur.next++]);
  return last_sqlcode_ = kSqlOk;
}

int Connection::Close(int cursor_no) {
  bool was_open = cursors_.erase(cursor_no) > 0;
  return last_sqlcode_ = was_open ? kSqlOk : -2;
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
