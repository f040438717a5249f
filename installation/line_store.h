// The line store: the output lines of a download file, kept in
// ZrSystem.Zrt999Tmp under the download file path until the driver reads
// them back in ascending order of their text and writes them out.
//
// A run stores its lines in one call, after its generators are done, and
// learns the outcome of every line: stored, or refused by the table's
// constraints (the line is then missing from the file and the run goes on).
// Anything else, the database failing, ends the store: the run must end
// without writing the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/key_locks.h"
#include "db/runtime.h"
#include "installation/statements.h"

namespace plom {

constexpr size_t kMaxPathLen = 100;  // TmpUsr
constexpr size_t kMaxLineLen = 512;  // TmpStr
constexpr int kLinesPerGroup = 2000;

// A line that the line store refused: its number among the lines handed
// over (from 0), the sqlcode and the backend's reason.
struct Refusal {
  int64_t seq = 0;
  int sqlcode = 0;
  std::string reason;
};

struct StoreReport {
  int64_t stored = 0;
  std::vector<Refusal> refused;  // ascending seq
  // Failed: the database failed (the lines stored so far are of no use).
  Status failure;
};

enum class StoreMode {
  // Groups of kLinesPerGroup lines, each group in one transaction, sent as
  // one parameter array where the connection sends rows together, else as
  // INSERTs of kLinesPerInsert lines. A group of which a row is refused is
  // rolled back and its lines are stored again one per transaction, so that
  // exactly the lines refused alone are refused. A COMMIT that reports a
  // failure on a connection that still works is judged by the count of the
  // path's lines: the group went in, or it is stored again line by line.
  kGroups,
  // Every line in its own transaction: begin, insert, commit or rollback.
  kOneByOne,
};

// Stores lines[i] under path (a line longer than its column is refused
// with kSqlTooLong, nothing sent). The path's previous lines must be
// deleted first.
StoreReport StoreLines(Connection& c, const std::string& path,
                       const std::vector<std::string>& lines, StoreMode mode);

// Deletes the line store of the path in its own transaction. Ok when the
// lines are gone (there were none, too).
Status DeleteLines(Connection& c, const std::string& path);

// Every line of the path, in the order of cursor TMP_USRSTR_C (ascending
// line text), each right-trimmed of blanks and tabs. A failed open or fetch
// is the outcome, never taken for the end of the lines.
Status ReadLines(Connection& c, const std::string& path, std::vector<std::string>* lines);

// The paths the line store holds lines of (cursor TMP_USRALL_C), in
// ascending order, each with its number of lines. Returns 0 or the sqlcode
// of the failed open or fetch.
struct StoredPath {
  std::string path;
  int64_t lines = 0;
};
int ReadStoredPaths(Connection& c, std::vector<StoredPath>* paths);

// The sqlcode of a line store that another run held for the whole wait. A
// lock file of the embedded database that cannot be used at all gives
// kSqlLockFileUnusable (db/key_locks.h).
constexpr int kSqlLineStoreLocked = -1222;

// Takes the lock of the path's line store inside the database, for the rest
// of the session: sp_getapplock, exclusive, owned by the session, on the
// resource "Zrt999Tmp " + LineStoreLockKey(path) (resource and wait go as
// parameters). Runs of one path on any machine then follow each other.
// Returns 0 held, kSqlLineStoreLocked when not granted within wait_ms,
// another negative sqlcode when the statement failed.
int LockLineStore(Connection& c, const std::string& path, int wait_ms);

// The key whose lock LockLineStore takes for a path: the path as the
// database compares TmpUsr, trailing blanks dropped, and capitals for small
// letters (SQL Server's usual collations ignore case; where one does not, a
// lock on the folded key only makes a few more runs wait for each other).
std::string LineStoreLockKey(const std::string& path);

}  // namespace plom
