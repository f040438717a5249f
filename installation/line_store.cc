#include "installation/line_store.h"

#include "installation/statements.h"

namespace plom {
namespace {

constexpr int kInsertTx = stmt::kBeginInsert.no;
constexpr int kInsert = stmt::kInsertLine.no;
constexpr int kDeleteTx = stmt::kBeginDelete.no;
constexpr int kDelete = stmt::kDeleteLines.no;
constexpr int kLineCursor = stmt::kLineCursor.no;
constexpr int kLineCount = stmt::kCountLine.no;
constexpr int kKeyLock = stmt::kLockLineStore.no;
constexpr int kCommit = stmt::kCommit.no;

constexpr const char* kBeginInsertSql = stmt::kBeginInsert.text;
constexpr const char* kInsertSql = stmt::kInsertLine.text;
constexpr const char* kRollbackInsertSql = stmt::kRollbackInsert.text;
constexpr const char* kBeginDeleteSql = stmt::kBeginDelete.text;
constexpr const char* kDeleteSql = stmt::kDeleteLines.text;
constexpr const char* kRollbackDeleteSql = stmt::kRollbackDelete.text;
constexpr const char* kCommitSql = stmt::kCommit.text;
constexpr const char* kSaveLineSql = stmt::kSaveLine.text;
constexpr const char* kRollbackLineSql = stmt::kRollbackLine.text;
constexpr const char* kLineCountSql = stmt::kCountLine.text;
constexpr const char* kKeyLockSql = stmt::kLockLineStore.text;
constexpr const char* kLineCursorSql = stmt::kLineCursor.text;

// The resource of a path's lock: the path behind the table's name.
constexpr char kKeyLockPrefix[] = "Zrt999Tmp ";
// sp_getapplock's return code for a lock not granted within the wait.
constexpr int kAppLockTimedOut = -1;

}  // namespace

LineStore::~LineStore() {
  if (open_) c_.Transaction(kInsertTx, kRollbackInsertSql);
}

int LineStore::Break(int sqlcode) {
  broken_ = sqlcode < 0 ? sqlcode : kSqlFailed;
  broken_reason_ = c_.last_error();
  return broken_;
}

std::vector<LineStore::Refusal> LineStore::TakeRefused() {
  std::vector<Refusal> r;
  r.swap(refused_);
  return r;
}

int LineStore::Insert(const std::string& path, const std::string& line) {
  int64_t seq = taken_++;
  if (broken_ != 0) return broken_;
  if (path.size() > kMaxPathLen || line.size() > kMaxLineLen) return kSqlTooLong;
  Line l{path, line, seq};
  if (together_) {
    pending_.push_back(std::move(l));
    if (pending_.size() < static_cast<size_t>(kLinesPerGroup)) return 0;
    return SendGroup() == 0 ? 0 : broken_;
  }
  if (grouped_) return InsertGrouped(l);
  int rc = 0;
  Outcome o = StoreAlone(l, &rc);
  if (o == Outcome::kBroken) return Break(rc);
  return o == Outcome::kStored ? 0 : rc;
}

// One line inside the open group, behind its own savepoint. A full group
// is committed at once.
int LineStore::InsertGrouped(const Line& l) {
  if (!open_) {
    if (c_.Transaction(kInsertTx, kBeginInsertSql) != 0) return GroupFailed(&l);
    open_ = true;
  }
  if (c_.Transaction(kInsertTx, kSaveLineSql) != 0) return GroupFailed(&l);
  int rc = c_.Execute(kInsert, kInsertSql,
                      {Param::Text(l.path, kMaxPathLen), Param::Text(l.line, kMaxLineLen)});
  if (rc == 0) {
    pending_.push_back(l);
    if (pending_.size() < static_cast<size_t>(kLinesPerGroup)) return 0;
    return Flush() == 0 ? 0 : broken_;
  }
  // A failed rollback to the savepoint means the transaction is gone, and
  // with it the lines before this one.
  if (c_.Transaction(kInsertTx, kRollbackLineSql) != 0) return GroupFailed(&l);
  return rc;
}

int LineStore::Flush() {
  if (broken_ != 0) return broken_;
  if (together_) return SendGroup();
  if (!open_) return 0;
  return CommitGroup();
}

int LineStore::CommitGroup() {
  if (c_.Transaction(kCommit, kCommitSql) != 0) {
    GroupFailed(nullptr);
    return broken_;
  }
  open_ = false;
  pending_.clear();
  return 0;
}

int LineStore::SendGroup() {
  if (pending_.empty()) return 0;
  if (c_.Transaction(kInsertTx, kBeginInsertSql) != 0) {
    GroupFailed(nullptr);
    return broken_;
  }
  open_ = true;
  std::vector<Params> rows;
  rows.reserve(pending_.size());
  for (const Line& l : pending_) {
    rows.push_back({Param::Text(l.path, kMaxPathLen), Param::Text(l.line, kMaxLineLen)});
  }
  std::vector<int> sqlcodes;
  if (c_.ExecuteMany(kInsert, kInsertSql, rows, &sqlcodes) != 0) {
    // Some row was refused: nothing of the group stays, and its lines go
    // again one per transaction. The transaction must still be there;
    // if it is not, rows after its end went in on their own.
    open_ = false;
    int rc = c_.Transaction(kInsertTx, kRollbackInsertSql);
    if (rc != 0) {
      pending_.clear();
      return Break(rc);
    }
    GroupFailed(nullptr);
    return broken_;
  }
  return CommitGroup();
}

int LineStore::GroupFailed(const Line* extra) {
  if (open_) {
    // Whatever is left of the transaction goes; its lines are stored anew.
    c_.Transaction(kInsertTx, kRollbackInsertSql);
    open_ = false;
  }
  std::vector<Line> lines;
  lines.swap(pending_);
  size_t stored = 0, refused = 0;
  int extra_rc = 0;
  for (size_t i = 0; i <= lines.size(); ++i) {
    if (i == lines.size() && extra == nullptr) break;
    const Line& l = i < lines.size() ? lines[i] : *extra;
    int rc = 0;
    Outcome o = StoreAlone(l, &rc);
    if (o == Outcome::kBroken) return Break(rc);
    if (o == Outcome::kStored) {
      ++stored;
      continue;
    }
    ++refused;
    if (i == lines.size()) {
      extra_rc = rc;  // the caller reports its own line
    } else {
      refused_.push_back(Refusal{l.path, l.line, rc, c_.last_error(), l.seq});
    }
  }
  // Not one line of the group could be stored again: that is no refusal of
  // single lines but a line store that takes nothing.
  if (stored == 0 && refused > 1) return Break(c_.last_sqlcode());
  return extra_rc;
}

LineStore::Outcome LineStore::StoreAlone(const Line& l, int* sqlcode) {
  if ((*sqlcode = c_.Transaction(kInsertTx, kBeginInsertSql)) != 0) return Outcome::kBroken;
  int rc = c_.Execute(kInsert, kInsertSql,
                      {Param::Text(l.path, kMaxPathLen), Param::Text(l.line, kMaxLineLen)});
  if (rc == 0) {
    if ((*sqlcode = c_.Transaction(kCommit, kCommitSql)) == 0) return Outcome::kStored;
    c_.Transaction(kInsertTx, kRollbackInsertSql);
    return Outcome::kBroken;
  }
  std::string reason = c_.last_error();
  if ((*sqlcode = c_.Transaction(kInsertTx, kRollbackInsertSql)) != 0) return Outcome::kBroken;
  if (AlreadyStored(l)) return Outcome::kStored;
  *sqlcode = rc;
  c_.SetError(rc, reason);  // the insert's reason, not the count's
  return Outcome::kRefused;
}

bool LineStore::AlreadyStored(const Line& l) {
  Row row;
  return c_.Execute(kLineCount, kLineCountSql,
                    {Param::Text(l.path, kMaxPathLen), Param::Text(l.line, kMaxLineLen)},
                    &row) == 0 &&
         !row.empty() && row[0].Int() > 0;
}

int LineStore::Delete(const std::string& path) {
  if (path.size() > kMaxPathLen) return kSqlTooLong;
  if (Flush() != 0) return broken_;
  int rc = c_.Transaction(kDeleteTx, kBeginDeleteSql);
  if (rc != 0) return rc < 0 ? rc : kSqlFailed;
  rc = c_.Execute(kDelete, kDeleteSql, {Param::Text(path, kMaxPathLen)});
  if (rc == 0) {
    int commit = c_.Transaction(kCommit, kCommitSql);
    if (commit == 0) return 0;
    c_.Transaction(kDeleteTx, kRollbackDeleteSql);
    return commit < 0 ? commit : kSqlFailed;
  }
  std::string reason = c_.last_error();
  int rollback = c_.Transaction(kDeleteTx, kRollbackDeleteSql);
  if (rc == kSqlNotFound && rollback != 0) return rollback < 0 ? rollback : kSqlFailed;
  if (rc < 0) c_.SetError(rc, reason);
  return rc;
}

int LockLineStore(Connection& c, const std::string& path, int wait_ms) {
  Row row;
  int rc =
      c.Execute(kKeyLock, kKeyLockSql,
                {Param::Text(kKeyLockPrefix + Cut(path, kMaxPathLen)), Param::Int(wait_ms)}, &row);
  if (rc == kSqlNotFound) c.SetError(kSqlFailed, "sp_getapplock answered with no row");
  if (rc != 0) return rc < 0 ? rc : kSqlFailed;
  int granted = row.empty() ? -999 : row[0].Int();
  if (granted >= 0) return 0;
  if (granted == kAppLockTimedOut) return kSqlLineStoreLocked;
  c.SetError(kSqlFailed, "sp_getapplock returned " + std::to_string(granted));
  return kSqlFailed;
}

namespace {

// The INSERT statements of InsertAtOnce, inside its transaction.
int InsertAll(Connection& c, const std::string& path, const std::vector<std::string>& lines) {
  size_t at = 0;
  Params params;
  for (; at + kLinesPerInsert <= lines.size(); at += kLinesPerInsert) {
    params.assign(1, Param::Text(path, kMaxPathLen));
    for (size_t i = at; i < at + kLinesPerInsert; ++i)
      params.push_back(Param::Text(lines[i], kMaxLineLen));
    int rc = c.Execute(stmt::kInsertLines.no, stmt::kInsertLines.text, params);
    if (rc != 0) return rc;
  }
  for (; at < lines.size(); ++at) {
    int rc = c.Execute(kInsert, kInsertSql,
                       {Param::Text(path, kMaxPathLen), Param::Text(lines[at], kMaxLineLen)});
    if (rc != 0) return rc;
  }
  return 0;
}

}  // namespace

int LineStore::InsertAtOnce(const std::string& path, const std::vector<std::string>& lines) {
  if (path.size() > kMaxPathLen) return kSqlTooLong;
  for (const std::string& l : lines) {
    if (l.size() > kMaxLineLen) return kSqlTooLong;
  }
  if (Flush() != 0) return broken_;
  if (lines.empty()) return 0;
  int rc = c_.Transaction(kInsertTx, kBeginInsertSql);
  if (rc != 0) return rc;
  rc = InsertAll(c_, path, lines);
  if (rc == 0) rc = c_.Transaction(kCommit, kCommitSql);
  if (rc != 0) c_.Transaction(kInsertTx, kRollbackInsertSql);
  return rc;
}

int OpenLineCursor(Connection& c, const std::string& path) {
  return c.Open(kLineCursor, kLineCursorSql, {Param::Text(Cut(path, kMaxPathLen), kMaxPathLen)});
}

int FetchLine(Connection& c, std::string* line) {
  Row row;
  int rc = c.Fetch(kLineCursor, &row);
  if (rc != 0) return rc;
  std::string s = row.empty() ? std::string() : row[0].Text();
  TrimRight(&s);
  *line = Cut(s, kMaxLineLen);
  return 0;
}

int CloseLineCursor(Connection& c) { return c.Close(kLineCursor); }

int ReadLines(Connection& c, const std::string& path, std::vector<std::string>* lines) {
  lines->clear();
  int rc = OpenLineCursor(c, path);
  std::string line;
  while (rc == 0 && (rc = FetchLine(c, &line)) == 0) lines->push_back(line);
  CloseLineCursor(c);
  return rc == kSqlNotFound ? 0 : (rc < 0 ? rc : kSqlFailed);
}

}  // namespace plom
