// plomvarde-batch [OPTIONS] PLAN: the download files of a whole site in
// one run.
#include <string>
#include <vector>

#include "cli/options.h"
#include "driver/batch.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  plom::KeepStandardOutputBytes();
  std::vector<std::string> args;
  if (int bad = plom::cli::Arguments(argc, argv, &args)) {
    return plom::cli::UsageError("plomvarde-batch", plom::cli::NotStorable(bad), "");
  }
  return plom::BatchMain(args);
}
