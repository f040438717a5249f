// Removing the line store rows of download files that a plan no longer has.
#pragma once

#include <vector>

#include "driver/batch.h"
#include "driver/run.h"
#include "generators/messages.h"

namespace plom {

// Lists the paths whose lines the line store keeps although no run of the
// plan writes them (compared as the database compares the paths: trailing
// blanks and case do not count), then, unless dry_run, deletes their lines,
// each under the path's line store lock; a path whose lock another run
// holds keeps its lines and is named. Connects as a run does
// (options.config_path). Returns kExitOk, kExitUnavailable when the
// database failed, kExitLocked when a path was kept for its lock.
int PruneLineStore(const std::vector<PlanRun>& plan, const RunOptions& options, bool dry_run,
                   Messages& msg);

}  // namespace plom
