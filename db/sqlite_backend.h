// The embedded backend: one SQLite 3 file.
//
// The file must exist and be a database (a missing, unreadable or empty file
// is a failed connect). A fetched integer beyond the 32-bit range fails the
// statement with kSqlIntOverflow, as the int columns do on SQL Server.
// Statements arrive as SQL Server texts and are translated once per
// statement number; each is prepared once and rebound. Text crosses the edge
// as UTF-8 and is converted to and from Windows-1252.
#pragma once

#include <functional>
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
  // SELECTs that share one read transaction (see ShareReadTransaction).
  static constexpr int kReadsPerSnapshot = 1000;

  // Opens the database file; on failure returns nullptr with a negative
  // sqlcode and the message.
  // An empty file is refused, not made a database. options.lock_timeout_s
  // is the busy timeout: how long a statement waits for another process's
  // write lock. read_only opens it without write access and writes
  // nothing, not even its journal mode; where its directory may not be
  // written (no shared-memory file can be made), as immutable.
  static std::unique_ptr<SqliteBackend> Open(const std::string& path,
                                             const TransportOptions& options, int* sqlcode,
                                             std::string* error, bool read_only = false);
  ~SqliteBackend() override;

  Result Run(int stmt_no, std::string_view text, const Params& params, size_t max_rows) override;
  // Steps through the result and hands each row over as it is read; the
  // rows are not kept.
  Result RunEach(int stmt_no, std::string_view text, const Params& params,
                 const std::function<bool(const Row&)>& take) override;
  bool OneWriterAtATime() const override { return true; }
  // SELECTs outside a transaction share one read transaction, held open
  // between them by a statement of its own: otherwise every SELECT takes
  // and gives back a read lock of the WAL index, two system calls each
  // when no other connection of the process holds one. Any other statement
  // first gives the read transaction back, so a transaction begins on the
  // newest data and never writes from an old one; so does every
  // kReadsPerSnapshot-th SELECT, so reads see other sessions' commits
  // after a short while and checkpoints are not held up.
  void ShareReads(bool on) override;

 private:
  SqliteBackend(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  struct Prepared;
  // The statement of that number and text: what it is and its SQLite
  // statement, found out and prepared once (again only when the number
  // comes with another text). Null when it cannot be prepared (*r says why).
  Prepared* Prepare(int stmt_no, std::string_view text, Result* r);
  // Runs the statement; each row goes to take (when given; else up to
  // max_rows rows into the result).
  Result Step(int stmt_no, std::string_view text, const Params& params, size_t max_rows,
              const std::function<bool(const Row&)>* take);
  // Before each statement when reads are shared (select: a SELECT): takes
  // or gives back the shared read transaction.
  void ShareReadTransaction(bool select);

  struct Prepared {
    std::string text;              // the statement text as the tool sent it
    sqlite3_stmt* stmt = nullptr;  // null for the lock statement
    bool app_lock = false;         // sp_getapplock: answered by app_locks_
  };
  sqlite3* db_;
  std::string path_;           // the database file
  SessionAppLocks app_locks_;  // sp_getapplock, held for the session
  std::unordered_map<int, Prepared> prepared_;
  bool share_reads_ = false;
  sqlite3_stmt* snapshot_ = nullptr;  // holds the shared read transaction
  bool snapshot_held_ = false;
  int reads_in_snapshot_ = 0;  // SELECTs since it was taken
};

}  // namespace plom
