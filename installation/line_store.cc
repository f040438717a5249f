#include "installation/line_store.h"

#include <algorithm>

#include "installation/statements.h"

namespace plom {
namespace {

constexpr int kInsertTx = stmt::kBeginInsert.no;
constexpr int kInsert = stmt::kInsertLine.no;
constexpr int kDeleteTx = stmt::kBeginDelete.no;
constexpr int kDelete = stmt::kDeleteLines.no;
constexpr int kLineCursor = stmt::kLineCursor.no;
constexpr int kKeyLock = stmt::kLockLineStore.no;
constexpr int kCommit = stmt::kCommit.no;

constexpr const char* kBeginInsertSql = stmt::kBeginInsert.text;
constexpr const char* kInsertSql = stmt::kInsertLine.text;
constexpr const char* kRollbackInsertSql = stmt::kRollbackInsert.text;
constexpr const char* kBeginDeleteSql = stmt::kBeginDelete.text;
constexpr const char* kDeleteSql = stmt::kDeleteLines.text;
constexpr const char* kRollbackDeleteSql = stmt::kRollbackDelete.text;
constexpr const char* kCommitSql = stmt::kCommit.text;
constexpr const char* kKeyLockSql = stmt::kLockLineStore.text;
constexpr const char* kLineCursorSql = stmt::kLineCursor.text;

// The resource of a path's lock: the path behind the table's name.
constexpr char kKeyLockPrefix[] = "Zrt999Tmp ";
// sp_getapplock's return code for a lock not granted within the wait.
constexpr int kAppLockTimedOut = -1;

// A row's insert that the table refused, or whose value the column does not
// take: that line's problem alone.
bool LineRefused(const Status& s) { return s.refused() || s.bad_value(); }

// Stores the lines of one run; see StoreLines.
class Store {
 public:
  Store(Connection& c, const std::string& path, const std::vector<std::string>& lines)
      : c_(c), path_(path), lines_(lines) {}

  StoreReport Run(StoreMode mode) {
    std::vector<size_t> group;
    for (size_t i = 0; i < lines_.size() && ok(); ++i) {
      if (lines_[i].size() > kMaxLineLen) {
        Refuse(i, Status(kSqlTooLong, Outcome::kBadValue, "line longer than 512 characters"));
        continue;
      }
      if (mode == StoreMode::kOneByOne) {
        StoreAlone(i);
        continue;
      }
      group.push_back(i);
      if (group.size() == static_cast<size_t>(kLinesPerGroup)) {
        StoreGroup(group);
        group.clear();
      }
    }
    if (ok() && !group.empty()) StoreGroup(group);
    std::sort(report_.refused.begin(), report_.refused.end(),
              [](const Refusal& a, const Refusal& b) { return a.seq < b.seq; });
    return std::move(report_);
  }

 private:
  bool ok() const { return !report_.failure.failed(); }
  Param PathParam() const { return Param::Text(path_, kMaxPathLen); }
  Params RowOf(size_t i) const { return {PathParam(), Param::Text(lines_[i], kMaxLineLen)}; }

  void Fail(Status s, const char* what) {
    if (ok()) report_.failure = s.failed() ? s.At(what) : Status(kSqlFailed, Outcome::kFailed, s.reason()).At(what);
  }
  void Refuse(size_t i, const Status& s) {
    report_.refused.push_back(Refusal{static_cast<int64_t>(i), s.sqlcode(), s.reason()});
  }
  bool Begin() {
    if (c_.Transaction(kInsertTx, kBeginInsertSql) == 0) return true;
    Fail(c_.status(), "BEGIN TRANSACTION Tmp_PKeyIns_Sp");
    return false;
  }
  bool Rollback() {
    if (c_.Transaction(kInsertTx, kRollbackInsertSql) == 0) return true;
    Fail(c_.status(), "ROLLBACK TRANSACTION Tmp_PKeyIns_Sp");
    return false;
  }

  // After a COMMIT that reported a failure: whether the n lines went in,
  // told by the count of the path's lines. False (and the store failed) when
  // the count cannot tell.
  bool WentIn(int64_t n, const Status& commit, bool* went_in) {
    c_.Transaction(kInsertTx, kRollbackInsertSql);  // whatever is left of it
    ::plom::Row row;
    if (c_.Execute(stmt::kCountLines.no, stmt::kCountLines.text, {PathParam()}, &row) != 0 ||
        row.empty()) {
      Fail(commit, "COMMIT TRANSACTION");
      return false;
    }
    int64_t count = row[0].Int();
    if (count == report_.stored + n || count == report_.stored) {
      *went_in = count == report_.stored + n;
      return true;
    }
    Fail(Status(kSqlFailed, Outcome::kFailed,
                "after a failed COMMIT the line store holds " + std::to_string(count) +
                    " lines instead of " + std::to_string(report_.stored) + " or " +
                    std::to_string(report_.stored + n) + ": " + commit.reason()),
         "COMMIT TRANSACTION");
    return false;
  }

  // One line in its own transaction.
  void StoreAlone(size_t i) {
    if (!Begin()) return;
    c_.Execute(kInsert, kInsertSql, RowOf(i));
    Status s = c_.status();
    if (s.ok()) {
      if (c_.Transaction(kCommit, kCommitSql) == 0) {
        ++report_.stored;
        return;
      }
      Status commit = c_.status();
      bool went_in = false;
      if (!WentIn(1, commit, &went_in)) return;
      if (went_in) {
        ++report_.stored;
      } else {
        Fail(commit, "COMMIT TRANSACTION");
      }
      return;
    }
    if (!LineRefused(s)) {
      c_.Transaction(kInsertTx, kRollbackInsertSql);
      Fail(s, "Zrt999Tmp");
      return;
    }
    if (Rollback()) Refuse(i, s);
  }

  // The rows of a group, inside its transaction. Returns the first failed
  // row's status (ok when every row went in).
  Status SendGroup(const std::vector<size_t>& group) {
    if (c_.sends_rows_together()) {
      std::vector<Params> rows;
      rows.reserve(group.size());
      for (size_t i : group) rows.push_back(RowOf(i));
      std::vector<Status> statuses;
      c_.ExecuteMany(kInsert, kInsertSql, rows, &statuses);
      // A failing database decides over a refused row.
      Status first;
      for (Status& s : statuses) {
        if (s.failed()) return s;
        if (!s.ok() && first.ok()) first = s;
      }
      return first;
    }
    size_t at = 0;
    Params params;
    for (; at + kLinesPerInsert <= group.size(); at += kLinesPerInsert) {
      params.assign(1, PathParam());
      for (size_t k = at; k < at + kLinesPerInsert; ++k) {
        params.push_back(Param::Text(lines_[group[k]], kMaxLineLen));
      }
      if (c_.Execute(stmt::kInsertLines.no, stmt::kInsertLines.text, params) != 0) {
        return c_.status();
      }
    }
    for (; at < group.size(); ++at) {
      if (c_.Execute(kInsert, kInsertSql, RowOf(group[at])) != 0) return c_.status();
    }
    return Status::Ok();
  }

  void StoreGroup(const std::vector<size_t>& group) {
    if (!Begin()) return;
    Status s = SendGroup(group);
    const int64_t n = static_cast<int64_t>(group.size());
    if (s.ok()) {
      if (c_.Transaction(kCommit, kCommitSql) == 0) {
        report_.stored += n;
        return;
      }
      bool went_in = false;
      if (!WentIn(n, c_.status(), &went_in)) return;
      if (went_in) {
        report_.stored += n;
        return;
      }
    } else if (LineRefused(s)) {
      // Nothing of the group stays; its lines go again one by one. The
      // transaction must still be there, or rows after its end went in on
      // their own.
      if (!Rollback()) return;
    } else {
      c_.Transaction(kInsertTx, kRollbackInsertSql);
      Fail(s, "Zrt999Tmp");
      return;
    }
    for (size_t i : group) {
      if (!ok()) return;
      StoreAlone(i);
    }
  }

  Connection& c_;
  const std::string& path_;
  const std::vector<std::string>& lines_;
  StoreReport report_;
};

}  // namespace

StoreReport StoreLines(Connection& c, const std::string& path,
                       const std::vector<std::string>& lines, StoreMode mode) {
  if (path.size() > kMaxPathLen) {
    StoreReport r;
    r.failure = Status(kSqlTooLong, Outcome::kFailed, "path longer than 100 characters").At("Zrt999Tmp");
    return r;
  }
  return Store(c, path, lines).Run(mode);
}

Status DeleteLines(Connection& c, const std::string& path) {
  if (path.size() > kMaxPathLen) {
    return Status(kSqlTooLong, Outcome::kFailed, "path longer than 100 characters").At("Zrt999Tmp");
  }
  if (c.Transaction(kDeleteTx, kBeginDeleteSql) != 0) return c.status().At("Zrt999Tmp");
  c.Execute(kDelete, kDeleteSql, {Param::Text(path, kMaxPathLen)});
  Status s = c.status();
  if (s.ok()) {
    if (c.Transaction(kCommit, kCommitSql) == 0) return Status::Ok();
    Status commit = c.status();
    c.Transaction(kDeleteTx, kRollbackDeleteSql);
    return commit.At("Zrt999Tmp");
  }
  // No row: there were no lines; the rollback ends the empty transaction.
  int rollback = c.Transaction(kDeleteTx, kRollbackDeleteSql);
  if (s.no_row()) return rollback == 0 ? Status::Ok() : c.status().At("Zrt999Tmp");
  return s.At("Zrt999Tmp");
}

std::string LineStoreLockKey(const std::string& path) {
  std::string key = Cut(path, kMaxPathLen);
  while (!key.empty() && key.back() == ' ') key.pop_back();
  for (char& ch : key) {
    unsigned char u = static_cast<unsigned char>(ch);
    // Windows-1252: a-z, the accented small letters (not the division sign
    // 0xF7, not y-umlaut 0xFF, whose capital is 0x9F), and s, oe, z caron.
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) {
      u = static_cast<unsigned char>(u - 0x20);
    } else if (u == 0x9A || u == 0x9C || u == 0x9E) {
      u = static_cast<unsigned char>(u - 0x10);
    } else if (u == 0xFF) {
      u = 0x9F;
    }
    ch = static_cast<char>(u);
  }
  return key;
}

int LockLineStore(Connection& c, const std::string& path, int wait_ms) {
  Row row;
  int rc = c.Execute(kKeyLock, kKeyLockSql,
                     {Param::Text(kKeyLockPrefix + LineStoreLockKey(path)), Param::Int(wait_ms)},
                     &row);
  if (rc == kSqlNotFound) c.SetError(kSqlFailed, "sp_getapplock answered with no row");
  if (rc != 0) return rc < 0 ? rc : kSqlFailed;
  int granted = row.empty() ? -999 : row[0].Int();
  if (granted >= 0) return 0;
  if (granted == kAppLockTimedOut) return kSqlLineStoreLocked;
  c.SetError(kSqlFailed, "sp_getapplock returned " + std::to_string(granted));
  return kSqlFailed;
}

int ReadStoredPaths(Connection& c, std::vector<StoredPath>* paths) {
  paths->clear();
  int rc = c.Open(stmt::kStoredPaths.no, stmt::kStoredPaths.text, {});
  ::plom::Row row;
  while (rc == 0 && (rc = c.Fetch(stmt::kStoredPaths.no, &row)) == 0) {
    StoredPath p;
    if (!row.empty()) p.path = row[0].Text();
    if (row.size() > 1) p.lines = row[1].Int();
    TrimRight(&p.path);
    paths->push_back(std::move(p));
  }
  c.Close(stmt::kStoredPaths.no);
  return rc == kSqlNotFound ? 0 : (rc < 0 ? rc : kSqlFailed);
}

Status ReadLines(Connection& c, const std::string& path, std::vector<std::string>* lines) {
  lines->clear();
  int rc = c.Open(kLineCursor, kLineCursorSql, {Param::Text(Cut(path, kMaxPathLen), kMaxPathLen)});
  ::plom::Row row;
  while (rc == 0 && (rc = c.Fetch(kLineCursor, &row)) == 0) {
    std::string s = row.empty() ? std::string() : row[0].Text();
    TrimRight(&s);
    lines->push_back(Cut(s, kMaxLineLen));
  }
  Status s = c.status().At("TMP_USRSTR_C");
  c.Close(kLineCursor);
  return s.no_row() ? Status::Ok() : s;
}

}  // namespace plom
