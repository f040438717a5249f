// The embedded backend: one SQLite 3 file.
//
// The file must exist and be a database (a missing, unreadable or empty file
// is a failed connect). A fetched integer beyond the 32-bit range fails the
// statement with kSqlIntOverflow, as the int columns do on SQL Server.
// Statements arrive as SQL Server texts and are translated once per
// statement number; each is prepared once and rebound. Text crosses the edge
// as UTF-8 and is converted to and from Windows-1252.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "db/key_locks.h"
#include "db/runtime.h"

struct sqlite3;
struct sqlite3_stmt;

namespace plom {

class SqliteBackend : public Backend {
 public:
  // Opens the database file; on failure returns nullptr with a negative
  // sqlcode and the message.
  // An empty file is refused, not made a database. options.lock_timeout_s
  // is the busy timeout: how long a statement waits for another process's
  // write lock.
  static std::unique_ptr<SqliteBackend> Open(const std::string& path,
                                             const TransportOptions& options, int* sqlcode,
                                             std::string* error);
  ~SqliteBackend() override;

  Result Run(int stmt_no, std::string_view text, const Params& params, size_t max_rows) override;

 private:
  SqliteBackend(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  sqlite3_stmt* Prepare(int stmt_no, std::string_view text, Result* r);
  // Savepoints: SAVE TRANSACTION x and ROLLBACK TRANSACTION x of an open
  // savepoint x. Returns false when the text is not one of these.
  //
  // SQLite undoes a failed statement by itself, so a savepoint costs nothing
  // until it is rolled back: rolling back to a savepoint behind which no
  // change succeeded is exact without any SQLite savepoint (the line store
  // sets one before each insert). A savepoint with successful changes
  // behind it is not undone alone: the whole transaction is rolled back and
  // the rollback fails, so nothing is kept by halves. A SAVE fails when no
  // transaction is open (SQLite may have rolled it back by itself, on a
  // full disk for one): the transaction is found gone. A rollback to a
  // savepoint of a transaction that is gone is no savepoint statement and
  // fails in SQLite.
  bool RunSavepoint(std::string_view text, Result* r);
  int Exec(const std::string& sql, Result* r);

  struct Prepared {
    std::string text;  // the statement text as the tool sent it
    sqlite3_stmt* stmt = nullptr;
  };
  sqlite3* db_;
  std::string path_;           // the database file
  SessionAppLocks app_locks_;  // sp_getapplock, held for the session
  std::unordered_map<int, Prepared> prepared_;
  std::unordered_map<std::string, sqlite3_stmt*> fixed_;  // savepoint statements
  std::map<std::string, int> savepoints_;                 // savepoint -> changes since it was set
};

}  // namespace plom
