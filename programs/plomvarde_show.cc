// plomvarde-show: the records of a download file field by field, or what
// changed between two download files. See companions/show.h.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/options.h"
#include "companions/show.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  if (int bad = plom::cli::Arguments(argc, argv, &args)) {
    std::fprintf(stderr, "plomvarde-show: %s\n", plom::cli::NotStorable(bad).c_str());
    return plom::cli::kExitUsage;
  }
  std::string out, err;
  int status = plom::show::RunShow(args, &out, &err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  return status;
}
