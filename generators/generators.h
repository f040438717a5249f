// The download functions: one generator per function. A generator walks the
// current badges of one client schema and stores one line per admitted badge
// in the line store under the download file path.
#pragma once

#include <string>

#include "installation/access_rights.h"
#include "generators/messages.h"
#include "db/runtime.h"
#include "generators/admission.h"

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
  // Lines that the line store refused (a failed insert): the download file
  // then lacks them.
  int lines_lost = 0;

  RunContext(Connection& c, Messages& m, bool reuse_answers = true)
      : conn(c), msg(m), admission(reuse_answers), access_rights(reuse_answers) {}
};

// A generator makes one pass for ctx.scope.
using GeneratorFn = void (*)(RunContext& ctx);

void GenerateVQDNL17P(RunContext& ctx);
void GenerateVQDNL31P(RunContext& ctx);
void GenerateVQDNL18P(RunContext& ctx);
void GenerateVQDNL60P(RunContext& ctx);
void GenerateIDSTAMM(RunContext& ctx);

}  // namespace plom
