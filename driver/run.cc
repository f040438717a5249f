#include "driver/run.h"

#include "config/config_file.h"
#include "installation/access_rights.h"
#include "installation/badge_queries.h"
#include "installation/connection.h"
#include "installation/line_store.h"
#include "generators/record_util.h"
#include "driver/download_file.h"
#include "driver/write_out.h"
#include "layouts/widths.h"
#include "platform/files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string_view>

namespace plom {
namespace {

constexpr size_t kMaxFunctionLen = 19;
// Above every reader number a terminal can have.
constexpr int kHighestReader = 9999;

constexpr DownloadFunction kFunctions[] = {
    {"VQDNL17P", GenerateVQDNL17P, kWidthVQDNL17P}, {"VQDNL18P", GenerateVQDNL18P, kWidthVQDNL18P},
    {"VQDNL31P", GenerateVQDNL31P, kWidthVQDNL31P}, {"VQDNL60P", GenerateVQDNL60P, kWidthVQDNL60P},
    {"IDSTAMM", GenerateIDSTAMM, kWidthIDSTAMM},
};

std::string ToCapitals(std::string s) {
  for (char& ch : s) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return s;
}

}  // namespace

void PrintUsage(Messages& msg) {
  msg.Printf("Aufruf: PLOMVARDE [Param1] [Param2] [Param3] [Param4]  \n");
  msg.Printf("Param1: DNL-Funktion\n");
  msg.Printf("Param2: Terminal-Name\n");
  msg.Printf("Param3: Pfad der DNL-Datei\n");
  msg.Printf("Param4: 1: neu 0: dran h\xE4ngen\n");
}

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

namespace {

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

// Visits each schema of a cursor; returns how many there were. An error of
// the cursor's open or fetch ends the visits and goes to *error: a schema
// left out would leave its badges out of the file.
int VisitSchemas(Connection& c, RunOutput& out, const std::string& terminal, bool all,
                 const std::function<void(const std::string&)>& visit, int* error,
                 std::string* failed_cursor) {
  int found = 0;
  std::string schema;
  int rc = all ? OpenAllSchemaCursor(c) : OpenTerminalSchemaCursor(c, terminal);
  while (rc == kSqlOk &&
         (rc = all ? FetchAllSchema(c, &schema) : FetchTerminalSchema(c, &schema)) == kSqlOk) {
    ++found;
    if (!IsValidSchemaName(schema)) {
      // Client schema names enter statement texts: only plain names do.
      out.Printf("Schema %s ungueltig, Mandant wird uebersprungen!\n", schema.c_str());
      continue;
    }
    out.Printf("Schema: %s\n", schema.c_str());
    visit(schema);
  }
  if (rc < 0) {
    *error = rc;
    *failed_cursor = all ? "MND_SCHEMAALL_C" : "MND_SCHEMAREST_C";
  }
  if (all) {
    CloseAllSchemaCursor(c);
  } else {
    CloseTerminalSchemaCursor(c);
  }
  return found;
}

// Says why the run ends without touching the download file.
int ReportFailure(Messages& msg, const RunParams& p, int sqlcode, const std::string& what,
                  const std::string& reason) {
  msg.Printf("DB-Fehler bei %s! ErrNr: %d\n", what.c_str(), sqlcode);
  if (!reason.empty()) msg.Printf("%s\n", reason.c_str());
  msg.Printf("Downloadfile %s bleibt unveraendert.\n", p.path.c_str());
  return kExitUnavailable;
}

int ReportLock(Messages& msg, const RunParams& p, const PathLock& lock) {
  if (lock.state() == PathLock::State::kNoDirectory) {
    msg.Printf("Donwloadfile %s konnte nicht geoeffnet werden!\n", p.path.c_str());
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::absolute(HostPath(p.path), ec).parent_path();
    msg.Printf("Verzeichnis %s existiert nicht.\n",
               ec ? p.path.c_str() : dir.lexically_normal().string().c_str());
    return kExitCantWrite;
  }
  if (lock.state() == PathLock::State::kBusy) {
    msg.Printf("Downloadfile %s wird von einem anderen Lauf erstellt!\n", p.path.c_str());
  } else {
    msg.Printf("Sperrdatei %s.lock nicht verwendbar: %s\n", p.path.c_str(), lock.reason().c_str());
  }
  return kExitLocked;
}

int Connect(const RunOptions& options, Messages& msg, Connection* conn) {
  return ConnectAsRun(conn, msg, options.config_path) == 0 ? kExitOk : kExitUnavailable;
}

// Says why a file could not be written.
int ReportWrite(Messages& msg, const std::string& path, const WriteResult& w) {
  if (w.ok()) return kExitOk;
  msg.Printf("Donwloadfile %s konnte nicht geoeffnet werden!\n", path.c_str());
  if (w.status != WriteResult::Status::kCannotOpen) msg.Printf("%s\n", w.reason.c_str());
  return kExitCantWrite;
}

// Writes the download file; says why it could not be written.
int WriteDownload(Messages& msg, const RunParams& p, const std::string& data) {
  WriteResult w = p.replace ? ReplaceFile(p.path, data) : AppendFile(p.path, data);
  return ReportWrite(msg, p.path, w);
}

// The turn of a run's writes to the line store, when the runs take turns.
std::unique_lock<std::mutex> WriteTurn(const Connection& conn, const RunOptions& options) {
  if (options.line_store_writes == nullptr || !conn.one_writer_at_a_time()) return {};
  return std::unique_lock<std::mutex>(*options.line_store_writes);
}

}  // namespace

const DownloadFunction* FindDownloadFunction(const std::string& name) {
  for (const auto& f : kFunctions) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

int VisitRunSchemas(Connection& c, RunOutput& out, const std::string& terminal,
                    const std::function<void(const std::string& schema)>& visit,
                    std::string* failed_cursor, bool* unknown_terminal) {
  int error = kSqlOk;
  std::string cursor;
  bool unknown = false;
  if (VisitSchemas(c, out, terminal, false, visit, &error, &cursor) == 0 && error == kSqlOk) {
    // No client schema: the terminal may still be a known one that serves
    // every client. One without readers as well is most likely misspelt.
    int number = 0;
    std::string code;
    Status s = OpenReaderCursor(c, terminal, kHighestReader);
    if (s.ok()) s = FetchReader(c, &number, &code);
    static_cast<void>(CloseReaderCursor(c));
    if (s.failed()) {
      // A database that does not answer ends the run as in any lookup.
      if (failed_cursor != nullptr) *failed_cursor = "ZLS_ZLES_C";
      if (unknown_terminal != nullptr) *unknown_terminal = false;
      return s.sqlcode() < 0 ? s.sqlcode() : kSqlFailed;
    }
    unknown = s.no_row();
    if (unknown) {
      out.Printf(
          "Terminal %s unbekannt (keine Leser, kein Mandant), Datei wird trotzdem "
          "geschrieben!\n",
          terminal.c_str());
    }
    VisitSchemas(c, out, terminal, true, visit, &error, &cursor);
  }
  if (unknown_terminal != nullptr) *unknown_terminal = unknown;
  if (failed_cursor != nullptr) *failed_cursor = cursor;
  return error;
}

int ConnectAsRun(Connection* conn, Messages& msg, const std::string& config_path,
                 bool read_only) {
  Credentials cred = ReadCredentials(config_path);
  int rc = ConnectDatabase(conn, cred.login, cred.password, cred.server, cred.schema, read_only);
  if (rc == 0) return 0;
  msg.Printf("DB-Connect-Error: %d!", rc);
  msg.Printf("Name:%s Pwd:%s Net:%s Schema:%s\n", cred.login.c_str(), "***", cred.server.c_str(),
             cred.schema.c_str());
  // A configuration file that cannot be read gives empty values: the
  // connect fails for that, and the path says where it was looked for.
  std::string unreadable = ConfigFileUnreadable(config_path);
  if (!unreadable.empty()) {
    std::error_code ec;
    std::filesystem::path looked = std::filesystem::absolute(HostPath(config_path), ec);
    msg.Printf("Konfigurationsdatei %s nicht lesbar: %s\n",
               ec ? config_path.c_str() : looked.lexically_normal().string().c_str(),
               unreadable.c_str());
  }
  std::string why = conn->last_error();
  // The backend's reason, never with the password in it.
  for (size_t at; !cred.password.empty() && (at = why.find(cred.password)) != std::string::npos;)
    why.replace(at, cred.password.size(), "***");
  if (!why.empty()) msg.Printf("%s\n", why.c_str());
  return rc;
}

RunOptions DefaultRunOptions() {
  RunOptions o;
  o.config_path = HostPath(kConfigPath);
  // Another run of the same file is waited for as long as another
  // session's lock (PLOMVARDE_LOCK_TIMEOUT).
  o.lock_wait_ms = TransportOptions::FromEnvironment().lock_timeout_s * 1000;
  o.answer_memory = AnswerMemoryBound();
  return o;
}

namespace {

// Writes FILE.new instead of the file and tells what would change.
int WriteDryRun(Messages& msg, const RunParams& p, int width, const std::string& old_data,
                const std::string& data, RunFigures* f) {
  std::string next = p.replace ? data : old_data + data;
  RecordChanges c = CompareRecords(SplitRecords(old_data, width), SplitRecords(next, width), width);
  f->added = c.added;
  f->removed = c.removed;
  f->changed = c.changed;
  std::string beside = p.path + ".new";
  if (int status = ReportWrite(msg, beside, ReplaceSideFile(beside, next))) return status;
  msg.Printf("Probelauf: %s geschrieben, gegenueber %s: %lld neu, %lld entfernt, %lld geaendert\n",
             beside.c_str(), p.path.c_str(), static_cast<long long>(c.added),
             static_cast<long long>(c.removed), static_cast<long long>(c.changed));
  return kExitOk;
}

// The guard refuses the new content: it goes beside the old file.
int RejectNewContent(Messages& msg, const RunParams& p, size_t old_records, size_t new_records,
                     int pct, const std::string& data, bool dry_run) {
  msg.Printf("Downloadfile %s nicht ersetzt: %zu statt %zu Saetze (weniger als %d%%)!\n",
             p.path.c_str(), new_records, old_records, pct);
  if (dry_run) return kExitGuarded;
  std::string beside = p.path + ".rejected";
  if (int status = ReportWrite(msg, beside, ReplaceSideFile(beside, data))) return status;
  msg.Printf("Neuer Inhalt in %s\n", beside.c_str());
  return kExitGuarded;
}

// Writes the download file, unless the guard refuses it or the run is a dry
// run.
int WriteOut(Messages& msg, const RunParams& p, int width, const std::string& data, size_t records,
             const RunOptions& options, RunFigures* f) {
  if (options.dry_run) {
    std::string old_data = ReadWholeFile(p.path);
    int status = WriteDryRun(msg, p, width, old_data, data, f);
    if (status != kExitOk) return status;
  }
  bool guarded = p.replace && options.guard_pct > 0;
  size_t old_records = guarded ? CountFileRecords(p.path, width) : 0;
  if (guarded && GuardTrips(old_records, records, options.guard_pct, options.guard_min)) {
    return RejectNewContent(msg, p, old_records, records, options.guard_pct, data, options.dry_run);
  }
  if (options.dry_run) return kExitOk;
  return WriteDownload(msg, p, data);
}

// Generate: the generator for the terminal's client schemas (all client
// schemas when it has none), storing nothing. A failing schema cursor is
// the run's failure like any other.
void Generate(Connection& conn, const RunParams& p, const DownloadFunction& fn, RunContext* ctx,
              bool own_bulk) {
  std::string cursor;
  int rc = VisitRunSchemas(
      conn, ctx->out, p.terminal,
      [&](const std::string& schema) {
        if (ctx->failed()) return;
        ctx->scope = RunScope{p.path, p.terminal, schema};
        fn.generate(*ctx);
        if (own_bulk) ctx->bulk->Forget(schema);
      },
      &cursor);
  if (rc < 0) ctx->Fail(rc, cursor, conn.last_error());
}

// Verify: the lines read back are exactly the lines stored, as a multiset
// (the database chooses the order). A line comes back without its
// trailing blanks and tabs.
bool SameLines(const std::vector<std::string>& generated, const std::vector<Refusal>& refused,
               const std::vector<std::string>& read) {
  if (generated.size() - refused.size() != read.size()) return false;
  std::vector<std::string_view> want, got(read.begin(), read.end());
  want.reserve(read.size());
  auto next = refused.begin();
  for (size_t i = 0; i < generated.size(); ++i) {
    if (next != refused.end() && next->seq == static_cast<int64_t>(i)) {
      ++next;
      continue;
    }
    std::string_view l = generated[i];
    while (!l.empty() && (l.back() == ' ' || l.back() == '\t')) l.remove_suffix(1);
    want.push_back(l);
  }
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  return want == got;
}

// The run after the connect: the line store's lock, then generate, store,
// verify, say what happened, write out.
int RunConnected(Connection& conn, Messages& msg, const RunParams& p, const DownloadFunction& fn,
                 const RunOptions& options, RunFigures* f) {
  int rc = LockLineStore(conn, p.path, 0);
  if (rc == kSqlLineStoreLocked && options.lock_wait_ms > 0) {
    msg.Printf("Downloadfile %s wird von einem anderen Lauf erstellt (Sperre Zrt999Tmp), warte "
               "bis zu %d s\n",
               p.path.c_str(), (options.lock_wait_ms + 999) / 1000);
    msg.Flush();
    rc = LockLineStore(conn, p.path, options.lock_wait_ms);
  }
  if (rc == kSqlLockFileUnusable) {
    msg.Printf("Sperre Zrt999Tmp %s nicht verwendbar: %s\n", p.path.c_str(),
               conn.last_error().c_str());
    return kExitLocked;
  }
  if (rc == kSqlLineStoreLocked) {
    msg.Printf("Downloadfile %s wird von einem anderen Lauf erstellt!\n", p.path.c_str());
    return kExitLocked;
  }
  if (rc != 0) return ReportFailure(msg, p, rc, "Sperre Zrt999Tmp", conn.last_error());

  RunContext ctx(conn, options.reuse_answers, options.shared);
  std::unique_ptr<BulkAnswers> own_bulk;
  if (options.reuse_answers) {
    if (options.bulk == nullptr) own_bulk = std::make_unique<BulkAnswers>(options.answer_memory);
    ctx.bulk = options.bulk != nullptr ? options.bulk : own_bulk.get();
  }
  Generate(conn, p, fn, &ctx, own_bulk != nullptr);
  f->badges_read = ctx.badges_read;

  // Store: in one turn of the line store's writes, the path's previous
  // lines go and the new ones are stored. The previous lines go even when
  // the generators failed, as they would in a run that deletes first.
  StoreReport stored;
  {
    auto turn = WriteTurn(conn, options);
    Status deleted = DeleteLines(conn, p.path);
    if (!deleted.ok()) {
      f->badges_read = 0;
      msg.Printf("Error Tab. Zrt999Tmp loeschen! ErrNr: %d User: %s", deleted.sqlcode(),
                 p.path.c_str());
      // The cause in the database's words (a full disk, a lock waited for).
      if (!deleted.reason().empty()) msg.Printf("\n%s\n", deleted.reason().c_str());
      return kExitUnavailable;
    }
    if (!ctx.failed()) {
      stored = StoreLines(conn, p.path, ctx.out.lines(),
                          options.group_lines ? StoreMode::kGroups : StoreMode::kOneByOne);
    }
  }
  f->lines_lost = static_cast<int>(stored.refused.size());
  ctx.out.Render(msg, p.path, stored.refused);
  if (ctx.failed()) {
    return ReportFailure(msg, p, ctx.failure.sqlcode, ctx.failure.what, ctx.failure.reason);
  }
  if (stored.failure.failed()) {
    return ReportFailure(msg, p, stored.failure.sqlcode(), stored.failure.what(),
                         stored.failure.reason());
  }

  // Verify.
  std::vector<std::string> lines;
  Status read = ReadLines(conn, p.path, &lines);
  if (!read.ok()) return ReportFailure(msg, p, read.sqlcode(), read.what(), read.reason());
  if (!SameLines(ctx.out.lines(), stored.refused, lines)) {
    char counts[160];
    std::snprintf(counts, sizeof counts,
                  "Zeilen erzeugt: %lld, abgelehnt: %zu, zurueckgelesen: %zu",
                  static_cast<long long>(ctx.out.line_count()), stored.refused.size(), lines.size());
    return ReportFailure(msg, p, kSqlFailed, "TMP_USRSTR_C", counts);
  }
  // Every line refused: no single lines were refused, the line store took
  // nothing at all.
  if (f->lines_lost > 0 && lines.empty()) {
    return ReportFailure(msg, p, kSqlFailed, "Zrt999Tmp", "keine Zeile gespeichert");
  }
  f->records_written = static_cast<int64_t>(lines.size());
  int status =
      WriteOut(msg, p, fn.width, RenderDownload(lines, fn.width), lines.size(), options, f);
  if (status != kExitOk) return status;
  return f->lines_lost > 0 ? kExitLinesLost : kExitOk;
}

int RunSteps(const RunParams& p, Messages& msg, const RunOptions& options, RunFigures* f) {
  const DownloadFunction& fn = *FindDownloadFunction(p.function);

  PathLock lock(p.path, options.lock_wait_ms, [&](long holder) {
    std::string by = holder > 0 ? " (Prozess " + std::to_string(holder) + ")" : "";
    msg.Printf("Downloadfile %s wird von einem anderen Lauf erstellt%s, warte bis zu %d s\n",
               p.path.c_str(), by.c_str(), (options.lock_wait_ms + 999) / 1000);
    msg.Flush();
  });
  if (lock.state() != PathLock::State::kHeld) return ReportLock(msg, p, lock);
  std::string refused = RefusedPath(p.path);
  if (!refused.empty()) {
    WriteResult w;
    w.status = WriteResult::Status::kRefused;
    w.reason = refused;
    return ReportWrite(msg, p.path, w);
  }
  RemoveLeftTemporaries(p.path);

  Connection conn;
  int status = Connect(options, msg, &conn);
  if (status != kExitOk) return status;
  if (options.wrap_backend) conn.Attach(options.wrap_backend(conn.Detach()));
  // A batch's runs keep answers for the whole batch: reads that share a
  // read transaction for a few hundred statements are no older than those.
  if (options.shared != nullptr) conn.ShareReads(true);
  struct CountOnExit {
    Connection& c;
    RunFigures* f;
    int64_t* out;
    int64_t* trips;
    ~CountOnExit() {
      f->statements = c.statements_sent();
      if (out) *out = c.statements_sent();
      if (trips) *trips = c.round_trips();
    }
  } count_on_exit{conn, f, options.statements_sent, options.round_trips};
  return RunConnected(conn, msg, p, fn, options, f);
}

}  // namespace

RunFigures RunDownload(const RunParams& p, Messages& msg, const RunOptions& options) {
  auto start = std::chrono::steady_clock::now();
  RunFigures f;
  f.status = RunSteps(p, msg, options, &f);
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return f;
}

int RunTool(const std::vector<std::string>& args, Messages& msg, const RunOptions& options) {
  RunParams p;
  int status = TakeArguments(args, msg, &p) ? RunDownload(p, msg, options).status : kExitUsage;
  // Messages that could not be printed: the file is as the run left it,
  // but the status tells.
  if (!msg.Flush() && status == kExitOk) status = kExitCantWrite;
  return status;
}

}  // namespace plom
