#include "db/key_locks.h"

#include <algorithm>
#include <cctype>

#include "db/tsql.h"
#include "platform/files.h"

namespace plom {

bool IsAppLockText(std::string_view tsql) {
  // Asked before every statement: the words are looked at where they stand.
  auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  for (size_t i = 0; i < tsql.size();) {
    while (i < tsql.size() && blank(tsql[i])) ++i;
    size_t j = i;
    while (j < tsql.size() && !blank(tsql[j])) ++j;
    if (EqualsNoCase(tsql.substr(i, j - i), "sp_getapplock")) return true;
    i = j;
  }
  return false;
}

std::string AppLockFileOf(const std::string& database_file) { return database_file + "-applock"; }

namespace {

// sp_getapplock's return codes.
constexpr int kAppLockGranted = 0;
constexpr int kAppLockTimedOut = -1;

}  // namespace

SessionAppLocks::SessionAppLocks() = default;
SessionAppLocks::~SessionAppLocks() = default;

Result SessionAppLocks::Take(const std::string& database_file, const Params& params) {
  Result r;
  if (params.size() < 2 || params[0].is_int || !params[1].is_int) {
    r.sqlcode = kSqlFailed;
    r.error = "sp_getapplock: resource (text) and wait (number) expected";
    return r;
  }
  const std::string& resource = params[0].text;
  r.is_select = true;
  Value code;
  code.type = Value::Type::kInt;
  if (held_.count(resource) == 0) {
    int wait_ms =
        params[1].num < 0 ? 0 : static_cast<int>(std::min<int64_t>(params[1].num, INT32_MAX));
    auto lock =
        std::make_unique<KeyLock>(AppLockFileOf(database_file), resource, wait_ms, database_file);
    if (lock->state() == KeyLock::State::kUnavailable) {
      r.is_select = false;
      r.sqlcode = kSqlLockFileUnusable;
      r.error = "lock file " + AppLockFileOf(database_file) + ": " + lock->reason();
      return r;
    }
    if (lock->state() == KeyLock::State::kBusy) {
      code.i = kAppLockTimedOut;
      r.rows.push_back({code});
      return r;
    }
    held_[resource] = std::move(lock);
  }
  code.i = kAppLockGranted;
  r.rows.push_back({code});
  return r;
}

}  // namespace plom
