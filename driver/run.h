// One run of the tool: the download file of one terminal for one download
// function.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "generators/messages.h"
#include "generators/generators.h"

namespace plom {

// Exit status of a run.
enum ExitStatus {
  kExitOk = 0,            // the download file was written with every line
  kExitLinesLost = 1,     // written, but lines were lost (a failed insert)
  kExitUsage = 64,        // too few arguments, unknown function, argument too long
  kExitGuarded = 65,      // the new content held too few records: old file kept,
                          // the new content beside it as FILE.rejected
  kExitUnavailable = 69,  // the database failed (connect, line store, a cursor); file untouched
  kExitCantWrite = 73,    // the download file (or standard output) could not be written
  kExitLocked = 75,       // another run holds the same download file, or no lock could be taken
};

// A download function: its generator and record width (0: unpadded lines).
struct DownloadFunction {
  const char* name;
  GeneratorFn generate;
  int width;
};

// The function of that name (already in capitals), or nullptr.
const DownloadFunction* FindDownloadFunction(const std::string& name);

constexpr size_t kGuardMinRecords = 20;
constexpr int kDefaultGuardPct = 10;

struct RunOptions {
  // The configuration file ("..\..\files\korvantis.ini" on this host).
  std::string config_path;
  // How long to wait for another run of the same download file.
  int lock_wait_ms = 120000;
  // Reuse admission answers within the run; store the lines in groups
  // (else one per transaction: the plain statement sequence).
  bool reuse_answers = true;
  bool group_lines = true;
  // When set, receives the number of statements the run sent to the
  // database (for measuring).
  int64_t* statements_sent = nullptr;
  // When set, receives the number of round trips to the database server.
  int64_t* round_trips = nullptr;
  // The guard against a file emptied by a database that suddenly answers
  // with almost no badges: a run that would replace a file of at least
  // guard_min records with one of fewer than guard_pct per cent of that
  // count keeps the old file (kExitGuarded). 0: no guard.
  int guard_pct = 0;
  size_t guard_min = kGuardMinRecords;
  // Writes FILE.new instead of the download file and tells how many
  // records would be added, removed and changed.
  bool dry_run = false;
  // Answers kept for all runs of a batch (see installation/shared_answers.h);
  // none for a single run.
  SharedAnswers* shared = nullptr;
  // The per-badge lookups' answers read for a whole client schema at once
  // (see installation/bulk_answers.h), when answers are reused: shared by
  // the runs of a batch when set, else read by the run for each schema and
  // dropped after it, up to answer_memory bytes.
  BulkAnswers* bulk = nullptr;
  size_t answer_memory = 32u << 20;
  // When set, and the database lets one session at a time write, the run's
  // writes to the line store (deleting the path's previous lines, storing
  // the new ones) wait for their turn on this mutex. The runs of
  // a batch then write one after another by themselves instead of meeting
  // at the database's write lock, where the embedded database lets a
  // waiting writer sleep in growing steps and wake up well after the lock
  // is free.
  std::mutex* line_store_writes = nullptr;
  // When set, wraps the backend once connected (tests put a scripted
  // backend in front of the real one).
  std::function<std::unique_ptr<Backend>(std::unique_ptr<Backend>)> wrap_backend;
};
RunOptions DefaultRunOptions();

// The run parameters the command line gives.
struct RunParams {
  std::string function;  // in capitals
  std::string terminal;
  std::string path;
  bool replace = false;
};

// The usage texts of the tool.
void PrintUsage(Messages& msg);

// Checks and takes the four arguments (program name excluded); prints the
// usage texts and returns false when they don't do.
bool TakeArguments(const std::vector<std::string>& args, Messages& msg, RunParams* p);

// What a run did.
struct RunFigures {
  int status = kExitOk;
  int64_t badges_read = 0;      // badge rows of all client schemas
  int64_t records_written = 0;  // records of the new content
  int lines_lost = 0;           // lines the line store refused
  double seconds = 0;
  int64_t statements = 0;  // statements sent to the database
  // A dry run: records the new content would add, remove and change.
  int64_t added = 0, removed = 0, changed = 0;
};

// One run with checked parameters (TakeArguments): lock, connect, line
// store, generators, write-out. Every message goes to msg.
RunFigures RunDownload(const RunParams& p, Messages& msg, const RunOptions& options);

// Connects as a run does: credentials from the configuration file at
// config_path. A failed connect is printed as the run prints it (the
// password never); returns 0 or the sqlcode of the failure.
int ConnectAsRun(Connection* conn, Messages& msg, const std::string& config_path,
                 bool read_only = false);

// Visits the client schemas a run of the terminal visits, in the run's
// order: those assigned to the terminal, or all when none is. Each valid
// one is announced in out ("Schema: ...") and handed to visit; an invalid
// name is reported and passed over. Returns 0, or the negative sqlcode of a schema
// cursor's failing open or fetch (the visits end there; *failed_cursor, when
// given, names the cursor): an error is never the end of the schemas.
//
// A terminal the installation does not know (no client schema assigned and
// no reader) is warned about before the schemas are visited;
// *unknown_terminal, when given, tells whether it was.
int VisitRunSchemas(Connection& c, RunOutput& out, const std::string& terminal,
                    const std::function<void(const std::string& schema)>& visit,
                    std::string* failed_cursor = nullptr, bool* unknown_terminal = nullptr);

// Runs the tool with the command-line arguments (program name excluded).
int RunTool(const std::vector<std::string>& args, Messages& msg, const RunOptions& options);

}  // namespace plom
