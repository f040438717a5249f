// The download functions: one generator per function. A generator walks the
// current badges of one client schema and stores one line per admitted badge
// in the line store under the download file path.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "installation/access_rights.h"
#include "installation/shared_answers.h"
#include "generators/messages.h"
#include "db/runtime.h"
#include "generators/admission.h"
#include "installation/line_store.h"

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

// What a generator works with: the run's connection, where its messages
// go, the scope of the current pass, and the answers kept for the run.
struct RunContext {
  Connection& conn;
  Messages& msg;
  RunScope scope;
  AdmissionCache admission;
  AccessRightCache access_rights;
  // Where the run's lines go.
  LineStore lines;
  // Where the generators hand their lines: the line store, unless another
  // sink is set (it must outlive the context).
  LineSink* sink = &lines;
  // Lines that the line store refused (a failed insert): the download file
  // then lacks them.
  int lines_lost = 0;
  // Lines the line store holds, each with the place in the held messages
  // where its refusal would be said (oldest first).
  struct HeldLine {
    int64_t seq;
    size_t mark;
  };
  std::deque<HeldLine> held_lines;
  // Lines refused after StoreLine had counted them as stored.
  int refused_later = 0;
  // Badge rows fetched by the run's generator passes (all client schemas).
  int badges_read = 0;

  // Answers kept for all runs of a batch (none for a single run), and the
  // kept lookups of the badge row at hand.
  SharedAnswers* shared = nullptr;
  const RowAnswers* kept = nullptr;
  // The access-right answers in use: the batch's when shared, else the run's.
  AccessRightCache* rights = &access_rights;

  // The first failure that ends the run without writing the download file:
  // a cursor that decides which badges go into the file failed, or the line
  // store takes no more lines. Generators stop at once when it is set.
  struct Failure {
    int sqlcode = 0;     // negative once failed
    std::string what;    // what failed (a cursor, the line store)
    std::string reason;  // the backend's message
  };
  Failure failure;
  bool failed() const { return failure.sqlcode != 0; }
  // Records the failure (the first one counts).
  void Fail(int sqlcode, std::string what, std::string reason) {
    if (failed()) return;
    failure = Failure{sqlcode < 0 ? sqlcode : kSqlFailed, std::move(what), std::move(reason)};
  }

  RunContext(Connection& c, Messages& m, bool reuse_answers = true,
             SharedAnswers* shared_answers = nullptr, bool group_lines = true)
      : conn(c),
        msg(m),
        admission(reuse_answers),
        access_rights(reuse_answers),
        lines(c, group_lines),
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
