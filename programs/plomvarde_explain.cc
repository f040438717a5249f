// plomvarde-explain: what a run does with one badge on one terminal. See
// companions/explain.h.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/options.h"
#include "companions/explain.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  if (int bad = plom::cli::Arguments(argc, argv, &args)) {
    std::fprintf(stderr, "plomvarde-explain: %s\n", plom::cli::NotStorable(bad).c_str());
    return plom::cli::kExitUsage;
  }
  std::string out, err;
  int status = plom::explain::RunExplain(args, plom::DefaultRunOptions().config_path, &out, &err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return status;
}
