#include "installation/bulk_answers.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "installation/access_rights.h"
#include "installation/badge_queries.h"
#include "installation/balance_queries.h"
#include "installation/statements.h"

namespace plom {
namespace {

// Widths (including the terminator) as the badge cursor and the per-badge
// lookups bind them.
constexpr size_t kSchemaWidth = 21;
constexpr size_t kBadgeNumberWidth = 51;
constexpr size_t kPnrWidth = 9;
constexpr size_t kPnrSalWidth = 11;
constexpr size_t kPnrSprWidth = 15;
constexpr size_t kShortTextWidth = 11;
constexpr size_t kLocationShortLen = 3;

struct PersonAnswer {
  int32_t spr = 0;
  std::string sal;
  bool operator==(const PersonAnswer&) const = default;
};
struct YearAnswer {
  double gur = 0, vjr = 0;
  bool operator==(const YearAnswer&) const = default;
};
struct DayAnswer {
  double vtg = 0, rtg = 0, gut = 0;
  bool operator==(const DayAnswer&) const = default;
};

// The heap memory of a text beyond what its object holds.
size_t HeapOf(const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 : 0; }
size_t HeapOf(const PersonAnswer& p) { return HeapOf(p.sal); }
template <class V>
size_t HeapOf(const V&) {
  return 0;
}

enum State : uint8_t { kUnread, kKept, kPerBadge };

// One key's answer. A key with rows of different answers is asked by its
// own statement: which of them that answers is the database's choice.
template <class V>
struct Answer {
  V value;
  bool ask = false;
};

// The answers of one table of one schema.
template <class V>
struct Table {
  std::mutex mu;  // held while the table is read
  std::atomic<uint8_t> state{kUnread};
  std::unordered_map<std::string, Answer<V>> by_key;
  size_t bytes = 0;

  // The kept answer of the key: null for none; *ask when the key is to be
  // asked by its own statement.
  const V* Find(const std::string& key, bool* ask) const {
    auto it = by_key.find(key);
    *ask = it != by_key.end() && it->second.ask;
    return it == by_key.end() ? nullptr : &it->second.value;
  }
};

// The key as the badge cursor reads it, when the database compares it the
// same way: only blanks cut from its end.
bool KeyAsBound(const Row& row, size_t width, std::string* key) {
  const Value& v = Column(row, 0);
  *key = ColumnText(row, 0, width);
  std::string_view raw = v.type == Value::Type::kText ? std::string_view(v.s) : *key;
  while (!raw.empty() && raw.back() == ' ') raw.remove_suffix(1);
  return raw == *key;
}

}  // namespace

struct BulkAnswers::Schema {
  Table<std::array<int32_t, 8>> balances;
  Table<PersonAnswer> person;
  Table<std::string> location;
  Table<YearAnswer> year;
  Table<DayAnswer> day;
};

namespace {

// Reads the table's answers for the schema, once: ok when they are kept or
// the badges are to ask their own statements; the statement's failure
// otherwise.
template <class V, class Parse>
Status Load(Table<V>& t, Connection& c, const std::string& schema, const Statement& st,
            const char* table, size_t key_width, Parse parse, std::atomic<size_t>* total,
            size_t bound, const char* what) {
  if (t.state.load(std::memory_order_acquire) != kUnread) return Status::Ok();
  std::lock_guard<std::mutex> hold(t.mu);
  if (t.state.load(std::memory_order_acquire) != kUnread) return Status::Ok();
  if (!IsValidSchemaName(schema)) {
    return Status(kInvalidSchema, Outcome::kFailed, "invalid client schema").At(what);
  }
  std::string text = BuildStatement(st.text, schema + table);
  std::unordered_map<std::string, Answer<V>> by_key;
  size_t bytes = 0;
  bool per_badge = false;
  std::string key;
  c.ForEachRow(st.no, text, {Param::Text(Cut(schema, kSchemaWidth - 1), kSchemaWidth - 1)},
               [&](const Row& row) {
                 if (!KeyAsBound(row, key_width, &key)) {
                   per_badge = true;
                   return false;
                 }
                 if (key.empty()) return true;  // such a badge asks its own statement
                 auto [it, fresh] = by_key.try_emplace(key);
                 if (!fresh) {  // a badge row more of the key, or a row more of the table
                   if (!(it->second.value == parse(row))) it->second.ask = true;
                   return true;
                 }
                 it->second.value = parse(row);
                 bytes += sizeof(*it) + 3 * sizeof(void*) + HeapOf(it->first) +
                          HeapOf(it->second.value);
                 if (total->load() + bytes > bound) {
                   per_badge = true;
                   return false;
                 }
                 return true;
               });
  Status s = c.status();
  if (!s.answered() && !s.bad_value()) return s.At(what);
  if (per_badge || s.bad_value()) {
    t.state.store(kPerBadge, std::memory_order_release);
    return Status::Ok();
  }
  *total += bytes;
  t.bytes = bytes;
  t.by_key = std::move(by_key);
  t.state.store(kKept, std::memory_order_release);
  return Status::Ok();
}

template <class V>
bool Kept(const Table<V>& t) {
  return t.state.load(std::memory_order_acquire) == kKept;
}

}  // namespace

BulkAnswers::BulkAnswers(size_t memory_bound) : memory_bound_(memory_bound) {}
BulkAnswers::~BulkAnswers() = default;

BulkAnswers::Schema* BulkAnswers::Of(const std::string& schema) {
  std::lock_guard<std::mutex> hold(mu_);
  auto& s = schemas_[schema];
  if (!s) s = std::make_unique<Schema>();
  return s.get();
}

void BulkAnswers::Forget(const std::string& schema) {
  std::unique_ptr<Schema> gone;
  std::lock_guard<std::mutex> hold(mu_);
  auto it = schemas_.find(schema);
  if (it == schemas_.end()) return;
  gone = std::move(it->second);
  schemas_.erase(it);
  bytes_ -= gone->balances.bytes + gone->person.bytes + gone->location.bytes + gone->year.bytes +
            gone->day.bytes;
}

Status BulkAnswers::Balances(Connection& c, const std::string& schema, BadgeRecord* r) {
  auto& t = Of(schema)->balances;
  Status s = Load(
      t, c, schema, stmt::kBulkBalances, "", kPnrWidth,
      [](const Row& row) {
        std::array<int32_t, 8> v;
        for (size_t i = 0; i < 8; ++i) v[i] = ColumnInt(row, i + 1);
        return v;
      },
      &bytes_, memory_bound_, "Zrt320Tgb");
  if (!s.ok()) return s;
  bool ask = !Kept(t) || r->personnel_number.empty();
  const auto* v = ask ? nullptr : t.Find(r->personnel_number, &ask);
  if (ask) return GetBalances(c, r);
  for (size_t i = 0; i < 8; ++i) r->balance[i] = BalanceText(v ? (*v)[i] : 0);
  return v ? Status::Ok() : Status::NoRow().At("Zrt320Tgb");
}

Status BulkAnswers::Person(Connection& c, const std::string& schema, BadgeRecord* r) {
  auto& t = Of(schema)->person;
  Status s = Load(
      t, c, schema, stmt::kBulkPerson, ".Zrt300Pnr ", kPnrWidth,
      [](const Row& row) { return PersonAnswer{ColumnInt(row, 1), ColumnText(row, 2, kPnrSalWidth)}; },
      &bytes_, memory_bound_, "Zrt300Pnr");
  if (!s.ok()) return s;
  bool ask = !Kept(t) || r->personnel_number.empty();
  const PersonAnswer* p = ask ? nullptr : t.Find(r->personnel_number, &ask);
  if (ask) return GetPersonSprSal(c, schema, r);
  if (p == nullptr) return Status::NoRow().At("Zrt300Pnr");
  r->pnr_spr = Cut(std::to_string(p->spr), kPnrSprWidth - 1);
  r->pnr_sal = p->sal;
  return Status::Ok();
}

Status BulkAnswers::LocationShortText(Connection& c, const std::string& schema, BadgeRecord* r) {
  auto& t = Of(schema)->location;
  Status s = Load(
      t, c, schema, stmt::kBulkLocationText, "", kBadgeNumberWidth,
      [](const Row& row) { return Cut(ColumnText(row, 1, kShortTextWidth), kLocationShortLen); },
      &bytes_, memory_bound_, "Zrt113Sto");
  if (!s.ok()) return s;
  bool ask = !Kept(t) || r->badge_number.empty();
  const std::string* text = ask ? nullptr : t.Find(r->badge_number, &ask);
  if (ask) return GetLocationShortText(c, r);
  if (text == nullptr) return Status::NoRow().At("Zrt113Sto");
  r->location_short = *text;
  return Status::Ok();
}

Status BulkAnswers::Vacation(Connection& c, const std::string& schema, BadgeRecord* r) {
  Schema* sch = Of(schema);
  Status s = Load(
      sch->year, c, schema, stmt::kBulkYearAccount, ".Zrt332Urv ", kPnrWidth,
      [](const Row& row) { return YearAnswer{Column(row, 1).Real(), Column(row, 2).Real()}; },
      &bytes_, memory_bound_, "Zrt332Urv");
  if (!s.ok()) return s;
  s = Load(
      sch->day, c, schema, stmt::kBulkDayRecord, ".Zrt332Utg ", kPnrWidth,
      [](const Row& row) {
        return DayAnswer{Column(row, 2).Real(), Column(row, 3).Real(), Column(row, 4).Real()};
      },
      &bytes_, memory_bound_, "Zrt332Utg");
  if (!s.ok()) return s;
  bool ask = !Kept(sch->year) || !Kept(sch->day) || r->personnel_number.empty();
  bool ask_day = false;
  const YearAnswer* year = ask ? nullptr : sch->year.Find(r->personnel_number, &ask);
  const DayAnswer* day = ask ? nullptr : sch->day.Find(r->personnel_number, &ask_day);
  if (ask || ask_day) return GetVacation(c, schema, r);
  YearAnswer y = year ? *year : YearAnswer{};
  DayAnswer d = day ? *day : DayAnswer{};
  r->vacation[0] = VacationText(y.gur);
  r->vacation[1] = VacationText(d.gut);
  r->vacation[2] = VacationText(d.vtg);
  r->vacation[3] = VacationText(d.rtg);
  r->vacation[4] = VacationText(y.vjr);
  int missing = (year ? 0 : kSqlNotFound) + (day ? 0 : kSqlNotFound);
  return missing == 0 ? Status::Ok() : Status(missing, Outcome::kNoRow);
}

size_t AnswerMemoryBound() {
  constexpr size_t kDefaultMb = 32;
  const char* v = std::getenv("PLOMVARDE_ANSWER_MEMORY_MB");
  if (v == nullptr || *v == '\0') return kDefaultMb << 20;
  char* end = nullptr;
  unsigned long long mb = std::strtoull(v, &end, 10);
  if (*end != '\0' || mb > (1ull << 20)) return kDefaultMb << 20;
  return static_cast<size_t>(mb) << 20;
}

}  // namespace plom
