// The answers of the per-badge lookups for a whole client schema, read
// before the badges ask them: one statement per table (balances, person
// data, location short texts, yearly vacation accounts, latest vacation day
// records), kept in memory by key and handed out as the per-badge statement
// would have answered: the same texts, "no row" where it finds none.
//
// A table is read when the first badge of the schema asks it. Its answers
// are not kept, and the schema's badges ask their own statements instead,
// when
// - they would take more memory than the bound;
// - a value of a row does not fit (the per-badge statement then answers
//   that person's lookup with its own bad value, and that person's message);
// - a key reads otherwise than the badge binds it (longer than the width
//   bound, or with trailing characters that the database compares).
// A badge with an empty key always asks its own statement (the database
// matches an empty key where the schema's table has a NULL).
//
// A table whose statement failed is not kept: the failure is the caller's,
// and the next caller reads again.
//
// Thread-safe: the runs of a batch share one.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "installation/badge_record.h"
#include "db/runtime.h"

namespace plom {

class BulkAnswers {
 public:
  // Answers of more than memory_bound bytes (all schemas, all tables
  // together) are not kept.
  explicit BulkAnswers(size_t memory_bound);
  ~BulkAnswers();
  BulkAnswers(const BulkAnswers&) = delete;
  BulkAnswers& operator=(const BulkAnswers&) = delete;

  // As GetBalances, GetPersonSprSal, GetLocationShortText and GetVacation
  // for the badge of that client schema.
  Status Balances(Connection& c, const std::string& schema, BadgeRecord* r);
  Status Person(Connection& c, const std::string& schema, BadgeRecord* r);
  Status LocationShortText(Connection& c, const std::string& schema, BadgeRecord* r);
  Status Vacation(Connection& c, const std::string& schema, BadgeRecord* r);

  // The memory the kept answers take (estimated from their sizes).
  size_t bytes() const { return bytes_.load(); }
  // Drops the schema's answers (a run is done with the schema).
  void Forget(const std::string& schema);

  struct Schema;

 private:
  Schema* Of(const std::string& schema);

  const size_t memory_bound_;
  std::atomic<size_t> bytes_{0};
  std::mutex mu_;
  std::unordered_map<std::string, std::unique_ptr<Schema>> schemas_;
};

// The bound on the answers of one run: PLOMVARDE_ANSWER_MEMORY_MB when set to
// a whole number of megabytes, else 32 MB.
size_t AnswerMemoryBound();

}  // namespace plom
