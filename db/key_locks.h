// Application locks of a session on the embedded database.
//
// SQL Server serialises sessions on a named resource with sp_getapplock;
// SQLite has nothing of the kind. An embedded backend therefore answers the
// tool's sp_getapplock statement itself: with an exclusive lock on the
// resource name that every process of this host sees (an advisory lock in a
// lock file beside the database file), owned by the session: held until the
// backend (the connection) ends.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "db/runtime.h"

namespace plom {

class KeyLock;

// Whether the statement text calls sp_getapplock.
bool IsAppLockText(std::string_view tsql);

// The sqlcode of an sp_getapplock whose lock file cannot be used at all
// (another user's, a link, not a regular file); the message says why.
constexpr int kSqlLockFileUnusable = -1225;

// The lock file of the application locks on a database file.
std::string AppLockFileOf(const std::string& database_file);

class SessionAppLocks {
 public:
  SessionAppLocks();
  ~SessionAppLocks();
  SessionAppLocks(const SessionAppLocks&) = delete;
  SessionAppLocks& operator=(const SessionAppLocks&) = delete;

  // Runs the sp_getapplock statement: @p1 the resource, @p2 the wait in
  // milliseconds. The result has one row of one integer, sp_getapplock's
  // return code: 0 granted (also when this session holds it already), -1
  // not granted within the wait. A lock file that cannot be used fails the
  // statement with kSqlLockFileUnusable and the reason.
  Result Take(const std::string& database_file, const Params& params);

 private:
  std::map<std::string, std::unique_ptr<KeyLock>> held_;
};

}  // namespace plom
