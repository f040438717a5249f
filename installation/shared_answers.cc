#include "installation/shared_answers.h"

#include "installation/badge_queries.h"
#include "installation/balance_queries.h"

namespace plom {
namespace {

bool Answered(int sqlcode) { return sqlcode == kSqlOk || sqlcode == kSqlNotFound; }

std::string PersonKey(const Connection& c, const BadgeRecord& r) {
  return c.current_schema + '\x1f' + r.personnel_number;
}

int ReadBadgeRows(Connection& c, const std::string& schema, SharedAnswers::BadgeRows* rows) {
  BadgeRecord r;
  int rc = OpenBadgeCursor(c, schema);
  if (rc >= 0) {
    while ((rc = FetchBadge(c, &r)) == kSqlOk) {
      rows->push_back(r);
      r.Clear();
    }
  }
  CloseBadgeCursor(c);
  return rc;
}

}  // namespace

int SharedAnswers::GetBadgeRows(Connection& c, const std::string& schema,
                                std::shared_ptr<const BadgeRows>* rows) {
  std::shared_ptr<BadgeEntry> entry;
  {
    std::lock_guard<std::mutex> hold(mu_);
    auto& e = badges_[schema];
    if (!e) e = std::make_shared<BadgeEntry>();
    entry = e;
  }
  // Held while the rows are read: the other runs of the schema wait for them.
  std::lock_guard<std::mutex> hold(entry->mu);
  if (entry->kept) {
    *rows = entry->rows;
    return kSqlNotFound;
  }
  auto read = std::make_shared<BadgeRows>();
  int rc = ReadBadgeRows(c, schema, read.get());
  *rows = read;
  if (rc == kSqlNotFound) {
    entry->rows = read;
    entry->kept = true;
  }
  return rc;
}

bool SharedAnswers::Find(const Answers& answers, const std::string& key, Answer* out) {
  std::lock_guard<std::mutex> hold(mu_);
  auto it = answers.find(key);
  if (it == answers.end()) return false;
  *out = it->second;
  return true;
}

void SharedAnswers::Keep(Answers* answers, const std::string& key, Answer answer) {
  std::lock_guard<std::mutex> hold(mu_);
  answers->emplace(key, std::move(answer));
}

int SharedAnswers::Balances(Connection& c, BadgeRecord* r) {
  std::string key = PersonKey(c, *r);
  Answer a;
  if (!Find(balances_, key, &a)) {
    a.sqlcode = GetBalances(c, r);
    if (!Answered(a.sqlcode)) return a.sqlcode;
    a.texts.assign(r->balance.begin(), r->balance.end());
    Keep(&balances_, key, a);
    return a.sqlcode;
  }
  std::copy(a.texts.begin(), a.texts.end(), r->balance.begin());
  return a.sqlcode;
}

int SharedAnswers::Vacation(Connection& c, BadgeRecord* r) {
  std::string key = PersonKey(c, *r);
  Answer a;
  if (!Find(vacation_, key, &a)) {
    bool answered = false;
    a.sqlcode = GetVacation(c, r, &answered);
    if (!answered) return a.sqlcode;
    a.texts.assign(r->vacation.begin(), r->vacation.end());
    Keep(&vacation_, key, a);
    return a.sqlcode;
  }
  std::copy(a.texts.begin(), a.texts.end(), r->vacation.begin());
  return a.sqlcode;
}

int SharedAnswers::PersonSprSal(Connection& c, BadgeRecord* r) {
  std::string key = PersonKey(c, *r);
  Answer a;
  if (!Find(persons_, key, &a)) {
    a.sqlcode = GetPersonSprSal(c, r);
    if (!Answered(a.sqlcode)) return a.sqlcode;
    if (a.sqlcode == kSqlOk) a.texts = {r->pnr_spr, r->pnr_sal};
    Keep(&persons_, key, a);
    return a.sqlcode;
  }
  if (a.sqlcode == kSqlOk) {
    r->pnr_spr = a.texts[0];
    r->pnr_sal = a.texts[1];
  }
  return a.sqlcode;
}

int SharedAnswers::LocationShortText(Connection& c, BadgeRecord* r) {
  // The location tables are central: the badge number alone is the key.
  const std::string& key = r->badge_number;
  Answer a;
  if (!Find(locations_, key, &a)) {
    a.sqlcode = GetLocationShortText(c, r);
    if (!Answered(a.sqlcode)) return a.sqlcode;
    if (a.sqlcode == kSqlOk) a.texts = {r->location_short};
    Keep(&locations_, key, a);
    return a.sqlcode;
  }
  if (a.sqlcode == kSqlOk) r->location_short = a.texts[0];
  return a.sqlcode;
}

LabelSlots SharedAnswers::Labels(Connection& c) {
  {
    std::lock_guard<std::mutex> hold(mu_);
    if (labels_kept_) return labels_;
  }
  LabelSlots slots;
  slots.fill(std::string(13, ' '));
  bool failed = OpenLabelCursor(c) < 0;
  for (std::string& slot : slots) {
    if (FetchLabel(c, &slot) < 0) failed = true;
  }
  CloseLabelCursor(c);
  if (!failed) {
    std::lock_guard<std::mutex> hold(mu_);
    labels_ = slots;
    labels_kept_ = true;
  }
  return slots;
}

int GetBalances(Connection& c, BadgeRecord* r, SharedAnswers* shared) {
  return shared ? shared->Balances(c, r) : GetBalances(c, r);
}
int GetVacation(Connection& c, BadgeRecord* r, SharedAnswers* shared) {
  return shared ? shared->Vacation(c, r) : GetVacation(c, r);
}
int GetPersonSprSal(Connection& c, BadgeRecord* r, SharedAnswers* shared) {
  return shared ? shared->PersonSprSal(c, r) : GetPersonSprSal(c, r);
}
int GetLocationShortText(Connection& c, BadgeRecord* r, SharedAnswers* shared) {
  return shared ? shared->LocationShortText(c, r) : GetLocationShortText(c, r);
}

}  // namespace plom
