// One run of the tool: the download file of one terminal for one download
// function.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "generators/messages.h"
#include "generators/generators.h"

namespace plom {

// Exit status of a run.
enum ExitStatus {
  kExitOk = 0,           // the download file was written with every line
  kExitLinesLost = 1,    // written, but lines were lost (a failed insert)
  kExitUsage = 64,       // too few arguments, unknown function, argument too long
  kExitUnavailable = 69, // the database failed (connect, line store, a cursor); file untouched
  kExitCantWrite = 73,   // the download file (or standard output) could not be written
  kExitLocked = 75,      // another run holds the same download file, or no lock could be taken
};

// A download function: its generator and record width (0: unpadded lines).
struct DownloadFunction {
  const char* name;
  GeneratorFn generate;
  int width;
};

// The function of that name (already in capitals), or nullptr.
const DownloadFunction* FindDownloadFunction(const std::string& name);

struct RunOptions {
  // The configuration file ("..\..\files\korvantis.ini" on this host).
  std::string config_path;
  // How long to wait for another run of the same download file.
  int lock_wait_ms = 120000;
  // Reuse admission answers within the run; group the line store's inserts.
  bool reuse_answers = true;
  bool group_lines = true;
  // When set, receives the number of statements the run sent to the
  // database (for measuring).
  int64_t* statements_sent = nullptr;
  // When set, wraps the backend once connected (tests put a scripted
  // backend in front of the real one).
  std::function<std::unique_ptr<Backend>(std::unique_ptr<Backend>)> wrap_backend;
};
RunOptions DefaultRunOptions();

// Runs the tool with the command-line arguments (program name excluded).
int RunTool(const std::vector<std::string>& args, Messages& msg, const RunOptions& options);

}  // namespace plom
