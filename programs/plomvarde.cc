// plomvarde FUNCTION TERMINAL FILE NEW: writes the download file of a
// terminal for one download function.
//
// With PLOMVARDE_GUARD=PCT in the environment the run keeps a download file
// that the new content would shrink below PCT per cent (an empty or
// unreadable value: the default per cent).
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/run.h"
#include "platform/files.h"

namespace {

int GuardFromEnvironment() {
  const char* value = std::getenv("PLOMVARDE_GUARD");
  if (value == nullptr) return 0;
  char* end = nullptr;
  long pct = std::strtol(value, &end, 10);
  if (end == value || *end != '\0' || pct < 0 || pct > 100) return plom::kDefaultGuardPct;
  return static_cast<int>(pct);
}

}  // namespace

int main(int argc, char** argv) {
  plom::KeepStandardOutputBytes();
  std::vector<std::string> args(argv + 1, argv + argc);
  plom::Messages msg(stdout);
  plom::RunOptions options = plom::DefaultRunOptions();
  options.guard_pct = GuardFromEnvironment();
  int status = plom::RunTool(args, msg, options);
  msg.Flush();
  return status;
}
