#include "installation/line_store.h"

namespace plom {
namespace {

constexpr int kInsertTx = 41;
constexpr int kInsert = 42;
constexpr int kDeleteTx = 43;
constexpr int kDelete = 44;
constexpr int kLineCursor = 45;
constexpr int kCommit = 0;
constexpr int kInsertMany = 48;

constexpr char kBeginInsertSql[] = "  BEGIN TRANSACTION Tmp_PKeyIns_Sp ";
constexpr char kInsertSql[] =
    "  INSERT INTO ZrSystem.Zrt999Tmp ( TmpUsr, TmpStr ) VALUES ( @p1    , @p2     )  ";
constexpr char kRollbackInsertSql[] = "  ROLLBACK TRANSACTION Tmp_PKeyIns_Sp ";
constexpr char kBeginDeleteSql[] = "  BEGIN TRANSACTION Tmp_UsrDel_Sp ";
constexpr char kDeleteSql[] = "  DELETE FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1      ";
constexpr char kRollbackDeleteSql[] = "  ROLLBACK TRANSACTION Tmp_UsrDel_Sp ";
constexpr char kCommitSql[] = "  COMMIT TRANSACTION ";
constexpr char kSaveLineSql[] = "  SAVE TRANSACTION Tmp_PKeyIns_Sv ";
constexpr char kRollbackLineSql[] = "  ROLLBACK TRANSACTION Tmp_PKeyIns_Sv ";
constexpr char kLineCursorSql[] =
    "/* TMP_USRSTR_C 45 nohold */ SELECT TmpStr FROM  ZRSystem.Zrt999Tmp WHERE TmpUsr = @p1     "
    "ORDER BY TmpUsr, TmpStr ";

// "  INSERT INTO ZrSystem.Zrt999Tmp ( TmpUsr, TmpStr ) VALUES ( @p1, @p2 ),
// ( @p1, @p3 ), ..." for kLinesPerInsert lines: the path once, then the lines.
std::string InsertManySql() {
  std::string sql = "  INSERT INTO ZrSystem.Zrt999Tmp ( TmpUsr, TmpStr ) VALUES ";
  for (size_t i = 0; i < kLinesPerInsert; ++i) {
    if (i > 0) sql += ", ";
    sql += "( @p1, @p" + std::to_string(i + 2) + " )";
  }
  return sql + "  ";
}

// The sqlcode for a value beyond the width of its column.
constexpr int kTooLong = -3;

}  // namespace

int FlushLines(Connection& c) {
  if (!c.line_group.open) return 0;
  c.line_group.open = false;
  c.line_group.lines = 0;
  int rc = c.Transaction(kCommit, kCommitSql);
  // A transaction that cannot be committed is ended, so that the next
  // statement does not run inside it.
  if (rc != 0) c.Transaction(kInsertTx, kRollbackInsertSql);
  return rc;
}

namespace {

// One line inside the open group, behind its own savepoint.
int InsertGrouped(Connection& c, const std::string& path, const std::string& line) {
  if (c.line_group.open && c.line_group.lines >= kLinesPerGroup) FlushLines(c);
  if (!c.line_group.open) {
    if (c.Transaction(kInsertTx, kBeginInsertSql) != 0) return c.last_sqlcode();
    c.line_group.open = true;
  }
  ++c.line_group.lines;
  c.Transaction(kInsertTx, kSaveLineSql);
  int rc = c.Execute(kInsert, kInsertSql, {Param::Text(path), Param::Text(line)});
  if (rc != 0) c.Transaction(kInsertTx, kRollbackLineSql);
  return rc;
}

}  // namespace

int InsertLine(Connection& c, const std::string& path, const std::string& line) {
  if (path.size() > kMaxPathLen || line.size() > kMaxLineLen) return kTooLong;
  if (c.line_group.enabled) return InsertGrouped(c, path, line);
  c.Transaction(kInsertTx, kBeginInsertSql);
  int rc = c.Execute(kInsert, kInsertSql, {Param::Text(path), Param::Text(line)});
  if (rc == 0) {
    c.Transaction(kCommit, kCommitSql);
  } else {
    c.Transaction(kInsertTx, kRollbackInsertSql);
  }
  return rc;
}

namespace {

// The INSERT statements of InsertLinesAtOnce, inside its transaction.
int InsertAll(Connection& c, const std::string& path, const std::vector<std::string>& lines) {
  static const std::string kInsertManySql = InsertManySql();
  size_t at = 0;
  Params params;
  for (; at + kLinesPerInsert <= lines.size(); at += kLinesPerInsert) {
    params.assign(1, Param::Text(path));
    for (size_t i = at; i < at + kLinesPerInsert; ++i) params.push_back(Param::Text(lines[i]));
    int rc = c.Execute(kInsertMany, kInsertManySql, params);
    if (rc != 0) return rc;
  }
  for (; at < lines.size(); ++at) {
    int rc = c.Execute(kInsert, kInsertSql, {Param::Text(path), Param::Text(lines[at])});
    if (rc != 0) return rc;
  }
  return 0;
}

}  // namespace

int InsertLinesAtOnce(Connection& c, const std::string& path,
                      const std::vector<std::string>& lines) {
  if (path.size() > kMaxPathLen) return kTooLong;
  for (const std::string& l : lines) {
    if (l.size() > kMaxLineLen) return kTooLong;
  }
  FlushLines(c);
  if (lines.empty()) return 0;
  int rc = c.Transaction(kInsertTx, kBeginInsertSql);
  if (rc != 0) return rc;
  rc = InsertAll(c, path, lines);
  if (rc == 0) rc = c.Transaction(kCommit, kCommitSql);
  if (rc != 0) c.Transaction(kInsertTx, kRollbackInsertSql);
  return rc;
}

int DeleteLines(Connection& c, const std::string& path) {
  if (path.size() > kMaxPathLen) return kTooLong;
  FlushLines(c);
  c.Transaction(kDeleteTx, kBeginDeleteSql);
  int rc = c.Execute(kDelete, kDeleteSql, {Param::Text(path)});
  if (rc == 0) {
    c.Transaction(kCommit, kCommitSql);
  } else {
    c.Transaction(kDeleteTx, kRollbackDeleteSql);
  }
  return rc;
}

int OpenLineCursor(Connection& c, const std::string& path) {
  FlushLines(c);
  return c.Open(kLineCursor, kLineCursorSql, {Param::Text(Cut(path, kMaxPathLen))});
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

}  // namespace plom
