// plomvarde-batch: the runs of a whole site from one plan, several at a
// time, each run with its own connection and under the rules of a single
// run of the tool (lock, line store, write-out, exit status).
//
// A plan holds one run per line: FUNCTION TERMINAL FILE NEW, separated by
// blanks or tabs. "#" starts a comment; blank lines are ignored.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "driver/run.h"

namespace plom {

// One run of a plan and the line it stands on (counted from 1).
struct PlanRun {
  int line = 0;
  std::vector<std::string> args;  // the four fields as written
  RunParams params;
};

// Reads a plan's text. Every line that is not a valid run (unknown
// function, too few or too many fields, a field beyond its width, a file
// named twice) adds one message "Zeile N: ..." to *refusals. Returns true
// when the plan holds at least one run and nothing was refused.
bool ParsePlan(const std::string& text, std::vector<PlanRun>* runs,
               std::vector<std::string>* refusals);

// What happened to one run of the plan.
struct RunOutcome {
  PlanRun run;
  RunFigures figures;
  std::string messages;  // what the run printed (Windows-1252)
  std::map<std::string, int> kinds;  // messages per kind (see Messages::kinds)
  bool ran = false;                  // false: not started, the batch was asked to stop
};

struct BatchOptions {
  RunOptions run;  // configuration, lock wait, guard, dry run
  int jobs = 1;    // runs at the same time
  // Share what does not depend on the terminal between the runs (badge
  // rows, balances, vacation, person data, location texts, labels, access
  // rights): asked once per client schema and key.
  bool share = true;
  FILE* out = stdout;        // message blocks and the summary table
  FILE* report = nullptr;    // JSON Lines, one object per run and one for the batch
  bool report_messages = false;  // each run's messages in full in its report object
  FILE* progress = nullptr;  // the updating progress line (a terminal), or none
};

// The order in which a batch starts the runs of the plan (indexes into
// it): the first run of each function before any second one, as they ask
// the answers the later runs find kept; among each, the functions in an
// order that lets the runs started side by side ask different answers;
// plan order among equals.
std::vector<size_t> StartOrder(const std::vector<PlanRun>& plan);

// Asks a running batch to start no further run (the runs under way end as
// they would). Safe to call from any thread.
void StopBatch(int signal);
// The signal that stopped the batch, 0 when none did.
int BatchStopSignal();

// Runs the plan. Each run's messages are printed as one block after a
// header line naming it, in plan order as soon as the runs before it are
// done; then the summary table. Returns the highest status of any run
// (128 + the signal when StopBatch was called).
int RunBatch(const std::vector<PlanRun>& plan, const BatchOptions& options,
             std::vector<RunOutcome>* outcomes = nullptr);

// The program: plomvarde-batch [OPTIONS] PLAN (program name excluded).
int BatchMain(const std::vector<std::string>& args);

}  // namespace plom
