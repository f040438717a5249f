// The line store: the output lines of a download file, kept in
// ZrSystem.Zrt999Tmp under the download file path until the driver writes
// them out in ascending order of their text.
#pragma once

#include <string>

#include "db/runtime.h"

namespace plom {

constexpr size_t kMaxPathLen = 100;  // TmpUsr
constexpr size_t kMaxLineLen = 512;  // TmpStr

// Stores one line in its own transaction. Returns the sqlcode of the INSERT.
int InsertLine(Connection& c, const std::string& path, const std::string& line);
// Deletes the line store of the path: 0 deleted, 100 there were none.
int DeleteLines(Connection& c, const std::string& path);

int OpenLineCursor(Connection& c, const std::string& path);
// The next line, right-trimmed of blanks and tabs.
int FetchLine(Connection& c, std::string* line);
int CloseLineCursor(Connection& c);

}  // namespace plom
