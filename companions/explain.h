// plomvarde-explain: what a run does with one badge on one terminal, step by
// step, without storing anything.
//
//   plomvarde-explain [--trace] FUNCTION TERMINAL BADGE
//
// Started where plomvarde would be: the same configuration file, the same
// connect, the same client schemas. For each schema the run visits it runs
// the function's generator exactly as the run does, but hands the records
// to the report instead of the line store, and watches the statements on
// the connection. Shown per schema: whether the badge cursor lists the
// badge (and why not), and per listed row the access-class resolution, the
// admission checks, the lookups, the record byte for byte with its columns
// marked, and the messages the run prints for the row. --trace adds every
// statement with its parameters and sqlcode. Printed as UTF-8.
#pragma once

#include <string>
#include <vector>

#include "db/runtime.h"
#include "installation/badge_diagnosis.h"

namespace plom::explain {

// Exit statuses.
constexpr int kExplainOk = 0;            // explained (whether or not a record results)
constexpr int kExplainUsage = 64;        // arguments
constexpr int kExplainUnavailable = 69;  // the connect or a statement failed

// One statement or fetch on the connection, as it ran.
struct Step {
  StatementObserver::Kind kind = StatementObserver::Kind::kExecute;
  int stmt_no = 0;
  std::string text;
  Params params;
  int sqlcode = 0;
  bool has_row = false;
  Row row;          // the row delivered or fetched
  size_t rows = 0;  // Open: rows held by the cursor
};

// One row of the badge cursor that carries the badge, and what the
// generator did with it.
struct ListedRow {
  Row fetched;              // the badge cursor's columns
  std::vector<Step> steps;  // everything run for this row, in order
  // What the run's download file holds for the row (each record exactly
  // as written: fixed layouts padded to the width, IDSTAMM with CR LF).
  std::vector<std::string> records;
  std::string messages;  // what the run prints for the row (Windows-1252)
};

struct SchemaPass {
  std::string schema;
  std::vector<Step> before;  // statements of the pass before the first badge
  std::vector<ListedRow> rows;
  std::vector<Step> after;  // statements of the pass after the last badge
  size_t badges_read = 0;   // rows of the badge cursor, the badge's and others
  std::string announce;     // what the run prints before the pass ("Schema: ...")
};

struct Explanation {
  std::string function;  // in capitals
  std::string terminal;
  std::string badge;      // Windows-1252
  int facts_sqlcode = 0;  // of listing the badge's rows
  std::vector<BadgeRowFacts> facts;
  std::vector<SchemaPass> passes;
  std::vector<Step> outside;  // statements outside the passes (schema cursors)
  // The first statement that failed (negative sqlcode), 0 when none did:
  // the database failed, and what is shown may be incomplete.
  int first_error = 0;
  // The installation knows the terminal neither by a client nor by a reader.
  bool unknown_terminal = false;
  std::string first_error_text;  // the backend's message with it
};

// Runs the function's generator over every client schema the run of the
// terminal visits and records what it does with the badge. Nothing is
// stored: the records go to the explanation. The connection must be open.
Explanation ExplainBadge(Connection& c, const std::string& function, const std::string& terminal,
                         const std::string& badge);

// The report for a person (UTF-8); with trace every statement as well.
std::string Render(const Explanation& e, bool trace);

// The program on its arguments (without the program name); config_path is
// the configuration file the run would read. Returns the exit status.
int RunExplain(const std::vector<std::string>& args, const std::string& config_path,
               std::string* out, std::string* err);

}  // namespace plom::explain
