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
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "installation/access_rights.h"
#include "installation/badge_record.h"
#include "db/runtime.h"

namespace plom {

constexpr size_t kLabelSlots = 8;
using LabelSlots = std::array<std::string, kLabelSlots>;

class SharedAnswers {
 public:
  SharedAnswers() = default;
  SharedAnswers(const SharedAnswers&) = delete;
  SharedAnswers& operator=(const SharedAnswers&) = delete;

  using BadgeRows = std::vector<BadgeRecord>;

  // The badge cursor's rows of the client schema, each as FetchBadge fills
  // a cleared record. The first caller reads them on its connection while
  // later callers of the same schema wait. Returns the sqlcode that ended
  // the fetches (100: all rows read and kept); after an error, *rows holds
  // the rows fetched before it, for this caller alone.
  int GetBadgeRows(Connection& c, const std::string& schema,
                   std::shared_ptr<const BadgeRows>* rows);

  // As GetBalances, GetVacation, GetPersonSprSal and GetLocationShortText
  // on the current schema of c, answered from what is kept when the same
  // person (badge) of the same client schema was asked before.
  int Balances(Connection& c, BadgeRecord* r);
  int Vacation(Connection& c, BadgeRecord* r);
  int PersonSprSal(Connection& c, BadgeRecord* r);
  int LocationShortText(Connection& c, BadgeRecord* r);

  // The labels 301 to 308 in slots pre-filled with blanks, read once.
  LabelSlots Labels(Connection& c);

  // Access-right answers for ResolveAccessClass.
  AccessRightCache* access_rights() { return &access_rights_; }

 private:
  struct BadgeEntry {
    std::mutex mu;
    bool kept = false;
    std::shared_ptr<const BadgeRows> rows;
  };
  // What a lookup wrote into the record, and its sqlcode.
  struct Answer {
    int sqlcode = 0;
    std::vector<std::string> texts;
  };
  using Answers = std::unordered_map<std::string, Answer>;

  bool Find(const Answers& answers, const std::string& key, Answer* out);
  void Keep(Answers* answers, const std::string& key, Answer answer);

  std::mutex mu_;  // guards everything below but the entries' own rows
  std::unordered_map<std::string, std::shared_ptr<BadgeEntry>> badges_;
  Answers balances_, vacation_, persons_, locations_;
  bool labels_kept_ = false;
  LabelSlots labels_;
  AccessRightCache access_rights_;
};

// Calls that use the kept answers when shared is given, and ask the
// database directly otherwise.
int GetBalances(Connection& c, BadgeRecord* r, SharedAnswers* shared);
int GetVacation(Connection& c, BadgeRecord* r, SharedAnswers* shared);
int GetPersonSprSal(Connection& c, BadgeRecord* r, SharedAnswers* shared);
int GetLocationShortText(Connection& c, BadgeRecord* r, SharedAnswers* shared);

}  // namespace plom
