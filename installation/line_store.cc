#include "installation/line_store.h"

#include "installation/statements.h"

namespace plom {
namespace {

constexpr int kInsertTx = stmt::kBeginInsert.no;
constexpr int kInsert = stmt::kInsertLine.no;
constexpr int kDeleteTx = stmt::kBeginDelete.no;
constexpr int kDelete = stmt::kDeleteLines.no;
constexpr int kLineCursor = stmt::kLineCursor.no;
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
constexpr const char* kLineCursorSql = stmt::kLineCursor.text;

// The sqlcode for a value beyond the width of its column.
constexpr int kTooLong = kSqlTooLong;

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
  int rc = c.Execute(kInsert, kInsertSql, {Param::Text(path, kMaxPathLen), Param::Text(line, kMaxLineLen)});
  if (rc != 0) c.Transaction(kInsertTx, kRollbackLineSql);
  return rc;
}

}  // namespace

int InsertLine(Connection& c, const std::string& path, const std::string& line) {
  if (path.size() > kMaxPathLen || line.size() > kMaxLineLen) return kTooLong;
  if (c.line_group.enabled) return InsertGrouped(c, path, line);
  c.Transaction(kInsertTx, kBeginInsertSql);
  int rc = c.Execute(kInsert, kInsertSql, {Param::Text(path, kMaxPathLen), Param::Text(line, kMaxLineLen)});
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
  size_t at = 0;
  Params params;
  for (; at + kLinesPerInsert <= lines.size(); at += kLinesPerInsert) {
    params.assign(1, Param::Text(path));
    for (size_t i = at; i < at + kLinesPerInsert; ++i) params.push_back(Param::Text(lines[i]));
    int rc = c.Execute(stmt::kInsertLines.no, stmt::kInsertLines.text, params);
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
  int rc = c.Execute(kDelete, kDeleteSql, {Param::Text(path, kMaxPathLen)});
  if (rc == 0) {
    c.Transaction(kCommit, kCommitSql);
  } else {
    c.Transaction(kDeleteTx, kRollbackDeleteSql);
  }
  return rc;
}

int OpenLineCursor(Connection& c, const std::string& path) {
  FlushLines(c);
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

}  // namespace plom
