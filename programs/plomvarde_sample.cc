// plomvarde-sample [--badges N] FILE: builds the embedded sample
// installation (see companions/sample.h).
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "companions/sample.h"
#include "version.h"

namespace {

constexpr int kExitUsage = 64;

void Usage(FILE* out) {
  std::fputs(
      "usage: plomvarde-sample [--badges N] FILE\n"
      "  Builds an embedded sample installation in FILE (an existing file is replaced).\n"
      "  --badges N  instead of the hand-made badges, N generated badges over the\n"
      "              clients M01, M02 and M03 (for benchmarks; deterministic per N)\n"
      "  --version   prints the version\n",
      out);
}

bool ParseCount(const char* s, long* n) {
  if (!*s) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (errno || *end || v < 1 || v > 9000000) return false;
  *n = v;
  return true;
}

struct Options {
  long badges = 0;  // 0: the hand-made badges
  std::string file;
};

// Reads the command line into *opts. Returns the exit status to leave with
// at once (help, usage errors), or nullopt to build.
std::optional<int> ParseArguments(int argc, char** argv, Options* opts) {
  static const option kLong[] = {{"badges", required_argument, nullptr, 'b'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, 'V'},
                                 {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":h", kLong, nullptr)) != -1;) {
    switch (c) {
      case 'h':
        Usage(stdout);
        return 0;
      case 'V':
        std::printf("plomvarde-sample %s\n", PLOM_VERSION);
        return 0;
      case 'b':
        if (ParseCount(optarg, &opts->badges)) break;
        std::fprintf(stderr, "plomvarde-sample: --badges needs a count from 1 to 9000000\n");
        return kExitUsage;
      case '?':
        std::fprintf(stderr, "plomvarde-sample: unknown option %s\n", argv[optind - 1]);
        Usage(stderr);
        return kExitUsage;
      default:  // an option without its value
        Usage(stderr);
        return kExitUsage;
    }
  }
  if (optind + 1 != argc) {
    Usage(stderr);
    return kExitUsage;
  }
  opts->file = argv[optind];
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
