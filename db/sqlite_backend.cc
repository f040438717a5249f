#include "db/sqlite_backend.h"

#include <sqlite3.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <vector>

#include "db/codepage.h"
#include "db/sqlite_collation.h"
#include "db/tsql.h"

namespace plom {
namespace {

int SqlcodeOf(int rc) { return rc == SQLITE_OK ? -1 : -rc; }

// What SQLite's primary result code means: a constraint (or a trigger's
// RAISE) refuses the row, a value that does not fit is that row's problem,
// anything else is the database failing.
Outcome FailureOf(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_CONSTRAINT:
      return Outcome::kRowRefused;
    case SQLITE_TOOBIG:
    case SQLITE_MISMATCH:
      return Outcome::kBadValue;
    default:
      return Outcome::kFailed;
  }
}

std::string Message(sqlite3* db) { return Utf8ToCp1252(sqlite3_errmsg(db)); }

Value ColumnValue(sqlite3_stmt* st, int col) {
  Value v;
  switch (sqlite3_column_type(st, col)) {
    case SQLITE_NULL:
      break;
    case SQLITE_INTEGER:
      v.type = Value::Type::kInt;
      v.i = sqlite3_column_int64(st, col);
      break;
    case SQLITE_FLOAT:
      v.type = Value::Type::kReal;
      v.r = sqlite3_column_double(st, col);
      break;
    default: {
      v.type = Value::Type::kText;
      const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
      int n = sqlite3_column_bytes(st, col);
      v.s = Utf8ToCp1252(std::string_view(t ? t : "", static_cast<size_t>(n)));
      break;
    }
  }
  return v;
}

int CompareForSqlite(void*, int n1, const void* a, int n2, const void* b) {
  return CompareCp1252(n1, a, n2, b);
}

// Integers are 32-bit on SQL Server; a wider one is an overflow error
// there, and so it is here (not a value cut to 32 bits by the reader).
bool IntsFit(const Row& row, Result* r) {
  for (size_t c = 0; c < row.size(); ++c) {
    const Value& v = row[c];
    if (v.type != Value::Type::kInt || FitsInt32(v.i)) continue;
    r->sqlcode = kSqlIntOverflow;
    r->error = "arithmetic overflow: column " + std::to_string(c + 1) + " holds " +
               std::to_string(v.i) + ", beyond the 32-bit integer range";
    return false;
  }
  return true;
}

void Int32Sum(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::vector<long long> terms(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) terms[static_cast<size_t>(i)] = sqlite3_value_int64(argv[i]);
  long long sum = 0;
  if (AddInt32(terms.data(), argc, &sum)) {
    sqlite3_result_int64(ctx, sum);
  } else {
    sqlite3_result_error(ctx, kInt32Overflow, -1);
  }
}

// The number of pages of the open database file; 0 for an empty file.
int PageCount(sqlite3* db, int* rc) {
  sqlite3_stmt* st = nullptr;
  *rc = sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &st, nullptr);
  int pages = 0;
  if (*rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) pages = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  return pages;
}

// The URI that opens the file as immutable: SQLite then takes no lock and
// needs no shared-memory file beside it.
std::string ImmutableUri(const std::string& path) {
  std::string uri = "file:";
  for (unsigned char ch : path) {
    if (ch == '?' || ch == '#' || ch == '%' || ch < 0x20) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", ch);
      uri += hex;
    } else {
      uri += static_cast<char>(ch);
    }
  }
  return uri + "?immutable=1";
}

bool DirectoryWritable(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  return ::access(dir.c_str(), W_OK) == 0;
}

}  // namespace

int RegisterCp1252Collation(sqlite3* db) {
  int rc = sqlite3_create_collation_v2(db, kCp1252Collation, SQLITE_UTF8, nullptr,
                                       CompareForSqlite, nullptr);
  if (rc != SQLITE_OK) return rc;
  return sqlite3_create_function(db, kInt32Sum, -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                 Int32Sum, nullptr, nullptr);
}

std::unique_ptr<SqliteBackend> SqliteBackend::Open(const std::string& path,
                                                   const TransportOptions& options, int* sqlcode,
                                                   std::string* error, bool read_only) {
  // SQLite counts each of its allocations under one mutex of the process,
  // for statistics that nothing here reads: the connections of a batch's
  // runs would meet at that mutex at nearly every step. Switched off before
  // SQLite starts up, by the first connection the process opens (another
  // thread opening one waits here until it is done); once SQLite runs, the
  // call changes nothing.
  static const int kNoMemoryStatistics = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  (void)kNoMemoryStatistics;
  sqlite3* db = nullptr;
  int rc;
  if (!read_only) {
    rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  } else if (DirectoryWritable(path)) {
    rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  } else {
    rc = sqlite3_open_v2(ImmutableUri(path).c_str(), &db,
                         SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, nullptr);
  }
  if (rc == SQLITE_OK) rc = RegisterCp1252Collation(db);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(db, options.lock_timeout_s * 1000);
    // A file that is not a database fails here, not at the first statement.
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  }
  // An empty file would become a database at the first write: it is none.
  if (rc == SQLITE_OK && PageCount(db, &rc) == 0 && rc == SQLITE_OK) {
    *sqlcode = SqlcodeOf(SQLITE_NOTADB);
    *error = "empty file, not a database";
    sqlite3_close(db);
    return nullptr;
  }
  if (rc != SQLITE_OK) {
    *sqlcode = SqlcodeOf(rc);
    *error = db ? Message(db) : "out of memory";
    sqlite3_close(db);
    return nullptr;
  }
  // Many runs at once on one file: readers never wait for the writer.
  if (!read_only) sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  // A run visits every badge's rows once in index order of other tables: a
  // page cache of 8 MB keeps those lookups off the disk.
  sqlite3_exec(db, "PRAGMA cache_size=-8192", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
  return std::unique_ptr<SqliteBackend>(new SqliteBackend(db, path));
}

SqliteBackend::~SqliteBackend() {
  sqlite3_finalize(snapshot_);
  for (auto& [no, prepared] : prepared_) sqlite3_finalize(prepared.stmt);
  sqlite3_close(db_);
}

SqliteBackend::Prepared* SqliteBackend::Prepare(int stmt_no, std::string_view text, Result* r) {
  auto [it, fresh] = prepared_.try_emplace(stmt_no);
  Prepared& p = it->second;
  if (fresh || p.text != text) {
    // A number with a text of its own: what the text is, found out once.
    sqlite3_finalize(p.stmt);
    p = Prepared{std::string(text), nullptr, IsAppLockText(text)};
  }
  if (p.stmt != nullptr || p.app_lock) return &p;
  std::string sql = Cp1252ToUtf8(TranslateForSqlite(text));
  int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &p.stmt, nullptr);
  if (rc != SQLITE_OK || p.stmt == nullptr) {
    r->sqlcode = rc == SQLITE_OK ? -1 : SqlcodeOf(rc);
    r->error = rc == SQLITE_OK ? "empty statement" : Message(db_);
    sqlite3_finalize(p.stmt);
    prepared_.erase(it);
    return nullptr;
  }
  return &p;
}

void SqliteBackend::ShareReads(bool on) {
  share_reads_ = on;
  if (!on) ShareReadTransaction(false);
}

void SqliteBackend::ShareReadTransaction(bool select) {
  bool outside = sqlite3_get_autocommit(db_) != 0;
  if (!select || !outside || ++reads_in_snapshot_ > kReadsPerSnapshot) {
    if (snapshot_held_) sqlite3_reset(snapshot_);
    snapshot_held_ = false;
    reads_in_snapshot_ = 0;
  }
  if (!select || !outside || snapshot_held_) return;
  if (snapshot_ == nullptr &&
      sqlite3_prepare_v3(db_, "SELECT 1 FROM sqlite_master", -1, SQLITE_PREPARE_PERSISTENT,
                         &snapshot_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(snapshot_);
    snapshot_ = nullptr;
    return;
  }
  // Without a row (or on any error) nothing is held and the SELECT takes
  // its read lock itself, meeting whatever error there is on its own.
  snapshot_held_ = sqlite3_step(snapshot_) == SQLITE_ROW;
  if (!snapshot_held_) sqlite3_reset(snapshot_);
}

Result SqliteBackend::Run(int stmt_no, std::string_view text, const Params& params,
                          size_t max_rows) {
  return Step(stmt_no, text, params, max_rows, nullptr);
}

Result SqliteBackend::RunEach(int stmt_no, std::string_view text, const Params& params,
                              const std::function<bool(const Row&)>& take) {
  return Step(stmt_no, text, params, 0, &take);
}

Result SqliteBackend::Step(int stmt_no, std::string_view text, const Params& params,
                           size_t max_rows, const std::function<bool(const Row&)>* take) {
  Result r;
  ++round_trips_;
  Prepared* p = Prepare(stmt_no, text, &r);
  if (p == nullptr) return r;
  if (p->app_lock) return app_locks_.Take(path_, params);
  sqlite3_stmt* st = p->stmt;
  if (share_reads_ || snapshot_held_) {
    ShareReadTransaction(share_reads_ && sqlite3_stmt_readonly(st) && sqlite3_column_count(st) > 0);
  }
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  int nparams = sqlite3_bind_parameter_count(st);
  for (int i = 0; i < nparams && i < static_cast<int>(params.size()); ++i) {
    const Param& prm = params[static_cast<size_t>(i)];
    if (prm.is_int) {
      sqlite3_bind_int64(st, i + 1, prm.num);
    } else {
      std::string u = Cp1252ToUtf8(prm.text);
      sqlite3_bind_text(st, i + 1, u.data(), static_cast<int>(u.size()), SQLITE_TRANSIENT);
    }
  }
  int ncols = sqlite3_column_count(st);
  r.is_select = ncols > 0;
  int rc;
  Row row;  // one buffer for the rows handed over
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    row.resize(static_cast<size_t>(ncols));
    for (int c = 0; c < ncols; ++c) row[static_cast<size_t>(c)] = ColumnValue(st, c);
    if (!IntsFit(row, &r)) break;
    if (take != nullptr) {
      if (!(*take)(row)) {
        rc = SQLITE_DONE;
        break;
      }
      continue;
    }
    r.rows.push_back(std::move(row));
    row = Row();
    if (max_rows != 0 && r.rows.size() >= max_rows) {
      rc = SQLITE_DONE;
      break;
    }
  }
  if (r.sqlcode != 0) {
    r.rows.clear();
  } else if (rc != SQLITE_DONE) {
    r.sqlcode = SqlcodeOf(sqlite3_extended_errcode(db_) & 0xFF);
    r.failure = FailureOf(sqlite3_extended_errcode(db_));
    r.error = Message(db_);
    if (r.error == kInt32Overflow) {
      r.sqlcode = kSqlIntOverflow;
      r.failure = Outcome::kBadValue;
    }
    r.rows.clear();
  } else if (!r.is_select) {
    r.changes = sqlite3_changes(db_);
  }
  sqlite3_reset(st);                                     // ends the statement's read transaction
  return r;
}

}  // namespace plom
