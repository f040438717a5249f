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
  // Printed as it comes: a large file is never held.
  int status = plom::show::RunShow(args, stdout, stderr);
  std::fflush(stdout);
  return status;
}
