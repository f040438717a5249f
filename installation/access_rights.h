// Access-right queries: a badge of access class "0" takes its access class
// and validity from an access-right assignment of the current client schema,
// found through its badge group or the holder's organisational assignments.
//
// Each query returns the sqlcode of its fetch: 0 when a right was found and
// written into the record (validity and class, plus group, cost centre or
// department as the query says), 100 when none, negative on error. The key
// (badge group or personnel number) is bound as a parameter.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <tuple>

#include "installation/badge_record.h"
#include "installation/connection.h"
#include "db/runtime.h"

namespace plom {

int BZU_SelAwsGrp(Connection& c, const std::string& schema, BadgeRecord* r);
int BZU_SelKst(Connection& c, const std::string& schema, BadgeRecord* r);
int BZU_SelKstGrp(Connection& c, const std::string& schema, BadgeRecord* r);
int BZU_SelAbt(Connection& c, const std::string& schema, BadgeRecord* r);
int BZU_SelAbtGrp(Connection& c, const std::string& schema, BadgeRecord* r);
int BZU_SelAkr(Connection& c, const std::string& schema, BadgeRecord* r);

// Answers of the access-right queries kept for a run. The rights do not
// change while a run reads them, so each query needs to run only once per
// client schema and key (many badges share a badge group). Only answers that
// found a right or found none are kept; an error is asked again. The runs of
// a batch share one cache: answers are looked up and kept under mu.
class AccessRightCache {
 public:
  explicit AccessRightCache(bool enabled = true) : enabled_(enabled) {}
  bool enabled() const { return enabled_; }

  struct Answer {
    int sqlcode = 0;
    Row row;
  };
  using Key = std::tuple<std::string, int, std::string>;  // schema, statement, key
  using Answers = std::map<Key, Answer>;
  Answers answers;
  std::mutex mu;

 private:
  bool enabled_;
};

// The access-right resolution: a class other than "0  " counts as resolved;
// for "0  " the six queries run in order until one finds a right. Says in
// *resolved whether the class is resolved; a query that fails (anything but
// a row or none) ends the resolution with its status. With a cache, kept
// answers are used.
Status ResolveAccessClass(Connection& c, const std::string& schema, BadgeRecord* r,
                          bool* resolved, AccessRightCache* cache = nullptr);

// Whether a client schema name may enter statement texts: 1 to 20 letters,
// digits and "_", not starting with a digit.
bool IsValidSchemaName(const std::string& schema);

// The sqlcode of a statement refused because the current schema may not
// enter a statement text; nothing is run.
constexpr int kInvalidSchema = -1;
constexpr size_t kMaxStatementLen = 1023;

// Formats a statement template: each %s takes the FROM list.
std::string BuildStatement(const char* tmpl, const std::string& from);

// Runs a statement built at run time as a cursor of which only the first
// row is used: open with the key as @p1, one fetch, close. Answers with the
// fetch's outcome (or the open's when the open failed).
Status FetchFirstRow(Connection& c, int no, const std::string& text, const std::string& key,
                     Row* row);

}  // namespace plom
