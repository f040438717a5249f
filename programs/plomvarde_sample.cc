// plomvarde-sample [--badges N] FILE: builds the embedded sample
// installation (see companions/sample.h).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "companions/sample.h"

namespace {

const char kUsage[] =
    "usage: plomvarde-sample [--badges N] FILE\n"
    "  Builds an embedded sample installation in FILE (an existing file is replaced).\n"
    "  --badges N  instead of the hand-made badges, N generated badges over the\n"
    "              clients M01, M02 and M03 (for benchmarks; deterministic per N)\n"
    "  --help      prints this text\n"
    "  --version   prints the version\n";

struct Options {
  long badges = 0;  // 0: the hand-made badges
  std::string file;
};

// Reads the command line into *opts. Returns the exit status to leave with
// at once (help, usage errors), or nullopt to build.
std::optional<int> ParseArguments(int argc, char** argv, Options* opts) {
  std::vector<std::string> args;
  if (int bad = plom::cli::Arguments(argc, argv, &args)) {
    return plom::cli::UsageError("plomvarde-sample", plom::cli::NotStorable(bad), kUsage);
  }
  plom::cli::CommandLine cl;
  if (!plom::cli::Parse(args, {{"badges", 0, true}}, &cl)) {
    return plom::cli::UsageError("plomvarde-sample", cl.error, kUsage);
  }
  if (cl.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (cl.version) {
    std::fputs(plom::cli::VersionLine("plomvarde-sample").c_str(), stdout);
    return 0;
  }
  if (cl.Has("badges") && !plom::cli::TakeNumber(cl.Value("badges"), 1, 9000000, &opts->badges)) {
    return plom::cli::UsageError("plomvarde-sample", "--badges needs a count from 1 to 9000000",
                                 kUsage);
  }
  if (cl.operands.size() != 1) {
    return plom::cli::UsageError("plomvarde-sample", "one FILE is needed", kUsage);
  }
  opts->file = cl.operands[0];
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  Options opts;
  if (auto status = ParseArguments(argc, argv, &opts)) return *status;
  std::string summary;
  if (int status = plom::WriteSampleDatabase(opts.file, opts.badges, &summary)) return status;
  std::printf("plomvarde-sample: %s: %s\n", opts.file.c_str(), summary.c_str());
  return 0;
}
