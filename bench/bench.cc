// Benchmark of the download functions on sample installations.
//
//   plomvarde-bench [--sizes 10000,100000] [--work DIR] [--terminal TERM12] [--literal]
//                   [--odbc] [--latency-ms X]
//   plomvarde-bench --site N [--work DIR] [--rounds R]
//
// Builds one sample installation per size (plomvarde-sample --badges N, in
// the directory of this program), then runs every download function once per
// size in a child process of its own and prints wall time, badges per
// second, peak memory (maximum resident set of the child) and statements
// sent to the database per badge, as the runtime counts them, and round
// trips per badge (on the ODBC path: what would cross the network to SQL
// Server).
//
// --odbc reaches the same database through the driver manager and the
// SQLite ODBC driver (a data source registered in the work directory).
// --latency-ms X adds the wall time a site would see with X ms per round
// trip: measured wall time + round trips * X.
//
// --site N: the site case. An installation of N badges gets a second
// 12-reader terminal (TERM24, a copy of TERM12 with readers of its own);
// the five functions on both terminals (10 runs) run as 10 separate
// processes one after another and as one plomvarde-batch, in the same bench
// run, and the files of both must be equal.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/options.h"
#include "config/cipher.h"
#include "driver/run.h"
#include "installation/badge_queries.h"
#include "installation/connection.h"
#include "installation/line_store.h"
#include "version.h"

namespace fs = std::filesystem;

namespace {

const char* kFunctions[] = {"VQDNL17P", "VQDNL31P", "VQDNL18P", "VQDNL60P", "IDSTAMM"};

// The child: one run of the tool in the working directory; prints the
// statement count and the badges read.
int RunOne(const std::string& function, const std::string& terminal, bool literal,
           const std::string& file = "bench.dnl") {
  FILE* out = std::tmpfile();
  plom::Messages msg(out);
  int64_t statements = 0, trips = 0;
  plom::RunOptions opt = plom::DefaultRunOptions();
  opt.statements_sent = &statements;
  opt.round_trips = &trips;
  opt.reuse_answers = !literal;
  opt.group_lines = !literal;
  int status = plom::RunTool({function, terminal, file, "1"}, msg, opt);
  msg.Flush();
  std::rewind(out);
  long badges = 0;
  char line[1024];
  while (std::fgets(line, sizeof line, out)) {
    long n = 0;
    if (std::sscanf(line, "Ausweise gesamt: %ld", &n) == 1) badges += n;
  }
  std::printf("%lld %ld %d %lld\n", static_cast<long long>(statements), badges, status,
              static_cast<long long>(trips));
  return 0;
}

// The child of the limit: what no run of the function can go below on this
// database. One pass over the badge cursor of each client schema of the
// terminal (the records read as the generators get them, nothing asked
// besides), then one round of the line store with the lines the function's
// run wrote into `file`: the previous ones deleted, these stored, all read
// back sorted. Prints what RunOne prints.
int RunLimit(const std::string& function, const std::string& terminal, const std::string& server,
             const std::string& file) {
  const plom::DownloadFunction* fn = plom::FindDownloadFunction(function);
  int sqlcode = 0;
  std::string error;
  auto backend = plom::OpenBackend({server, "bench", "bench", "ZrSystem."}, &sqlcode, &error);
  if (fn == nullptr || !backend) {
    std::fprintf(stderr, "limit: %s\n", error.c_str());
    return 1;
  }
  plom::Connection c(std::move(backend));
  std::vector<std::string> schemas;
  std::string schema;
  if (plom::OpenTerminalSchemaCursor(c, terminal) == 0) {
    while (plom::FetchTerminalSchema(c, &schema) == 0) schemas.push_back(schema);
  }
  plom::CloseTerminalSchemaCursor(c);
  long badges = 0;
  bool ok = !schemas.empty();
  for (const std::string& sch : schemas) {
    ok = ok && plom::ForEachBadgeRow(c, sch, [&](plom::BadgeRecord*) {
                 ++badges;
                 return true;
               }).ok();
  }
  std::string data;
  {
    std::ifstream in(file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    data = ss.str();
  }
  std::vector<std::string> lines, back;
  const size_t width = static_cast<size_t>(fn->width);
  for (size_t at = 0; at < data.size();) {
    // Fixed-width records, or (IDSTAMM) lines ended by CR LF.
    size_t end = width > 0 ? at + width : data.find('\n', at);
    if (end == std::string::npos || end > data.size()) end = data.size();
    std::string line = data.substr(at, end - at);
    if (width == 0 && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    at = width > 0 ? end : end + 1;
  }
  const std::string path = "bench-limit";
  ok = ok && plom::DeleteLines(c, path).ok();
  ok = ok && !plom::StoreLines(c, path, lines, plom::StoreMode::kGroups).failure.failed();
  ok = ok && plom::ReadLines(c, path, &back).ok() && back.size() == lines.size();
  std::printf("%lld %ld %d %lld\n", static_cast<long long>(c.statements_sent()), badges, ok ? 0 : 1,
              static_cast<long long>(c.round_trips()));
  return 0;
}

struct Measure {
  double seconds = 0;
  double cpu_seconds = 0;  // user + system time of the child
  long peak_kb = 0;
  long long statements = 0;
  long long trips = 0;
  long badges = 0;
  int status = -1;
};

bool g_literal = false;
bool g_odbc = false;
double g_latency_ms = 0;

double CpuSeconds(const struct rusage& ru) {
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Waits for the child started at `start` and records its wall time, CPU
// time and peak memory; leaves its wait status in *wstatus.
void WaitAndMeasure(pid_t pid, std::chrono::steady_clock::time_point start, int* wstatus,
                    Measure* m) {
  struct rusage ru {};
  wait4(pid, wstatus, 0, &ru);
  m->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m->cpu_seconds = CpuSeconds(ru);
  m->peak_kb = ru.ru_maxrss;
}

Measure Spawn(const std::string& self, const std::string& cwd, const std::string& function,
              const std::string& terminal, const std::string& file = "bench.dnl",
              const std::string& limit_server = "") {
  Measure m;
  int pipefd[2];
  if (pipe(pipefd) != 0) return m;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], 1);
    close(pipefd[0]);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    if (!limit_server.empty()) {
      execl(self.c_str(), self.c_str(), "--limit", function.c_str(), terminal.c_str(),
            limit_server.c_str(), file.c_str(), nullptr);
    }
    execl(self.c_str(), self.c_str(), "--one", function.c_str(), terminal.c_str(),
          g_literal ? "literal" : "kept", file.c_str(), nullptr);
    _exit(127);
  }
  close(pipefd[1]);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  int wstatus = 0;
  WaitAndMeasure(pid, start, &wstatus, &m);
  std::sscanf(text.c_str(), "%lld %ld %d %lld", &m.statements, &m.badges, &m.status, &m.trips);
  return m;
}

void WriteConfig(const fs::path& path, const std::string& server) {
  std::ofstream out(path, std::ios::binary);
  const std::pair<const char*, std::string> entries[] = {
      {"LOGIN", "bench"}, {"PASS", "bench"}, {"SQLSERVER", server}, {"SCHEMA", "ZrSystem."}};
  int n = 0;
  for (const auto& [key, value] : entries) {
    out << "DB;Korvantis;\r\n" << ++n << ";" << key << ";" << plom::EncipherValue(value) << "\r\n";
  }
}

constexpr char kDataSource[] = "PlomBench";

std::string SqliteOdbcDriver() {
  for (const char* p :
       {"/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so",
        "/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so", "/usr/lib/odbc/libsqlite3odbc.so",
        "/usr/lib64/libsqlite3odbc.so", "/usr/local/lib/libsqlite3odbc.so"}) {
    if (fs::exists(p)) return p;
  }
  std::fprintf(stderr, "--odbc: SQLite ODBC driver (libsqliteodbc) not installed\n");
  std::exit(1);
}

// The data source of the benchmark database, in odbc.ini files of the work
// directory (the children find them through ODBCSYSINI); the line store's
// collation comes from the extension module beside this program.
void RegisterDataSource(const fs::path& work, const fs::path& db, const fs::path& bin_dir) {
  fs::path dir = work / "odbc";
  fs::create_directories(dir);
  std::ofstream(dir / "odbcinst.ini") << "[PLite]\nDriver=" << SqliteOdbcDriver() << "\n";
  std::ofstream(dir / "odbc.ini") << "[" << kDataSource
                                  << "]\nDriver=PLite\nDatabase=" << db.string()
                                  << "\nNoCreat=1\nLoadExt="
                                  << (bin_dir / "libplomvarde-collation.so").string() << "\n";
  setenv("ODBCSYSINI", dir.c_str(), 1);
  unsetenv("ODBCINI");
}

// Lays out an installation of n badges; returns the working directory.
std::string Prepare(const fs::path& work, const fs::path& bin_dir, long n) {
  fs::path root = work / std::to_string(n);
  fs::remove_all(root);
  fs::create_directories(root / "files");
  fs::create_directories(root / "run" / "terminal");
  fs::path db = root / "files" / "plomvarde.db";
  std::string cmd = (bin_dir / "plomvarde-sample").string() + " --badges " + std::to_string(n) +
                    " " + db.string() + " >/dev/null";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "sample installation failed: %s\n", cmd.c_str());
    std::exit(1);
  }
  if (g_odbc) {
    RegisterDataSource(work, fs::absolute(db), bin_dir);
    WriteConfig(root / "files" / "korvantis.ini", kDataSource);
  } else {
    WriteConfig(root / "files" / "korvantis.ini", "sqlite:../../files/plomvarde.db");
  }
  return (root / "run" / "terminal").string();
}

// A second 12-reader terminal: TERM12's readers under codes of their own
// (Z24..), with TERM12's permissions, clients and terminal type.
bool AddSecondTerminal(const fs::path& db) {
  sqlite3* h = nullptr;
  if (sqlite3_open(db.c_str(), &h) != SQLITE_OK) return false;
  const char* sql =
      "INSERT INTO \"ZrSystem.Zrt401Zls\" SELECT 'TERM24', ZlsLes, 'Z24' || substr(ZlsZko, 4) "
      "FROM \"ZrSystem.Zrt401Zls\" WHERE ZlsTrm = 'TERM12';"
      "INSERT INTO \"ZrSystem.Zrt404Zbr\" SELECT ZbrZbk, 'Z24' || substr(ZbrZko, 4), ZbrZtb "
      "FROM \"ZrSystem.Zrt404Zbr\" WHERE ZbrZko LIKE 'Z12%';"
      "INSERT INTO \"ZrSystem.Zrt115Tfz\" SELECT 'TERM24', TfzLiz, TfzMnd "
      "FROM \"ZrSystem.Zrt115Tfz\" WHERE TfzTrm = 'TERM12';"
      "INSERT INTO \"ZrSystem.Zrt114Tsm\" SELECT 'TERM24', TsmTyp "
      "FROM \"ZrSystem.Zrt114Tsm\" WHERE TsmNam = 'TERM12';";
  char* err = nullptr;
  bool ok = sqlite3_exec(h, sql, nullptr, nullptr, &err) == SQLITE_OK;
  if (!ok) std::fprintf(stderr, "second terminal: %s\n", err ? err : "?");
  sqlite3_free(err);
  sqlite3_close(h);
  return ok;
}

struct SiteRun {
  std::string function, terminal, file;
};

std::vector<SiteRun> SitePlan() {
  std::vector<SiteRun> runs;
  for (const char* t : {"TERM12", "TERM24"}) {
    for (const char* fn : kFunctions) runs.push_back({fn, t, std::string("site_") + fn + "_" + t});
  }
  return runs;
}

// plomvarde-batch on the plan, standard output to a file; its report gives
// the statements and records.
Measure SpawnBatch(const fs::path& batch, const std::string& cwd, long long* records) {
  Measure m;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    FILE* out = std::freopen("site.out", "w", stdout);
    if (out == nullptr) _exit(127);
    execl(batch.c_str(), batch.c_str(), "--report", "site.jsonl", "site.plan", nullptr);
    _exit(127);
  }
  int wstatus = 0;
  WaitAndMeasure(pid, start, &wstatus, &m);
  m.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  std::ifstream rep(cwd + "/site.jsonl");
  std::string line, last;
  while (std::getline(rep, line)) last = line;
  if (!last.empty()) {
    auto j = nlohmann::json::parse(last, nullptr, false);
    if (!j.is_discarded()) {
      m.statements = j.value("statements", 0LL);
      m.badges = j.value("badges_read", 0L);
      *records = j.value("records_written", 0LL);
    }
  }
  return m;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int RunSite(const fs::path& self, const fs::path& work, long n, int rounds) {
  std::string cwd = Prepare(work / "site", self.parent_path(), n);
  if (!AddSecondTerminal(fs::path(cwd) / "../../files/plomvarde.db")) return 1;
  std::vector<SiteRun> runs = SitePlan();
  {
    std::ofstream plan(cwd + "/site.plan");
    for (const auto& r : runs) plan << r.function << " " << r.terminal << " " << r.file << " 1\n";
  }
  fs::path batch = self.parent_path() / "plomvarde-batch";
  long long records = 0;
  // Unmeasured: fills the line store and the files, as the night before did.
  SpawnBatch(batch, cwd, &records);

  Measure best_sep, best_batch;
  best_sep.seconds = best_batch.seconds = 1e9;
  bool equal = true;
  for (int round = 0; round < rounds; ++round) {
    Measure sep;
    sep.status = 0;
    for (const auto& r : runs) {
      Measure m = Spawn(self.string(), cwd, r.function, r.terminal, r.file);
      sep.seconds += m.seconds;
      sep.cpu_seconds += m.cpu_seconds;
      sep.peak_kb = std::max(sep.peak_kb, m.peak_kb);
      sep.statements += m.statements;
      sep.badges += m.badges;
      sep.status = std::max(sep.status, m.status);
    }
    std::vector<std::string> files;
    for (const auto& r : runs) files.push_back(ReadAll(cwd + "/" + r.file));
    Measure b = SpawnBatch(batch, cwd, &records);
    for (size_t i = 0; i < runs.size(); ++i) {
      if (files[i].empty() || ReadAll(cwd + "/" + runs[i].file) != files[i]) {
        std::fprintf(stderr, "site: %s differs between batch and separate runs\n",
                     runs[i].file.c_str());
        equal = false;
      }
    }
    std::printf("round %d: separate %.2f s (cpu %.2f s), batch %.2f s (cpu %.2f s)\n", round + 1,
                sep.seconds, sep.cpu_seconds, b.seconds, b.cpu_seconds);
    std::fflush(stdout);
    if (sep.seconds < best_sep.seconds) best_sep = sep;
    if (b.seconds < best_batch.seconds) best_batch = b;
  }
  double rec = records > 0 ? static_cast<double>(records) : 1;
  std::printf("\nsite: 10 runs (5 functions x TERM12, TERM24), %ld badges, %lld records written\n",
              n, records);
  std::printf("%-22s %8s %8s %8s %12s %10s %6s\n", "", "wall_s", "cpu_s", "peak_MB", "statements",
              "stmts/rec", "exit");
  std::printf("%-22s %8.2f %8.2f %8.1f %12lld %10.2f %6d\n", "10 separate processes",
              best_sep.seconds, best_sep.cpu_seconds, best_sep.peak_kb / 1024.0,
              best_sep.statements, best_sep.statements / rec, best_sep.status);
  std::printf("%-22s %8.2f %8.2f %8.1f %12lld %10.2f %6d\n", "plomvarde-batch", best_batch.seconds,
              best_batch.cpu_seconds, best_batch.peak_kb / 1024.0, best_batch.statements,
              best_batch.statements / rec, best_batch.status);
  double ratio = best_sep.seconds > 0 ? best_batch.seconds / best_sep.seconds : 0;
  double cpu_ratio = best_sep.cpu_seconds > 0 ? best_batch.cpu_seconds / best_sep.cpu_seconds : 0;
  std::printf(
      "batch / separate wall time: %.2f (target <= 0.33), cpu time %.2f; statements per "
      "record %.2f (target <= 2.5); peak %.1f MB (target < 400); files equal: %s\n",
      ratio, cpu_ratio, best_batch.statements / rec, best_batch.peak_kb / 1024.0,
      equal ? "yes" : "NO");
  return equal && best_batch.status == 0 && best_sep.status == 0 ? 0 : 1;
}

const char kUsage[] =
    "usage: plomvarde-bench [--sizes N,N...] [--terminal T] [--work DIR] [--literal] [--odbc]\n"
    "                       [--latency-ms X]\n"
    "       plomvarde-bench --site N [--rounds R] [--work DIR]\n"
    "  Builds sample installations of N badges and measures every download function\n"
    "  on them (default sizes 10000,100000, terminal TERM12, DIR bench-work beside\n"
    "  the program); --site measures the five functions on two terminals as one\n"
    "  plomvarde-batch against 10 separate processes. --literal: no kept answers,\n"
    "  one transaction per line; --odbc: through the SQLite ODBC driver;\n"
    "  --latency-ms X: adds X ms per round trip to the site time shown.\n";

// A positive whole number of an option, or a usage error.
bool Count(const plom::cli::CommandLine& cl, const char* name, long* out) {
  if (!cl.Has(name)) return true;
  return plom::cli::TakeNumber(cl.Value(name), 1, 100000000, out);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  if (int bad = plom::cli::Arguments(argc, argv, &args)) {
    return plom::cli::UsageError("plomvarde-bench", plom::cli::NotStorable(bad), kUsage);
  }
  plom::cli::CommandLine cl;
  const std::vector<plom::cli::OptionDef> defs = {
      {"one", 0, false},  {"limit", 0, false}, {"literal", 0, false}, {"odbc", 0, false},
      {"sizes", 0, true}, {"work", 0, true},   {"terminal", 0, true}, {"latency-ms", 0, true},
      {"site", 0, true},  {"rounds", 0, true}};
  if (!plom::cli::Parse(args, defs, &cl)) {
    return plom::cli::UsageError("plomvarde-bench", cl.error, kUsage);
  }
  if (cl.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (cl.version) {
    std::fputs(plom::cli::VersionLine("plomvarde-bench").c_str(), stdout);
    return 0;
  }
  const std::vector<std::string>& ops = cl.operands;
  if (cl.Has("one")) {
    // A child of the benchmark: FUNCTION TERMINAL literal|kept FILE.
    if (ops.size() != 4) return plom::cli::UsageError("plomvarde-bench", "--one takes 4", kUsage);
    return RunOne(ops[0], ops[1], ops[2] == "literal", ops[3]);
  }
  if (cl.Has("limit")) {
    // A child of the benchmark: FUNCTION TERMINAL SERVER FILE.
    if (ops.size() != 4) return plom::cli::UsageError("plomvarde-bench", "--limit takes 4", kUsage);
    return RunLimit(ops[0], ops[1], ops[2], ops[3]);
  }
  if (!ops.empty()) return plom::cli::UsageError("plomvarde-bench", "no operands", kUsage);
  // Every statement as the plain sequence sends it: no kept answers, one
  // transaction per line.
  g_literal = cl.Has("literal");
  g_odbc = cl.Has("odbc");
  long site = 0;
  long rounds = 2;
  std::vector<long> sizes = {10000, 100000};
  fs::path work;  // default: bench-work beside the program, in the build folder
  std::string terminal = cl.Has("terminal") ? cl.Value("terminal") : "TERM12";
  if (cl.Has("work")) work = cl.Value("work");
  if (cl.Has("sizes")) {
    sizes.clear();
    std::stringstream ss(cl.Value("sizes"));
    for (std::string item; std::getline(ss, item, ',');) {
      long n = 0;
      if (!plom::cli::TakeNumber(item, 1, 9000000, &n)) {
        return plom::cli::UsageError("plomvarde-bench", "--sizes: counts from 1 to 9000000",
                                     kUsage);
      }
      sizes.push_back(n);
    }
  }
  if (!Count(cl, "site", &site) || !Count(cl, "rounds", &rounds)) {
    return plom::cli::UsageError("plomvarde-bench", "--site and --rounds take a count", kUsage);
  }
  if (cl.Has("latency-ms")) {
    char* end = nullptr;
    std::string v = cl.Value("latency-ms");
    g_latency_ms = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || g_latency_ms < 0) {
      return plom::cli::UsageError("plomvarde-bench", "--latency-ms takes milliseconds", kUsage);
    }
  }
  fs::path self = fs::canonical("/proc/self/exe");
  work = work.empty() ? self.parent_path() / "bench-work" : fs::absolute(work);
  if (site > 0) return RunSite(self, work, site, static_cast<int>(rounds));

  std::map<std::pair<std::string, long>, Measure> results;
  std::printf("%-9s %8s %8s %10s %8s %10s %10s %8s %6s %8s %8s %8s\n", "function", "badges",
              "wall_s", "badges/s", "peak_MB", "stmts/bdg", "trips/bdg", "site_s", "exit",
              "limit_s", "x_limit", "limit_MB");
  for (long n : sizes) {
    std::string cwd = Prepare(work, self.parent_path(), n);
    const std::string server =
        g_odbc
            ? std::string(kDataSource)
            : "sqlite:" + (fs::path(cwd) / "../../files/plomvarde.db").lexically_normal().string();
    for (const char* fn : kFunctions) {
      // The function and its limit on the lines it wrote, in turns; of
      // three pairs the faster of each (the machine's neighbours vary).
      Measure m, limit;
      for (int pair = 0; pair < 3; ++pair) {
        Measure a = Spawn(self.string(), cwd, fn, terminal);
        Measure b = Spawn(self.string(), cwd, fn, terminal, "bench.dnl", server);
        if (b.status != 0) std::fprintf(stderr, "%s: the limit was not measured\n", fn);
        if (pair == 0 || a.seconds < m.seconds) m = a;
        if (pair == 0 || b.seconds < limit.seconds) limit = b;
      }
      results[{fn, n}] = m;
      double per = m.badges > 0 ? static_cast<double>(m.statements) / m.badges : 0;
      double trips = m.badges > 0 ? static_cast<double>(m.trips) / m.badges : 0;
      // A site's wall time: this machine's plus the wire's for every round trip.
      double site_s = m.seconds + static_cast<double>(m.trips) * g_latency_ms / 1000.0;
      std::printf("%-9s %8ld %8.2f %10.0f %8.1f %10.2f %10.2f %8.1f %6d %8.2f %8.2f %8.1f\n", fn,
                  m.badges, m.seconds, m.seconds > 0 ? m.badges / m.seconds : 0, m.peak_kb / 1024.0,
                  per, trips, site_s, m.status, limit.seconds,
                  limit.seconds > 0 ? m.seconds / limit.seconds : 0, limit.peak_kb / 1024.0);
      std::fflush(stdout);
    }
  }
  if (sizes.size() >= 2) {
    long small = sizes.front(), large = sizes.back();
    std::printf("\ntime ratio %ld/%ld:\n", large, small);
    for (const char* fn : kFunctions) {
      const Measure& a = results[{fn, small}];
      const Measure& b = results[{fn, large}];
      std::printf("%-9s %6.2f\n", fn, a.seconds > 0 ? b.seconds / a.seconds : 0);
    }
  }
  return 0;
}
