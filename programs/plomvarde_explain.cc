// plomvarde-explain: what a run does with one badge on one terminal. See
// companions/explain.h.
#include <cstdio>
#include <string>
#include <vector>

#include "driver/run.h"
#include "companions/explain.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string out, err;
  int status = plom::explain::RunExplain(args, plom::DefaultRunOptions().config_path, &out, &err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return status;
}
