// Answers that do not depend on the terminal, kept for all runs of a batch:
// the badge rows of each client schema, each person's balances, vacation
// figures and person data, each badge's location short text, the labels,
// and the access-right answers. They are asked once per client schema and
// key, by whichever run needs them first, and handed to every later run as
// the statements would have answered them. Admission answers depend on the
// terminal and stay with each run.
//
// Only complete answers are kept (found, or found none); a lookup that
// failed is not kept, so the next run asks again and meets the failure
// itself.
//
// Thread-safe: the runs of a batch share one SharedAnswers from several
// threads, each on its own connection.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "installation/access_rights.h"
#include "installation/badge_record.h"
#include "installation/balance_queries.h"
#include "db/runtime.h"

namespace plom {

// One kept lookup: empty until the first complete answer is kept; from then
// on it holds the sqlcode and what the lookup wrote into the record. One
// run at a time asks: the others wait for its answer instead of asking too.
class KeptAnswer {
 public:
  // Either the kept answer (returns true with its sqlcode and texts), or the
  // turn to ask (returns false): the caller then asks and ends its turn with
  // Keep or Release. Waits while another caller has the turn.
  bool GetOrClaim(int* sqlcode, std::string* packed);
  // Keeps the answer of the caller's turn.
  void Keep(int sqlcode, std::string packed);
  // Ends the caller's turn without an answer (the lookup failed): the next
  // caller asks again.
  void Release();

 private:
  enum State : uint8_t { kEmpty, kAsking, kKept };
  std::atomic<uint8_t> state_{kEmpty};
  int sqlcode_ = 0;
  std::string packed_;
};

// The kept lookups of one badge row: its person's and its badge's.
struct RowAnswers {
  KeptAnswer* balances = nullptr;
  KeptAnswer* vacation = nullptr;
  KeptAnswer* person = nullptr;
  KeptAnswer* location = nullptr;
};

// The badge rows of one client schema as the badge cursor delivered them,
// with the kept lookups of each row.
class SchemaBadges {
 public:
  SchemaBadges();
  ~SchemaBadges();
  // Adds a row as the badge cursor delivered it, packed at once (a
  // client's rows are kept once, not first as records and then packed).
  void Add(const BadgeRecord& r);
  // Sets up the kept lookups of the rows added; no row is added after.
  void Finish();
  size_t size() const { return rows_.size(); }
  // Row i into a record (every field as FetchBadge left it).
  void Get(size_t i, BadgeRecord* r) const;
  const RowAnswers& answers(size_t i) const { return answers_[i]; }

 private:
  std::vector<std::string> rows_;  // each record's fields, packed
  std::vector<RowAnswers> answers_;
  // While rows are added: the person and the badge number of each row, as
  // an index per distinct key in order of first appearance.
  struct Keys;
  std::unique_ptr<Keys> keys_;
  // One per person (personnel number) and per badge number of the schema.
  std::unique_ptr<KeptAnswer[]> persons_[3];  // balances, vacation, person data
  std::unique_ptr<KeptAnswer[]> badges_;      // location short text
};

class SharedAnswers {
 public:
  SharedAnswers() = default;
  SharedAnswers(const SharedAnswers&) = delete;
  SharedAnswers& operator=(const SharedAnswers&) = delete;

  // The badge cursor's rows of the client schema. The first caller reads
  // them on its connection while later callers of the same schema wait.
  // Ok when all rows are read and kept; a failure of the cursor is this
  // caller's alone (nothing is kept, the next caller reads again).
  Status GetBadgeRows(Connection& c, const std::string& schema,
                      std::shared_ptr<const SchemaBadges>* rows);

  // The labels 301 to 308 (see ReadLabels) in slots pre-filled with
  // blanks, read once.
  Status Labels(Connection& c, LabelSlots* slots);

  // Access-right answers for ResolveAccessClass.
  AccessRightCache* access_rights() { return &access_rights_; }

 private:
  struct Entry {
    std::mutex mu;
    std::shared_ptr<const SchemaBadges> rows;  // set once kept
  };

  std::mutex mu_;
  std::unordered_map<std::string, std::shared_ptr<Entry>> schemas_;
  bool labels_kept_ = false;
  LabelSlots labels_;
  AccessRightCache access_rights_;
};

// As GetBalances, GetVacation, GetPersonSprSal and GetLocationShortText,
// answered from the badge row's kept lookups when kept is given (and
// keeping the answer when it is the first), asked directly otherwise.
// The schema is the one whose badge rows the kept lookups belong to.
Status GetBalances(Connection& c, BadgeRecord* r, const RowAnswers* kept);
Status GetVacation(Connection& c, const std::string& schema, BadgeRecord* r,
                   const RowAnswers* kept);
Status GetPersonSprSal(Connection& c, const std::string& schema, BadgeRecord* r,
                       const RowAnswers* kept);
Status GetLocationShortText(Connection& c, BadgeRecord* r, const RowAnswers* kept);

}  // namespace plom
