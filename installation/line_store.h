// The line store: the output lines of a download file, kept in
// ZrSystem.Zrt999Tmp under the download file path until the driver writes
// them out in ascending order of their text.
#pragma once

#include <string>
#include <vector>

#include "db/runtime.h"
#include "installation/line_sink.h"
#include "installation/statements.h"

namespace plom {

constexpr size_t kMaxPathLen = 100;  // TmpUsr
constexpr size_t kMaxLineLen = 512;  // TmpStr

// Stores one line. Returns the sqlcode of the INSERT; a failed insert is
// undone alone and the lines before it stay.
//
// Inserts are grouped: a transaction holds up to kLinesPerGroup lines, each
// behind its own savepoint (the savepoint is what a failure rolls back to).
// FlushLines commits the open group; the driver calls it before it reads
// the lines back. With c.line_group.enabled off, every line is its own
// transaction (begin, insert, commit or rollback).
int InsertLine(Connection& c, const std::string& path, const std::string& line);
// Commits the open group of inserts, if any. Returns the sqlcode of the
// commit (0 when nothing was open).
int FlushLines(Connection& c);
constexpr int kLinesPerGroup = 2000;

// Stores all lines of the path at once, in one transaction of INSERT
// statements of kLinesPerInsert lines each (and single-line INSERTs for the
// rest). All or nothing: 0 when every line is stored and committed;
// otherwise the sqlcode of the first failure, after which the transaction
// is rolled back and none of the lines is stored (the caller then stores
// them one by one, to learn which line was refused). A path or line beyond
// its column refuses the whole call with nothing sent.
int InsertLinesAtOnce(Connection& c, const std::string& path,
                      const std::vector<std::string>& lines);

// Deletes the line store of the path: 0 deleted, 100 there were none.
int DeleteLines(Connection& c, const std::string& path);

// The line store as the generators' sink: each line goes in by InsertLine.
class LineStoreSink : public LineSink {
 public:
  explicit LineStoreSink(Connection& c) : c_(c) {}
  int Insert(const std::string& path, const std::string& line) override {
    return InsertLine(c_, path, line);
  }

 private:
  Connection& c_;
};

int OpenLineCursor(Connection& c, const std::string& path);
// The next line, right-trimmed of blanks and tabs.
int FetchLine(Connection& c, std::string* line);
int CloseLineCursor(Connection& c);

}  // namespace plom
