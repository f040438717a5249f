// The line store: the output lines of a download file, kept in
// ZrSystem.Zrt999Tmp under the download file path until the driver writes
// them out in ascending order of their text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/key_locks.h"
#include "db/runtime.h"
#include "installation/line_sink.h"
#include "installation/statements.h"

namespace plom {

constexpr size_t kMaxPathLen = 100;  // TmpUsr
constexpr size_t kMaxLineLen = 512;  // TmpStr
constexpr int kLinesPerGroup = 2000;

// Stores the lines of a run. Every transaction statement's result is
// looked at; a line counts as stored only once its COMMIT has succeeded.
//
// Grouped (the default): a transaction holds up to kLinesPerGroup lines,
// each behind its own savepoint (what a refused insert rolls back to). The
// group's lines stay in memory until its COMMIT succeeds. When a group
// cannot be finished (its COMMIT or a SAVE fails, or its transaction is
// found gone), the group is rolled back and its lines are stored again one
// per transaction. Ungrouped: every line is its own transaction (begin,
// insert, commit or rollback).
//
// Sent together (grouped, on a connection that sends rows together): the
// lines of a group are held and go at Flush, or when the group is full, as
// one parameter array inside one transaction; no savepoint is sent. When
// any row of the array fails, the group is rolled back and its lines are
// stored again one per transaction, so that the lines refused are exactly
// those the plain sequence refuses, each with its own sqlcode and message.
// A rollback that fails then means the transaction had already ended and
// rows after its end may have been committed on their own: the store
// breaks rather than store them twice. Refusals of held lines are found
// only when the group is sent: TakeRefused reports them with the number of
// the line (Refusal::seq), so that the caller can say so in the place of
// the line.
//
// Storing a line alone has three outcomes. Stored (a line refused while an
// equal line of the same path is already stored counts as stored: the
// first attempt did arrive). Refused: the insert failed and was rolled back;
// the line is missing from the file and the run goes on. Broken: a
// transaction statement failed, or no line of a failed group could be
// stored again: the database fails as a whole, the store takes no more
// lines and the run must end without writing the file.
class LineStore : public LineSink {
 public:
  struct Refusal {
    std::string path;
    std::string line;
    int sqlcode = 0;
    std::string reason;  // the backend's message
    int64_t seq = 0;     // the line's number among the lines taken (from 0)
  };

  explicit LineStore(Connection& c, bool grouped = true)
      : c_(c), grouped_(grouped), together_(grouped && c.sends_rows_together()) {}
  // A group that was never flushed is rolled back: no line is committed
  // that the run did not ask for.
  ~LineStore();
  LineStore(const LineStore&) = delete;
  LineStore& operator=(const LineStore&) = delete;

  // Stores one line (or holds it in the open group). Returns 0, or the
  // sqlcode with which this line was refused (kSqlTooLong beyond the column
  // widths), or, once broken, the sqlcode that broke the store.
  int Insert(const std::string& path, const std::string& line) override;

  // Commits the open group, storing its lines again one by one when the
  // commit fails. Returns 0 when every line held so far is stored or
  // refused (see TakeRefused), else the sqlcode that broke the store.
  int Flush();

  // Flushes, then deletes the line store of the path in its own
  // transaction. Returns 0 deleted, 100 there were none; negative when the
  // lines could not be deleted (a failed BEGIN is returned at once, nothing
  // is retried).
  int Delete(const std::string& path);

  // Flushes, then stores all lines of the path at once, in one transaction
  // of INSERT statements of kLinesPerInsert lines each (and single-line
  // INSERTs for the rest). All or nothing: 0 when every line is stored and
  // committed; otherwise the sqlcode of the first failure, after which the
  // transaction is rolled back and none of the lines is stored (the caller
  // then stores them one by one, to learn which line was refused). A path
  // or line beyond its column refuses the whole call with nothing sent.
  int InsertAtOnce(const std::string& path, const std::vector<std::string>& lines);

  // Lines that were refused after Insert had taken them (their group
  // failed, or was sent together), since the last call, oldest first.
  std::vector<Refusal> TakeRefused();

  // Lines taken by Insert so far: the number (seq) the next line gets.
  int64_t taken() const { return taken_; }
  // Lines taken and not yet stored or refused (the open group).
  size_t pending() const { return pending_.size(); }
  // The number of the oldest such line (taken() when there is none).
  int64_t oldest_pending() const { return pending_.empty() ? taken_ : pending_.front().seq; }
  // Whether lines are held and sent together (see above).
  bool sends_together() const { return together_; }

  bool broken() const { return broken_ != 0; }
  // The sqlcode that broke the store (0 while it works) and the backend's
  // message with it.
  int broken_sqlcode() const { return broken_; }
  const std::string& broken_reason() const { return broken_reason_; }

 private:
  struct Line {
    std::string path, line;
    int64_t seq = 0;
  };
  enum class Outcome { kStored, kRefused, kBroken };

  int InsertGrouped(const Line& l);
  // Sends the held group as one parameter array (sent together).
  int SendGroup();
  // Commits the open group, or stores its lines again one per transaction
  // when the COMMIT fails. Returns 0, or the sqlcode that broke the store.
  int CommitGroup();
  // Ends a group that cannot be finished and stores its lines (and extra,
  // when given) again one per transaction. Returns the result for extra.
  int GroupFailed(const Line* extra);
  Outcome StoreAlone(const Line& l, int* sqlcode);
  bool AlreadyStored(const Line& l);
  int Break(int sqlcode);
  // Rolls back after a failure; last_sqlcode() and last_error() still tell
  // the failure afterwards, also when the rollback fails too (the database
  // may have ended the transaction itself). Returns the rollback's sqlcode.
  int RollbackAfter(int tx, const char* sql);

  Connection& c_;
  bool grouped_;
  bool together_;
  bool open_ = false;
  int64_t taken_ = 0;
  std::vector<Line> pending_;  // the open group's lines, not yet committed
  std::vector<Refusal> refused_;
  int broken_ = 0;
  std::string broken_reason_;
};

// Whether a statement failed after waiting the whole lock timeout for
// another session's lock (SQLite busy or locked, SQL Server error 1222).
// The line store then ends at once instead of waiting again line by line.
bool IsLockWait(int sqlcode);

// The sqlcode of a line store that another run held for the whole wait. A
// lock file of the embedded database that cannot be used at all gives
// kSqlLockFileUnusable (db/key_locks.h).
constexpr int kSqlLineStoreLocked = -1222;

// Takes the lock of the path's line store inside the database, for the rest
// of the session: sp_getapplock, exclusive, owned by the session, on the
// resource "Zrt999Tmp " + LineStoreLockKey(path) (resource and wait go as
// parameters). Runs of one
// path on any machine then follow each other. Returns 0 held,
// kSqlLineStoreLocked when not granted within wait_ms, another negative
// sqlcode when the statement failed.
int LockLineStore(Connection& c, const std::string& path, int wait_ms);

// The key whose lock LockLineStore takes for a path: the path as the
// database compares TmpUsr, trailing blanks dropped, and capitals for small
// letters (SQL Server's usual collations ignore case; where one does not, a
// lock on the folded key only makes a few more runs wait for each other).
std::string LineStoreLockKey(const std::string& path);

// Cursor TMP_USRSTR_C over the line store of a path, lines in ascending
// order of their text. Flush the LineStore before opening it.
int OpenLineCursor(Connection& c, const std::string& path);
// The next line, right-trimmed of blanks and tabs.
int FetchLine(Connection& c, std::string* line);
int CloseLineCursor(Connection& c);

// Every line of the path, in the order of the line cursor. Returns 0, or
// the negative sqlcode of a failed open or fetch (then *lines is not to be
// used): an error is never taken for the end of the lines.
// The paths the line store holds lines of (cursor TMP_USRALL_C), in
// ascending order, each with its number of lines.
struct StoredPath {
  std::string path;
  int64_t lines = 0;
};
int ReadStoredPaths(Connection& c, std::vector<StoredPath>* paths);

int ReadLines(Connection& c, const std::string& path, std::vector<std::string>* lines);

}  // namespace plom
