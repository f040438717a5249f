#include "driver/run.h"

#include "config/config_file.h"
#include "installation/access_rights.h"
#include "installation/connection.h"
#include "installation/line_store.h"
#include "driver/download_file.h"
#include "platform/files.h"

namespace plom {
namespace {

constexpr size_t kMaxFunctionLen = 19;

constexpr DownloadFunction kFunctions[] = {
    {"VQDNL17P", GenerateVQDNL17P, 85},
    {"VQDNL18P", GenerateVQDNL18P, 173},
    {"VQDNL31P", GenerateVQDNL31P, 48},
    {"VQDNL60P", GenerateVQDNL60P, 45},
    {"IDSTAMM", GenerateIDSTAMM, 0},
};

void PrintUsage(Messages& msg) {
  msg.Printf("Aufruf: PLOMVARDE [Param1] [Param2] [Param3] [Param4]  \n");
  msg.Printf("Param1: DNL-Funktion\n");
  msg.Printf("Param2: Terminal-Name\n");
  msg.Printf("Param3: Pfad der DNL-Datei\n");
  msg.Printf("Param4: 1: neu 0: dran h\xE4ngen\n");
}

std::string ToCapitals(std::string s) {
  for (char& ch : s) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return s;
}

// The run parameters the command line gives.
struct RunParams {
  std::string function;  // in capitals
  std::string terminal;
  std::string path;
  bool replace = false;
};

// Checks and takes the arguments; prints the usage texts when they don't do.
bool TakeArguments(const std::vector<std::string>& args, Messages& msg, RunParams* p) {
  if (args.size() < 4) {
    msg.Printf("Anzahl Parameter(mind. 4) unterschritten! AnzParam: %d",
               static_cast<int>(args.size()));
    PrintUsage(msg);
    return false;
  }
  p->function = ToCapitals(args[0]);
  p->terminal = args[1];
  p->path = args[2];
  p->replace = !args[3].empty() && args[3][0] == '1';
  const char* too_long = nullptr;
  if (p->function.size() > kMaxFunctionLen) too_long = "DNL-Funktion";
  if (p->terminal.size() > kMaxTerminalLen) too_long = "Terminal-Name";
  if (p->path.size() > kMaxPathLen) too_long = "Pfad der DNL-Datei";
  if (too_long != nullptr) {
    msg.Printf("Parameter zu lang: %s\n", too_long);
    PrintUsage(msg);
    return false;
  }
  if (p->path.empty()) {
    msg.Printf("Pfad der DNL-Datei fehlt!\n");
    PrintUsage(msg);
    return false;
  }
  if (FindDownloadFunction(p->function) == nullptr) {
    msg.Printf("Unbekannte DNL-Funktion: %s\n", args[0].c_str());
    PrintUsage(msg);
    return false;
  }
  return true;
}

struct Credentials {
  std::string login, password, server, schema;
};

Credentials ReadCredentials(const std::string& config_path) {
  Credentials c;
  c.login = ConfigLookup("", "LOGIN", 0, config_path).value;
  c.password = ConfigLookup("", "PASS", 0, config_path).value;
  c.server = ConfigLookup("", "SQLSERVER", 0, config_path).value;
  if (c.server.empty()) c.server = ConfigLookup("", "NET8", 0, config_path).value;
  c.schema = ConfigLookup("", "SCHEMA", 0, config_path).value;
  if (!c.schema.empty()) c.schema.pop_back();  // the stored value ends in one extra character
  return c;
}

// Runs the generator for each schema of a cursor; returns how many there were.
int RunSchemas(RunContext& ctx, const RunParams& p, const DownloadFunction& fn, bool all) {
  Connection& c = ctx.conn;
  int found = 0;
  std::string schema;
  if (all) {
    OpenAllSchemaCursor(c);
  } else {
    OpenTerminalSchemaCursor(c, p.terminal);
  }
  while ((all ? FetchAllSchema(c, &schema) : FetchTerminalSchema(c, &schema)) == 0) {
    ++found;
    if (!IsValidSchemaName(schema)) {
      // Client schema names enter statement texts: only plain names do.
      ctx.msg.Printf("Schema %s ungueltig, Mandant wird uebersprungen!\n", schema.c_str());
      continue;
    }
    ctx.scope = RunScope{p.path, p.terminal, schema};
    ctx.msg.Printf("Schema: %s\n", schema.c_str());
    fn.generate(ctx);
  }
  if (all) {
    CloseAllSchemaCursor(c);
  } else {
    CloseTerminalSchemaCursor(c);
  }
  return found;
}

std::vector<std::string> ReadLines(Connection& c, const std::string& path) {
  std::vector<std::string> lines;
  std::string line;
  OpenLineCursor(c, path);
  while (FetchLine(c, &line) == 0) lines.push_back(line);
  CloseLineCursor(c);
  return lines;
}

}  // namespace

const DownloadFunction* FindDownloadFunction(const std::string& name) {
  for (const auto& f : kFunctions) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

RunOptions DefaultRunOptions() {
  RunOptions o;
  o.config_path = HostPath(kConfigPath);
  return o;
}

int RunTool(const std::vector<std::string>& args, Messages& msg, const RunOptions& options) {
  RunParams p;
  if (!TakeArguments(args, msg, &p)) return kExitUsage;
  const DownloadFunction& fn = *FindDownloadFunction(p.function);

  PathLock lock(p.path, options.lock_wait_ms);
  if (lock.state() == PathLock::State::kBusy) {
    msg.Printf("Downloadfile %s wird von einem anderen Lauf erstellt!\n", p.path.c_str());
    return kExitLocked;
  }

  Credentials cred = ReadCredentials(options.config_path);
  Connection conn;
  int rc = ConnectDatabase(&conn, cred.login, cred.password, cred.server, cred.schema);
  if (rc != 0) {
    msg.Printf("DB-Connect-Error: %d!", rc);
    msg.Printf("Name:%s Pwd:%s Net:%s Schema:%s\n", cred.login.c_str(), "***",
               cred.server.c_str(), cred.schema.c_str());
    std::string why = conn.last_error();
    // The backend's reason, never with the password in it.
    for (size_t at; !cred.password.empty() && (at = why.find(cred.password)) != std::string::npos;)
      why.replace(at, cred.password.size(), "***");
    if (!why.empty()) msg.Printf("%s\n", why.c_str());
    return kExitUnavailable;
  }
  conn.line_group.enabled = options.group_lines;
  struct CountOnExit {
    Connection& c;
    int64_t* out;
    ~CountOnExit() {
      if (out) *out = c.statements_sent();
    }
  } count_on_exit{conn, options.statements_sent};

  rc = DeleteLines(conn, p.path);
  if (rc != 0 && rc != kSqlNotFound) {
    msg.Printf("Error Tab. Zrt999Tmp loeschen! ErrNr: %d User: %s", rc, p.path.c_str());
    return kExitUnavailable;
  }

  RunContext ctx(conn, msg, options.reuse_answers);
  if (RunSchemas(ctx, p, fn, false) == 0) RunSchemas(ctx, p, fn, true);

  rc = FlushLines(conn);
  if (rc != 0) {
    msg.Printf("Insert-Error Zrt999Tmp! ErrNr: %d\n", rc);
    ++ctx.lines_lost;
  }
  std::string data = RenderDownload(ReadLines(conn, p.path), fn.width);
  bool written = p.replace ? ReplaceFile(p.path, data) : AppendFile(p.path, data);
  if (!written) {
    msg.Printf("Donwloadfile %s konnte nicht geoeffnet werden!\n", p.path.c_str());
    return kExitCantWrite;
  }
  return ctx.lines_lost > 0 ? kExitLinesLost : kExitOk;
}

}  // namespace plom
