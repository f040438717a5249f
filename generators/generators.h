// The download functions: one generator per function. A generator walks the
// current badges of one client schema and makes one line per admitted badge.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "installation/access_rights.h"
#include "installation/bulk_answers.h"
#include "installation/shared_answers.h"
#include "generators/messages.h"
#include "db/runtime.h"
#include "generators/admission.h"
#include "generators/output.h"

namespace plom {

// What one generator pass is for: the download file path its lines are
// stored under, the terminal, and the client schema whose per-client tables
// the queries read. The schema is a valid name (IsValidSchemaName) when the
// run driver sets it.
struct RunScope {
  std::string path;
  std::string terminal;
  std::string schema;
};

// What a generator works with: the run's connection, the scope of the
// current pass, the answers kept for the run, and where its messages and
// lines go. A generator stores nothing: its lines wait in `out` for the
// driver.
struct RunContext {
  Connection& conn;
  RunScope scope;
  RunOutput out;
  AdmissionCache admission;
  AccessRightCache access_rights;
  // Badge rows fetched by the run's generator passes (all client schemas).
  int badges_read = 0;

  // Answers kept for all runs of a batch (none for a single run), and the
  // kept lookups of the badge row at hand.
  SharedAnswers* shared = nullptr;
  const RowAnswers* kept = nullptr;
  // The per-badge lookups' answers read for a whole client schema (none for
  // the plain statement sequence): the run's own, or the batch's.
  BulkAnswers* bulk = nullptr;
  // The access-right answers in use: the batch's when shared, else the run's.
  AccessRightCache* rights = &access_rights;

  // The first failure that ends the run without writing the download file:
  // the database failed to answer a question of a generator (a cursor, a
  // lookup). Generators stop at once when it is set.
  struct Failure {
    int sqlcode = 0;     // negative once failed
    std::string what;    // what was asked (a cursor, a table)
    std::string reason;  // the backend's message
  };
  Failure failure;
  bool failed() const { return failure.sqlcode != 0; }
  // Records the failure (the first one counts).
  void Fail(int sqlcode, std::string what, std::string reason) {
    if (failed()) return;
    failure = Failure{sqlcode < 0 ? sqlcode : kSqlFailed, std::move(what), std::move(reason)};
  }
  // Whether the lookup answered (a row, none, or a bad value of this row,
  // which the caller handles); records the run's failure when the database
  // failed.
  bool Answered(const Status& s) {
    if (!s.failed()) return true;
    Fail(s.sqlcode(), s.what(), s.reason());
    return false;
  }

  explicit RunContext(Connection& c, bool reuse_answers = true,
                      SharedAnswers* shared_answers = nullptr)
      : conn(c),
        admission(reuse_answers),
        access_rights(reuse_answers),
        shared(shared_answers),
        rights(shared_answers ? shared_answers->access_rights() : &access_rights) {}
};

// A generator makes one pass for ctx.scope.
using GeneratorFn = void (*)(RunContext& ctx);

void GenerateVQDNL17P(RunContext& ctx);
void GenerateVQDNL31P(RunContext& ctx);
void GenerateVQDNL18P(RunContext& ctx);
void GenerateVQDNL60P(RunContext& ctx);
void GenerateIDSTAMM(RunContext& ctx);

}  // namespace plom
