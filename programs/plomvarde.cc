// plomvarde FUNCTION TERMINAL FILE NEW: writes the download file of a
// terminal for one download function.
//
// With PLOMVARDE_GUARD=PCT in the environment the run keeps a download file
// that the new content would shrink below PCT per cent (an empty or
// unreadable value: the default per cent); PLOMVARDE_GUARD_MIN=N sets the
// number of records below which the guard does not judge.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/options.h"
#include "driver/run.h"
#include "platform/files.h"

namespace {

int GuardFromEnvironment() {
  const char* value = std::getenv("PLOMVARDE_GUARD");
  if (value == nullptr) return 0;
  long pct = 0;
  if (!plom::cli::TakeNumber(value, 0, 100, &pct)) return plom::kDefaultGuardPct;
  return static_cast<int>(pct);
}

size_t GuardMinFromEnvironment() {
  const char* value = std::getenv("PLOMVARDE_GUARD_MIN");
  long n = 0;
  if (value == nullptr || !plom::cli::TakeNumber(value, 0, 1000000000, &n)) {
    return plom::kGuardMinRecords;
  }
  return static_cast<size_t>(n);
}

const char kHelp[] =
    "Aufruf: plomvarde DNL-FUNKTION TERMINAL DATEI NEU\n"
    "Schreibt die Downloaddatei eines Terminals fuer eine DNL-Funktion.\n"
    "  DNL-FUNKTION  VQDNL17P, VQDNL31P, VQDNL18P, VQDNL60P oder IDSTAMM\n"
    "  TERMINAL      Terminal-Name, bis 10 Zeichen\n"
    "  DATEI         Pfad der Downloaddatei, bis 100 Zeichen\n"
    "  NEU           1: Datei ersetzen, sonst anhaengen\n"
    "Konfiguration: ..\\..\\files\\korvantis.ini relativ zum Arbeitsverzeichnis.\n"
    "Umgebung: PLOMVARDE_GUARD=PROZENT und PLOMVARDE_GUARD_MIN=N (Waechter),\n"
    "  PLOMVARDE_QUERY_TIMEOUT, PLOMVARDE_LOCK_TIMEOUT, PLOMVARDE_PARAM_ARRAYS,\n"
    "  PLOMVARDE_TEXT_PARAMS, PLOMVARDE_COLLATION_MODULE.\n"
    "Exit-Status: 0 geschrieben, 1 Zeilen verloren, 64 Aufruf, 65 Waechter,\n"
    "  69 Datenbank, 73 Datei nicht schreibbar, 75 gesperrt.\n"
    "  --help     diese Hilfe\n"
    "  --version  Version\n";

}  // namespace

int main(int argc, char** argv) {
  plom::KeepStandardOutputBytes();
  std::vector<std::string> args;
  int unreadable = plom::cli::Arguments(argc, argv, &args);
  bool readable = unreadable == 0;
  if (readable && plom::cli::IsLoneHelp(args)) {
    std::fputs(kHelp, stdout);
    return std::fflush(stdout) == 0 ? 0 : plom::kExitCantWrite;
  }
  if (readable && plom::cli::IsLoneVersion(args)) {
    std::fputs(plom::cli::VersionLine("plomvarde").c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : plom::kExitCantWrite;
  }
  plom::Messages msg(stdout);
  if (!readable) {
    msg.Printf("Parameter %d: Zeichen ausserhalb Windows-1252!\n", unreadable);
    plom::PrintUsage(msg);
    msg.Flush();
    return plom::kExitUsage;
  }
  plom::RunOptions options = plom::DefaultRunOptions();
  options.guard_pct = GuardFromEnvironment();
  options.guard_min = GuardMinFromEnvironment();
  int status = plom::RunTool(args, msg, options);
  msg.Flush();
  return status;
}
