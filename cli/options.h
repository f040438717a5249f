// The command line of every program: the same manners everywhere.
//
// - Arguments are read in the host's encoding and taken as Windows-1252
//   (platform/arguments.h); a character that Windows-1252 cannot hold is a
//   usage error.
// - Options may stand before, between and after the operands; "--" ends
//   the options, "-" is an operand (standard input where a file is read).
// - --help (and -h, and "/?" on Windows) and --version are known to every
//   program.
// Underneath is getopt_long.
#pragma once

#include <string>
#include <vector>

namespace plom::cli {

// Exit status of a command line a program refuses.
constexpr int kExitUsage = 64;

struct OptionDef {
  const char* name;  // the long name, without "--"
  char letter;       // the short form, 0 for none
  bool takes_value;
};

struct CommandLine {
  bool help = false;
  bool version = false;
  // The options in the order given, each with its value ("" for none).
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> operands;
  // Why the command line is refused (English, without the program's name).
  std::string error;

  bool Has(const std::string& name) const;
  // The value of the last one given, "" when none.
  std::string Value(const std::string& name) const;
};

// Splits args (the program name excluded). Returns false, with error set,
// for an unknown option or an option without its value.
bool Parse(const std::vector<std::string>& args, const std::vector<OptionDef>& defs,
           CommandLine* out);

// The program's arguments as Windows-1252 texts. Returns 0, or the number
// (from 1) of the first argument holding a character Windows-1252 cannot
// hold.
int Arguments(int argc, char** argv, std::vector<std::string>* args);

// The refusal of such an argument, for UsageError.
std::string NotStorable(int argument);

// Whether args is exactly one help or version request.
bool IsLoneHelp(const std::vector<std::string>& args);
bool IsLoneVersion(const std::vector<std::string>& args);

// "PROGRAM VERSION\n".
std::string VersionLine(const char* program);

// Prints "PROGRAM: ERROR\n" and the usage text on standard error; returns
// kExitUsage.
int UsageError(const char* program, const std::string& error, const std::string& usage);

// A whole number from min to max, or false.
bool TakeNumber(const std::string& text, long min, long max, long* out);

}  // namespace plom::cli
