// The download functions: one generator per function. A generator walks the
// current badges of one client schema and stores one line per admitted badge
// in the line store under the download file path.
#pragma once

#include <string>
#include <vector>

#include "installation/access_rights.h"
#include "installation/shared_answers.h"
#include "generators/messages.h"
#include "db/runtime.h"
#include "generators/admission.h"

namespace plom {

// What a generator works with: the run's connection, where its messages
// go, and the admission answers kept for the run.
struct RunContext {
  Connection& conn;
  Messages& msg;
  AdmissionCache admission;
  AccessRightCache access_rights;
  // Lines that the line store refused (a failed insert): the download file
  // then lacks them.
  int lines_lost = 0;
  // Badge rows fetched by the run's generator passes (all client schemas).
  int badges_read = 0;

  // Answers kept for all runs of a batch (none for a single run), and the
  // kept lookups of the badge row at hand.
  SharedAnswers* shared = nullptr;
  const RowAnswers* kept = nullptr;
  // When set, lines are held here instead of being stored one by one (the
  // driver stores them at once when the generators are done).
  std::vector<std::string>* held_lines = nullptr;
  // The access-right answers in use: the batch's when shared, else the run's.
  AccessRightCache* rights = &access_rights;

  RunContext(Connection& c, Messages& m, bool reuse_answers = true,
             SharedAnswers* shared_answers = nullptr)
      : conn(c), msg(m), admission(reuse_answers), access_rights(reuse_answers),
        shared(shared_answers),
        rights(shared_answers ? shared_answers->access_rights() : &access_rights) {}
};

using GeneratorFn = void (*)(RunContext& ctx, const std::string& path,
                             const std::string& terminal, const std::string& schema);

void GenerateVQDNL17P(RunContext& ctx, const std::string& path, const std::string& terminal,
                      const std::string& schema);
void GenerateVQDNL31P(RunContext& ctx, const std::string& path, const std::string& terminal,
                      const std::string& schema);
void GenerateVQDNL18P(RunContext& ctx, const std::string& path, const std::string& terminal,
                      const std::string& schema);
void GenerateVQDNL60P(RunContext& ctx, const std::string& path, const std::string& terminal,
                      const std::string& schema);
void GenerateIDSTAMM(RunContext& ctx, const std::string& path, const std::string& terminal,
                     const std::string& schema);

}  // namespace plom
