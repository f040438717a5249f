#include "cli/options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/arguments.h"
#include "version.h"

namespace plom::cli {
namespace {

constexpr int kHelp = 1000;
constexpr int kVersion = 1001;
constexpr int kFirstLong = 2000;

}  // namespace

bool CommandLine::Has(const std::string& name) const {
  for (const auto& o : options) {
    if (o.first == name) return true;
  }
  return false;
}

std::string CommandLine::Value(const std::string& name) const {
  std::string value;
  for (const auto& o : options) {
    if (o.first == name) value = o.second;
  }
  return value;
}

bool Parse(const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
           CommandLine* out) {
  *out = CommandLine();
  std::vector<std::string> storage{"program"};
  for (const std::string& a : args) {
    if (IsHostHelpSwitch(a)) {
      out->help = true;
      return true;
    }
    storage.push_back(a);
  }
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  // ":" first: an option without its value is told from an unknown one.
  std::string letters = ":h";
  std::vector<option> longs;
  for (size_t i = 0; i < defs.size(); ++i) {
    int id = defs[i].letter != 0 ? defs[i].letter : kFirstLong + static_cast<int>(i);
    longs.push_back(
        {defs[i].name, defs[i].takes_value ? required_argument : no_argument, nullptr, id});
    if (defs[i].letter != 0) {
      letters += defs[i].letter;
      if (defs[i].takes_value) letters += ':';
    }
  }
  longs.push_back({"help", no_argument, nullptr, kHelp});
  longs.push_back({"version", no_argument, nullptr, kVersion});
  longs.push_back({nullptr, 0, nullptr, 0});

  optind = 0;  // a fresh scan on every call
  opterr = 0;
  int argc = static_cast<int>(storage.size());
  for (int c; (c = getopt_long(argc, argv.data(), letters.c_str(), longs.data(), nullptr)) != -1;) {
    if (c == 'h' || c == kHelp) {
      out->help = true;
      continue;
    }
    if (c == kVersion) {
      out->version = true;
      continue;
    }
    if (c == '?' || c == ':') {
      std::string given = argv[optind - 1] != nullptr ? argv[optind - 1] : "";
      // A short option inside a group is named by its letter.
      if (optopt != 0 && (given.size() < 2 || given[1] != '-'))
        given = std::string("-") + char(optopt);
      out->error = (c == '?' ? "unknown option " : "option without its value: ") + given;
      return false;
    }
    const OptionDef* def = nullptr;
    for (size_t i = 0; i < defs.size(); ++i) {
      int id = defs[i].letter != 0 ? defs[i].letter : kFirstLong + static_cast<int>(i);
      if (id == c) def = &defs[i];
    }
    if (def == nullptr) continue;
    out->options.emplace_back(def->name, def->takes_value && optarg ? optarg : "");
  }
  // getopt_long moved the operands behind the options.
  for (int i = optind; i < argc; ++i) out->operands.push_back(argv[i]);
  return true;
}

int Arguments(int argc, char** argv, std::vector<std::string>* args) {
  return ProgramArguments(argc, argv, args);
}

std::string NotStorable(int argument) {
  return "argument " + std::to_string(argument) +
         " holds a character that Windows-1252 cannot hold";
}

bool IsLoneHelp(const std::vector<std::string>& args) {
  return args.size() == 1 && (args[0] == "--help" || IsHostHelpSwitch(args[0]));
}

bool IsLoneVersion(const std::vector<std::string>& args) {
  return args.size() == 1 && args[0] == "--version";
}

std::string VersionLine(const char* program) {
  return std::string(program) + " " + PLOM_VERSION + "\n";
}

int UsageError(const char* program, const std::string& error, const std::string& usage) {
  std::fprintf(stderr, "%s: %s\n", program, error.c_str());
  std::fputs(usage.c_str(), stderr);
  return kExitUsage;
}

bool TakeNumber(const std::string& text, long min, long max, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || n < min || n > max) return false;
  *out = n;
  return true;
}

}  // namespace plom::cli
