// Access-right queries on the per-client tables of the current schema, and
// the access-right resolution.
#include "installation/access_rights.h"

#include <cstdio>

#include "installation/badge_queries.h"
#include "installation/statements.h"

namespace plom {

namespace {

// FROM-list suffixes; the assignment table always comes last.
constexpr const char kZuo[] = ".Zrt311Zuo,";
constexpr const char kKst[] = ".O1003Kststelle,";
constexpr const char kAbl[] = ".G1102AbtLst,";
constexpr const char kBsv[] = ".Zrt310Bsv,";
constexpr const char kBzu[] = ".Zrt408Bzu ";

// Bound widths (including the terminator).
constexpr size_t kGroupKeyWidth = 6;
constexpr size_t kPnrKeyWidth = 9;
constexpr size_t kZauWidth = 6;
constexpr size_t kDateWidth = 15;
constexpr size_t kClassWidth = 6;
constexpr size_t kKstWidth = 31;
constexpr size_t kAbtWidth = 16;

enum class Extra { kNone, kGroup, kCostCentre, kDepartment };

struct Query {
  Statement statement;    // number and format text
  const char* tables[2];  // tables before the assignment table (nullptr: none)
  bool key_is_group;      // badge group, else personnel number
  Extra extra;            // the leading column fetched besides validity and class
  bool pad_class;         // class held "%-3s" (else as fetched)
};

constexpr Query kAwsGrp = {stmt::kSelAwsGrp, {nullptr, nullptr}, true, Extra::kGroup, true};
constexpr Query kKstQ = {stmt::kSelKst, {kZuo, nullptr}, false, Extra::kCostCentre, true};
constexpr Query kKstGrp = {stmt::kSelKstGrp, {kKst, kZuo}, false, Extra::kNone, true};
constexpr Query kAbtQ = {stmt::kSelAbt, {kZuo, nullptr}, false, Extra::kDepartment, true};
constexpr Query kAbtGrp = {stmt::kSelAbtGrp, {kAbl, kZuo}, false, Extra::kNone, true};
constexpr Query kAkr = {stmt::kSelAkr, {kBsv, nullptr}, false, Extra::kNone, false};

// The kept answer of the key, when there is one.
bool KeptAnswer(AccessRightCache* cache, const AccessRightCache::Key& key, int* sqlcode, Row* row) {
  std::lock_guard<std::mutex> hold(cache->mu);
  auto kept = cache->answers.find(key);
  if (kept == cache->answers.end()) return false;
  *sqlcode = kept->second.sqlcode;
  *row = kept->second.row;
  return true;
}

Status RunQuery(Connection& c, const std::string& schema, const Query& q, BadgeRecord* r,
                AccessRightCache* cache = nullptr) {
  if (!IsValidSchemaName(schema)) {
    return Status(kInvalidSchema, Outcome::kFailed, "invalid client schema").At("Zrt408Bzu");
  }
  std::string from;
  for (const char* t : q.tables) {
    if (t != nullptr) from += schema + t;
  }
  from += schema + kBzu;
  std::string key = q.key_is_group ? Cut(r->badge_group, kGroupKeyWidth - 1)
                                   : Cut(r->personnel_number, kPnrKeyWidth - 1);

  Row row;
  int rc;
  bool keep = cache != nullptr && cache->enabled();
  AccessRightCache::Key cache_key{schema, q.statement.no, key};
  if (!keep || !KeptAnswer(cache, cache_key, &rc, &row)) {
    Status s = FetchFirstRow(c, q.statement.no, BuildStatement(q.statement.text, from), key, &row);
    if (!s.answered()) return s.At("Zrt408Bzu");
    rc = s.sqlcode();
    if (keep) {
      std::lock_guard<std::mutex> hold(cache->mu);
      cache->answers[cache_key] = {rc, row};
    }
  }
  if (rc != kSqlOk) return Status::NoRow();

  size_t col = 0;
  std::string extra;
  switch (q.extra) {
    case Extra::kNone:
      break;
    case Extra::kGroup:
      extra = ColumnText(row, col++, kZauWidth);
      break;
    case Extra::kCostCentre:
      extra = ColumnText(row, col++, kKstWidth);
      break;
    case Extra::kDepartment:
      extra = ColumnText(row, col++, kAbtWidth);
      break;
  }
  std::string from_date = ColumnText(row, col++, kDateWidth);
  std::string to_date = ColumnText(row, col++, kDateWidth);
  std::string cls = ColumnText(row, col++, kClassWidth);

  switch (q.extra) {
    case Extra::kNone:
      break;
    case Extra::kGroup:
      r->badge_group = extra;
      break;
    case Extra::kCostCentre:
      r->cost_centre = extra;
      break;
    case Extra::kDepartment:
      r->department = extra;
      break;
  }
  r->valid_from = from_date;
  r->valid_to = to_date;
  r->access_class = q.pad_class ? PadClass(cls) : cls;
  return Status::Ok();
}

}  // namespace

bool IsValidSchemaName(const std::string& schema) {
  if (schema.empty() || schema.size() > kMaxSchemaLen) return false;
  // A plain identifier: it cannot start with a digit.
  if (schema[0] >= '0' && schema[0] <= '9') return false;
  for (char ch : schema) {
    bool ok = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
              ch == '_';
    if (!ok) return false;
  }
  return true;
}

std::string BuildStatement(const char* tmpl, const std::string& from) {
  std::string_view t(tmpl);
  std::string text;
  text.reserve(t.size() + from.size());
  for (size_t at; (at = t.find("%s")) != std::string_view::npos; t.remove_prefix(at + 2)) {
    text.append(t.substr(0, at)).append(from);
  }
  text.append(t);
  return Cut(text, kMaxStatementLen);
}

Status FetchFirstRow(Connection& c, int no, const std::string& text, const std::string& key,
                     Row* row) {
  if (c.Open(no, text, {Param::Text(key)}, 1) >= 0) c.Fetch(no, row);  // one row is all
  Status s = c.status();
  c.Close(no);
  return s;
}

int BZU_SelAwsGrp(Connection& c, const std::string& schema, BadgeRecord* r) {
  return RunQuery(c, schema, kAwsGrp, r).sqlcode();
}
int BZU_SelKst(Connection& c, const std::string& schema, BadgeRecord* r) {
  return RunQuery(c, schema, kKstQ, r).sqlcode();
}
int BZU_SelKstGrp(Connection& c, const std::string& schema, BadgeRecord* r) {
  return RunQuery(c, schema, kKstGrp, r).sqlcode();
}
int BZU_SelAbt(Connection& c, const std::string& schema, BadgeRecord* r) {
  return RunQuery(c, schema, kAbtQ, r).sqlcode();
}
int BZU_SelAbtGrp(Connection& c, const std::string& schema, BadgeRecord* r) {
  return RunQuery(c, schema, kAbtGrp, r).sqlcode();
}
int BZU_SelAkr(Connection& c, const std::string& schema, BadgeRecord* r) {
  return RunQuery(c, schema, kAkr, r).sqlcode();
}

Status ResolveAccessClass(Connection& c, const std::string& schema, BadgeRecord* r,
                          bool* resolved, AccessRightCache* cache) {
  *resolved = true;
  if (r->access_class != "0  ") return Status::Ok();
  for (const Query* q : {&kAwsGrp, &kKstQ, &kKstGrp, &kAbtQ, &kAbtGrp, &kAkr}) {
    Status s = RunQuery(c, schema, *q, r, cache);
    if (!s.no_row()) return s;
  }
  *resolved = false;
  return Status::Ok();
}

}  // namespace plom
