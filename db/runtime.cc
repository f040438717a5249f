#include "db/runtime.h"

#include <cstdio>
#include <cstdlib>

#include "db/sqlite_backend.h"
#ifdef PLOM_HAVE_ODBC
#include "db/odbc_backend.h"
#endif

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
    return SqliteBackend::Open(path, sqlcode, error);
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
  const Row* delivered = nullptr;
  if (r.sqlcode == 0) {
    if (r.is_select) {
      if (r.rows.empty()) {
        r.sqlcode = kSqlNotFound;
      } else {
        delivered = &r.rows.front();
      }
    } else if (r.changes == 0) {
      r.sqlcode = kSqlNotFound;
    }
  }
  int rc = Finish(r);
  Tell({StatementObserver::Kind::kExecute, stmt_no, text, &params, rc, delivered, r.rows.size()});
  if (delivered != nullptr && out != nullptr) *out = std::move(r.rows.front());
  return rc;
}

int Connection::Transaction(int stmt_no, std::string_view text) {
  if (!backend_) return last_sqlcode_ = kSqlFailed;
  int rc = Finish(backend_->Run(stmt_no, text, {}, 0));
  Tell({StatementObserver::Kind::kTransaction, stmt_no, text, nullptr, rc, nullptr, 0});
  return rc;
}

int Connection::Open(int cursor_no, std::string_view text, const Params& params,
                     size_t max_rows) {
  cursors_.erase(cursor_no);
  if (!backend_) return last_sqlcode_ = kSqlFailed;
  Result r = backend_->Run(cursor_no, text, params, max_rows);
  int rc = Finish(r);
  Tell({StatementObserver::Kind::kOpen, cursor_no, text, &params, rc, nullptr, r.rows.size()});
  if (rc == 0) cursors_[cursor_no].rows = std::move(r.rows);
  return rc;
}

int Connection::Fetch(int cursor_no, Row* out) {
  using Kind = StatementObserver::Kind;
  auto it = cursors_.find(cursor_no);
  if (it == cursors_.end()) {
    last_error_ = "cursor not open";
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
  int rc = was_open ? kSqlOk : -2;
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
