#include "installation/shared_answers.h"

#include <thread>

#include "installation/badge_queries.h"
#include "installation/balance_queries.h"

namespace plom {
namespace {

// Every text field of the badge record, in a fixed order.
constexpr size_t kRecordFields = 16 + 8 + 5 + 11;
static_assert(sizeof(BadgeRecord) == kRecordFields * sizeof(std::string),
              "a field added to BadgeRecord must be added to RecordFields");

template <class Record, class Fn>
void RecordFields(Record& r, Fn fn) {
  for (auto* f :
       {&r.badge_number, &r.valid_from, &r.valid_to, &r.time_flag, &r.access_flag, &r.pnr_sal,
        &r.pnr_spr, &r.access_class, &r.location_short, &r.location_number, &r.badge_group,
        &r.personnel_number, &r.unfilled, &r.asw_atp, &r.cost_centre, &r.department}) {
    fn(*f);
  }
  for (auto& f : r.balance) fn(f);
  for (auto& f : r.vacation) fn(f);
  for (auto& f : r.reader_slot) fn(f);
}

// Texts packed into one string: each as two length bytes and its bytes.
void PackText(const std::string& text, std::string* packed) {
  size_t n = text.size() > 0xFFFF ? 0xFFFF : text.size();
  packed->push_back(static_cast<char>(n & 0xFF));
  packed->push_back(static_cast<char>(n >> 8));
  packed->append(text, 0, n);
}

void UnpackText(const std::string& packed, size_t* at, std::string* text) {
  if (*at + 2 > packed.size()) {
    text->clear();
    return;
  }
  size_t n = static_cast<unsigned char>(packed[*at]) |
             static_cast<size_t>(static_cast<unsigned char>(packed[*at + 1])) << 8;
  text->assign(packed, *at + 2, n);
  *at += 2 + n;
}

template <class Texts>
std::string Pack(const Texts& texts) {
  std::string packed;
  for (const std::string& t : texts) PackText(t, &packed);
  return packed;
}

template <class Texts>
void Unpack(const std::string& packed, Texts* texts) {
  size_t at = 0;
  for (std::string& t : *texts) UnpackText(packed, &at, &t);
}

// A lookup through its kept answer: the kept texts when there are, else
// the lookup itself, whose answer (a row, or none) is then kept.
template <class Ask, class Put, class Take>
Status ThroughKept(KeptAnswer* kept, Ask ask, Put put, Take take) {
  int sqlcode = 0;
  std::string packed;
  if (kept->GetOrClaim(&sqlcode, &packed)) {
    put(sqlcode, packed);
    return sqlcode == kSqlOk ? Status::Ok() : Status(sqlcode, Outcome::kNoRow);
  }
  Status s = ask();
  if (s.answered()) {
    kept->Keep(s.sqlcode(), take(s.sqlcode()));
  } else {
    kept->Release();
  }
  return s;
}

}  // namespace

bool KeptAnswer::GetOrClaim(int* sqlcode, std::string* packed) {
  for (;;) {
    uint8_t state = state_.load(std::memory_order_acquire);
    if (state == kKept) {
      *sqlcode = sqlcode_;
      *packed = packed_;
      return true;
    }
    if (state == kEmpty &&
        state_.compare_exchange_weak(state, kAsking, std::memory_order_acq_rel)) {
      return false;
    }
    // Another run is asking: its answer comes within one statement.
    if (state == kAsking) std::this_thread::yield();
  }
}

void KeptAnswer::Keep(int sqlcode, std::string packed) {
  sqlcode_ = sqlcode;
  packed_ = std::move(packed);
  state_.store(kKept, std::memory_order_release);
}

void KeptAnswer::Release() { state_.store(kEmpty, std::memory_order_release); }

struct SchemaBadges::Keys {
  // An index per distinct key, in order of first appearance.
  struct Index {
    std::unordered_map<std::string, size_t> seen;
    std::vector<size_t> of_row;
    void Add(const std::string& key) {
      of_row.push_back(seen.emplace(key, seen.size()).first->second);
    }
  };
  Index persons, badges;
};

SchemaBadges::SchemaBadges() : keys_(std::make_unique<Keys>()) {}

SchemaBadges::~SchemaBadges() = default;

void SchemaBadges::Add(const BadgeRecord& r) {
  std::string packed;
  RecordFields(r, [&](const std::string& f) { PackText(f, &packed); });
  rows_.push_back(std::move(packed));
  keys_->persons.Add(r.personnel_number);
  keys_->badges.Add(r.badge_number);
}

void SchemaBadges::Finish() {
  if (!keys_) return;
  const Keys::Index& person = keys_->persons;
  const Keys::Index& badge = keys_->badges;
  for (auto& p : persons_) p = std::make_unique<KeptAnswer[]>(person.seen.size());
  badges_ = std::make_unique<KeptAnswer[]>(badge.seen.size());
  answers_.resize(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) {
    size_t pi = person.of_row[i], bi = badge.of_row[i];
    answers_[i] = {&persons_[0][pi], &persons_[1][pi], &persons_[2][pi], &badges_[bi]};
  }
  keys_.reset();
}

void SchemaBadges::Get(size_t i, BadgeRecord* r) const {
  size_t at = 0;
  RecordFields(*r, [&](std::string& f) { UnpackText(rows_[i], &at, &f); });
}

Status SharedAnswers::GetBadgeRows(Connection& c, const std::string& schema,
                                   std::shared_ptr<const SchemaBadges>* rows) {
  std::shared_ptr<Entry> entry;
  {
    std::lock_guard<std::mutex> hold(mu_);
    auto& e = schemas_[schema];
    if (!e) e = std::make_shared<Entry>();
    entry = e;
  }
  // Held while the rows are read: the other runs of the schema wait for them.
  std::lock_guard<std::mutex> hold(entry->mu);
  if (entry->rows) {
    *rows = entry->rows;
    return Status::Ok();
  }
  auto read = std::make_shared<SchemaBadges>();
  BadgeRecord r;
  Status s = OpenBadgeCursor(c, schema);
  while (s.ok() && (s = FetchBadge(c, &r)).ok()) {
    read->Add(r);
    r.Clear();
  }
  CloseBadgeCursor(c);
  if (!s.no_row()) return s;
  read->Finish();
  *rows = std::move(read);
  entry->rows = *rows;
  return Status::Ok();
}

Status SharedAnswers::Labels(Connection& c, LabelSlots* slots) {
  {
    std::lock_guard<std::mutex> hold(mu_);
    if (labels_kept_) {
      *slots = labels_;
      return Status::Ok();
    }
  }
  slots->fill(std::string(13, ' '));
  Status s = ReadLabels(c, slots);
  if (s.ok()) {
    std::lock_guard<std::mutex> hold(mu_);
    labels_ = *slots;
    labels_kept_ = true;
  }
  return s;
}

Status GetBalances(Connection& c, BadgeRecord* r, const RowAnswers* kept) {
  if (kept == nullptr) return GetBalances(c, r);
  return ThroughKept(
      kept->balances, [&] { return GetBalances(c, r); },
      [&](int, const std::string& packed) { Unpack(packed, &r->balance); },
      [&](int) { return Pack(r->balance); });
}

Status GetVacation(Connection& c, const std::string& schema, BadgeRecord* r,
                   const RowAnswers* kept) {
  if (kept == nullptr) return GetVacation(c, schema, r);
  return ThroughKept(
      kept->vacation, [&] { return GetVacation(c, schema, r); },
      [&](int, const std::string& packed) { Unpack(packed, &r->vacation); },
      [&](int) { return Pack(r->vacation); });
}

Status GetPersonSprSal(Connection& c, const std::string& schema, BadgeRecord* r,
                       const RowAnswers* kept) {
  if (kept == nullptr) return GetPersonSprSal(c, schema, r);
  return ThroughKept(
      kept->person, [&] { return GetPersonSprSal(c, schema, r); },
      // Without a row the fields stay as they were.
      [&](int rc, const std::string& packed) {
        if (rc != kSqlOk) return;
        std::array<std::string*, 2> f = {&r->pnr_spr, &r->pnr_sal};
        size_t at = 0;
        for (std::string* t : f) UnpackText(packed, &at, t);
      },
      [&](int rc) {
        return rc == kSqlOk ? Pack(std::array<std::string, 2>{r->pnr_spr, r->pnr_sal})
                            : std::string();
      });
}

Status GetLocationShortText(Connection& c, BadgeRecord* r, const RowAnswers* kept) {
  if (kept == nullptr) return GetLocationShortText(c, r);
  return ThroughKept(
      kept->location, [&] { return GetLocationShortText(c, r); },
      [&](int rc, const std::string& packed) {
        size_t at = 0;
        if (rc == kSqlOk) UnpackText(packed, &at, &r->location_short);
      },
      [&](int rc) {
        return rc == kSqlOk ? Pack(std::array<std::string, 1>{r->location_short}) : std::string();
      });
}

}  // namespace plom
