#include "driver/batch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <tuple>

#include "cli/options.h"
#include "db/codepage.h"
#include "driver/prune_store.h"
#include "platform/arguments.h"
#include "platform/files.h"
#include "version.h"

namespace plom {
namespace {

constexpr size_t kRunFields = 4;

// The fields of a plan line: blank- or tab-separated, up to a "#".
std::vector<std::string> SplitFields(std::string line) {
  line = line.substr(0, line.find('#'));
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string f; in >> f;) fields.push_back(f);
  return fields;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The file as one name, whichever way the plan writes it.
std::string FileKey(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) p = path;
  return p.lexically_normal().string();
}

std::string LineRefusal(int line, const std::string& why) {
  return "Zeile " + std::to_string(line) + ": " + why;
}

// Checks the fields of one line as the tool checks its arguments.
bool TakeRun(int line, const std::vector<std::string>& fields, PlanRun* run, std::string* why) {
  if (fields.size() != kRunFields) {
    *why = LineRefusal(line,
                       (fields.size() < kRunFields ? "zu wenige Felder (" : "zu viele Felder (") +
                           std::to_string(fields.size()) + " statt 4)");
    return false;
  }
  std::string said;
  Messages msg(&said);
  run->line = line;
  run->args = fields;
  if (!TakeArguments(fields, msg, &run->params)) {
    *why = LineRefusal(line, FirstLine(said));
    return false;
  }
  return true;
}

}  // namespace

bool ParsePlan(const std::string& text, std::vector<PlanRun>* runs,
               std::vector<std::string>* refusals) {
  std::map<std::string, int> files;  // file -> line naming it first
  std::istringstream in(text);
  int line_no = 0;
  size_t refused = refusals->size();
  for (std::string line; std::getline(in, line);) {
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields = SplitFields(line);
    if (fields.empty()) continue;
    PlanRun run;
    std::string why;
    if (!TakeRun(line_no, fields, &run, &why)) {
      refusals->push_back(why);
      continue;
    }
    auto [it, first] = files.emplace(FileKey(run.params.path), line_no);
    if (!first) {
      refusals->push_back(LineRefusal(
          line_no,
          "Datei " + run.params.path + " steht schon in Zeile " + std::to_string(it->second)));
      continue;
    }
    runs->push_back(std::move(run));
  }
  if (runs->empty() && refusals->size() == refused) {
    refusals->push_back("Ablaufplan ohne Lauf");
  }
  return refusals->size() == refused;
}

namespace {

std::string Joined(const std::vector<std::string>& fields) {
  std::string s;
  for (const auto& f : fields) s += (s.empty() ? "" : " ") + f;
  return s;
}

std::string Utc(std::chrono::system_clock::time_point t) {
  std::time_t tt = std::chrono::system_clock::to_time_t(t);
  std::tm tm;
  gmtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::string JsonLine(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

nlohmann::json KindCounts(const std::map<std::string, int>& kinds) {
  nlohmann::json j = nlohmann::json::object();
  for (const auto& [kind, n] : kinds) j[Cp1252ToUtf8(kind)] = n;
  return j;
}

nlohmann::json RunObject(const RunOutcome& o, bool dry_run, bool with_messages) {
  const RunFigures& f = o.figures;
  nlohmann::json j = {
      {"type", "run"},
      {"line", o.run.line},
      {"function", o.run.params.function},
      {"terminal", Cp1252ToUtf8(o.run.params.terminal)},
      {"file", Cp1252ToUtf8(o.run.params.path)},
      {"new", o.run.params.replace},
      {"badges_read", f.badges_read},
      {"records_written", f.records_written},
      {"lines_lost", f.lines_lost},
      {"seconds", f.seconds},
      {"statements", f.statements},
      {"status", f.status},
      {"message_kinds", KindCounts(o.kinds)},
  };
  if (with_messages) j["messages"] = Cp1252ToUtf8(o.messages);
  if (dry_run) {
    j["added"] = f.added;
    j["removed"] = f.removed;
    j["changed"] = f.changed;
  }
  return j;
}

struct Totals {
  size_t runs = 0;
  int64_t badges = 0, records = 0, lost = 0, statements = 0;
  int status = kExitOk;
};

Totals Sum(const std::vector<RunOutcome>& outcomes) {
  Totals t;
  for (const auto& o : outcomes) {
    if (!o.ran) continue;
    ++t.runs;
    t.badges += o.figures.badges_read;
    t.records += o.figures.records_written;
    t.lost += o.figures.lines_lost;
    t.statements += o.figures.statements;
    t.status = std::max(t.status, o.figures.status);
  }
  return t;
}

void PrintBlock(FILE* out, const RunOutcome& o, size_t index, size_t count) {
  std::fprintf(out, "=== Lauf %zu/%zu (Zeile %d): %s ===\n", index + 1, count, o.run.line,
               Joined(o.run.args).c_str());
  std::fwrite(o.messages.data(), 1, o.messages.size(), out);
  // Some messages have no line end of their own.
  if (!o.messages.empty() && o.messages.back() != '\n') std::fputc('\n', out);
  std::fflush(out);
}

void PrintSummary(FILE* out, const std::vector<RunOutcome>& outcomes, bool dry_run,
                  double seconds) {
  int file_width = 5;
  for (const auto& o : outcomes) {
    file_width = std::max(file_width, static_cast<int>(o.run.params.path.size()));
  }
  std::fprintf(out, "\n%-8s  %-10s  %-*s  %9s  %9s  %8s  %8s  %6s", "Funktion", "Terminal",
               file_width, "Datei", "Ausweise", "Saetze", "verloren", "Sekunden", "Status");
  if (dry_run) std::fprintf(out, "  %7s  %8s  %9s", "neu", "entfernt", "geaendert");
  std::fputc('\n', out);
  for (const auto& o : outcomes) {
    if (!o.ran) continue;
    const RunFigures& f = o.figures;
    std::fprintf(out, "%-8s  %-10s  %-*s  %9lld  %9lld  %8d  %8.2f  %6d",
                 o.run.params.function.c_str(), o.run.params.terminal.c_str(), file_width,
                 o.run.params.path.c_str(), static_cast<long long>(f.badges_read),
                 static_cast<long long>(f.records_written), f.lines_lost, f.seconds, f.status);
    if (dry_run) {
      std::fprintf(out, "  %7lld  %8lld  %9lld", static_cast<long long>(f.added),
                   static_cast<long long>(f.removed), static_cast<long long>(f.changed));
    }
    std::fputc('\n', out);
  }
  Totals t = Sum(outcomes);
  std::fprintf(
      out,
      "Laeufe: %zu  Ausweise: %lld  Saetze: %lld  verloren: %lld  Sekunden: %.2f  Status: %d\n",
      t.runs, static_cast<long long>(t.badges), static_cast<long long>(t.records),
      static_cast<long long>(t.lost), seconds, t.status);
  std::fflush(out);
}

// Prints the blocks in plan order as the runs end, and the progress line.
class BlockPrinter {
 public:
  BlockPrinter(std::vector<RunOutcome>* outcomes, const BatchOptions& options)
      : outcomes_(*outcomes),
        options_(options),
        done_(outcomes->size(), false),
        start_(std::chrono::steady_clock::now()) {}

  void Done(size_t index) {
    std::lock_guard<std::mutex> hold(mu_);
    done_[index] = true;
    ++finished_;
    badges_ += outcomes_[index].figures.badges_read;
    while (next_ < done_.size() && done_[next_]) {
      if (!outcomes_[next_].ran) {
        ++next_;
        continue;
      }
      PrintBlock(options_.out, outcomes_[next_], next_, done_.size());
      if (options_.report) {
        std::string line =
            JsonLine(RunObject(outcomes_[next_], options_.run.dry_run, options_.report_messages));
        std::fwrite(line.data(), 1, line.size(), options_.report);
        std::fflush(options_.report);
      }
      ++next_;
    }
    ShowProgress();
  }

  void EndProgress() {
    if (options_.progress == nullptr) return;
    std::fprintf(options_.progress, "\r%*s\r", 70, "");
    std::fflush(options_.progress);
  }

 private:
  void ShowProgress() {
    if (options_.progress == nullptr) return;
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double rate = elapsed > 0 ? static_cast<double>(badges_) / elapsed : 0;
    double left =
        elapsed / static_cast<double>(finished_) * static_cast<double>(done_.size() - finished_);
    std::fprintf(options_.progress, "\rLaeufe %zu/%zu  %.0f Ausweise/s  noch ca. %.0f s   ",
                 finished_, done_.size(), rate, left);
    std::fflush(options_.progress);
  }

  std::vector<RunOutcome>& outcomes_;
  const BatchOptions& options_;
  std::mutex mu_;
  std::vector<bool> done_;
  size_t next_ = 0;
  size_t finished_ = 0;
  int64_t badges_ = 0;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace

namespace {
std::atomic<int> g_stop_signal{0};
}  // namespace

void StopBatch(int signal) {
  int none = 0;
  g_stop_signal.compare_exchange_strong(none, signal);
}

int BatchStopSignal() { return g_stop_signal.load(); }

std::vector<size_t> StartOrder(const std::vector<PlanRun>& plan) {
  // The first run of a function asks the answers that are not kept yet;
  // the others mostly find them. VQDNL18P asks the balances and the
  // vacation figures, the most of all; beside it VQDNL31P (access rights,
  // location texts) and IDSTAMM (access rights, person data), which ask
  // none of the same; by the time VQDNL17P (balances, access rights,
  // location texts) and VQDNL60P (balances, access rights) start, their
  // answers are kept or being asked. Two runs that ask the same answers
  // side by side would wait for each other at nearly every badge.
  static const char* const kOrder[] = {"VQDNL18P", "VQDNL31P", "IDSTAMM", "VQDNL17P", "VQDNL60P"};
  auto rank = [](const std::string& function) {
    size_t n = std::size(kOrder);
    for (size_t i = 0; i < n; ++i) {
      if (function == kOrder[i]) return i;
    }
    return n;
  };
  std::map<std::string, int> seen;
  struct Key {
    bool later;  // not the first run of its function in the plan
    size_t rank;
    size_t index;
  };
  std::vector<Key> keys;
  for (size_t i = 0; i < plan.size(); ++i) {
    const std::string& f = plan[i].params.function;
    keys.push_back({seen[f]++ > 0, rank(f), i});
  }
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    return std::tie(a.later, a.rank, a.index) < std::tie(b.later, b.rank, b.index);
  });
  std::vector<size_t> order;
  for (const Key& k : keys) order.push_back(k.index);
  return order;
}

int RunBatch(const std::vector<PlanRun>& plan, const BatchOptions& options,
             std::vector<RunOutcome>* outcomes_out) {
  auto start = std::chrono::system_clock::now();
  auto steady_start = std::chrono::steady_clock::now();
  std::vector<RunOutcome> outcomes(plan.size());
  for (size_t i = 0; i < plan.size(); ++i) outcomes[i].run = plan[i];
  BlockPrinter printer(&outcomes, options);
  SharedAnswers shared;
  std::mutex line_store_writes;
  RunOptions run_options = options.run;
  if (options.share) run_options.shared = &shared;
  // The schemas' answers read at once stay for the whole batch: room for
  // several schemas' answers.
  BulkAnswers bulk(4 * run_options.answer_memory);
  if (options.share && run_options.reuse_answers) run_options.bulk = &bulk;
  run_options.line_store_writes = &line_store_writes;

  std::vector<size_t> order = StartOrder(plan);
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t n; (n = next.fetch_add(1)) < order.size();) {
      size_t i = order[n];
      if (BatchStopSignal() == 0) {
        Messages msg(&outcomes[i].messages);
        outcomes[i].figures = RunDownload(plan[i].params, msg, run_options);
        outcomes[i].kinds = msg.kinds();
        outcomes[i].ran = true;
      }
      printer.Done(i);
    }
  };
  size_t workers = std::min(plan.size(), static_cast<size_t>(std::max(1, options.jobs)));
  std::vector<std::thread> threads;
  for (size_t w = 1; w < workers; ++w) threads.emplace_back(work);
  work();
  for (auto& t : threads) t.join();
  printer.EndProgress();

  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - steady_start).count();
  PrintSummary(options.out, outcomes, options.run.dry_run, seconds);
  Totals t = Sum(outcomes);
  if (options.report) {
    nlohmann::json j = {{"type", "batch"},
                        {"start", Utc(start)},
                        {"end", Utc(std::chrono::system_clock::now())},
                        {"runs", t.runs},
                        {"planned_runs", outcomes.size()},
                        {"badges_read", t.badges},
                        {"records_written", t.records},
                        {"lines_lost", t.lost},
                        {"statements", t.statements},
                        {"seconds", seconds},
                        {"dry_run", options.run.dry_run},
                        {"exit_status", BatchStopSignal() ? 128 + BatchStopSignal() : t.status}};
    if (BatchStopSignal()) j["stopped_by_signal"] = BatchStopSignal();
    std::string line = JsonLine(j);
    std::fwrite(line.data(), 1, line.size(), options.report);
    std::fflush(options.report);
  }
  if (outcomes_out) *outcomes_out = std::move(outcomes);
  return BatchStopSignal() ? 128 + BatchStopSignal() : t.status;
}

namespace {

const char kBatchUsage[] =
    "Aufruf: plomvarde-batch [OPTIONEN] PLAN\n"
    "PLAN: je Zeile ein Lauf: DNL-Funktion Terminal-Name Pfad neu(1/0); - liest von der "
    "Standardeingabe\n"
    "  -j, --jobs N          N Laeufe gleichzeitig (Vorgabe: Anzahl Kerne)\n"
    "      --report DATEI    Bericht als JSON Lines, angehaengt (je Batch eine Kopfzeile)\n"
    "      --report-messages die Meldungen jedes Laufs ganz in den Bericht\n"
    "      --metrics DATEI   Kennzahlen fuer Prometheus (Textdatei des node_exporter)\n"
    "      --guard PROZENT   Datei behalten, wenn die neue weniger als PROZENT % der "
    "Saetze hat (Vorgabe 10, 0: aus)\n"
    "      --guard-min N     der Waechter urteilt erst ab N Saetzen der alten Datei "
    "(Vorgabe 20)\n"
    "      --dry-run         DATEI.new schreiben statt DATEI, Aenderungen zaehlen\n"
    "      --prune-store     Zeilen der Dateien aus dem Zeilenspeicher entfernen, die PLAN\n"
    "                        nicht mehr hat (mit --dry-run nur auflisten)\n"
    "      --help, --version\n"
    "SIGTERM/SIGINT: kein neuer Lauf, laufende enden, Bericht und Kennzahlen werden\n"
    "geschrieben, Exit-Status 128 + Signal.\n";

int UsageError(const std::string& why) {
  return cli::UsageError("plomvarde-batch", why, kBatchUsage);
}

bool ReadPlan(const std::string& name, std::string* text, std::string* reason) {
  if (name == "-") {
    std::ostringstream s;
    s << std::cin.rdbuf();
    *text = s.str();
    if (std::cin.bad()) *reason = "Lesefehler der Standardeingabe";
    return !std::cin.bad();
  }
  if (!ReadWholeFile(name, text)) {
    *reason = std::strerror(errno);
    return false;
  }
  return true;
}

struct CommandLine {
  int jobs = 0;
  int guard_pct = kDefaultGuardPct;
  size_t guard_min = kGuardMinRecords;
  bool dry_run = false;
  bool prune_store = false;
  bool report_messages = false;
  std::string report;
  std::string metrics;
  std::string plan;
};

// Reads the command line; returns the status to end with at once (help,
// version, a usage error), or -1 to run.
int TakeCommandLine(const std::vector<std::string>& args, CommandLine* cl) {
  static const std::vector<cli::OptionDef> kOptionDefs = {
      {"jobs", 'j', true},   {"report", 0, true},      {"report-messages", 0, false},
      {"metrics", 0, true},  {"guard", 0, true},       {"guard-min", 0, true},
      {"dry-run", 0, false}, {"prune-store", 0, false}};
  cli::CommandLine c;
  if (!cli::Parse(args, kOptionDefs, &c)) return UsageError(c.error);
  if (c.help) {
    std::fputs(kBatchUsage, stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitCantWrite;
  }
  if (c.version) {
    std::fputs(cli::VersionLine("plomvarde-batch").c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitCantWrite;
  }
  long n = 0;
  if (c.Has("jobs")) {
    if (!cli::TakeNumber(c.Value("jobs"), 1, 1024, &n)) {
      return UsageError("Ungueltige Anzahl Laeufe: " + c.Value("jobs"));
    }
    cl->jobs = static_cast<int>(n);
  }
  if (c.Has("guard")) {
    if (!cli::TakeNumber(c.Value("guard"), 0, 100, &n)) {
      return UsageError("Ungueltiger Prozentsatz: " + c.Value("guard"));
    }
    cl->guard_pct = static_cast<int>(n);
  }
  if (c.Has("guard-min")) {
    if (!cli::TakeNumber(c.Value("guard-min"), 0, 1000000000, &n)) {
      return UsageError("Ungueltige Mindestzahl Saetze: " + c.Value("guard-min"));
    }
    cl->guard_min = static_cast<size_t>(n);
  }
  cl->dry_run = c.Has("dry-run");
  cl->prune_store = c.Has("prune-store");
  cl->report_messages = c.Has("report-messages");
  cl->report = c.Value("report");
  cl->metrics = c.Value("metrics");
  if (c.Has("report") && cl->report.empty()) return UsageError("--report braucht eine Datei");
  if (c.Has("metrics") && cl->metrics.empty()) return UsageError("--metrics braucht eine Datei");
  if (c.operands.size() != 1) return UsageError("Genau ein Ablaufplan erwartet!");
  cl->plan = c.operands[0];
  return -1;
}

// A label value of the Prometheus text format.
std::string Label(const std::string& cp1252) {
  std::string out;
  for (char ch : Cp1252ToUtf8(cp1252)) {
    if (ch == '\\' || ch == '"') out += '\\';
    if (ch == '\n') {
      out += "\\n";
      continue;
    }
    out += ch;
  }
  return out;
}

std::string Number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

constexpr char kLastSuccess[] = "plomvarde_batch_last_success_timestamp_seconds";

// The metrics of the batch for node_exporter's textfile collector. The
// last success stays as the previous file had it when this batch failed.
std::string Metrics(const std::vector<RunOutcome>& outcomes, double start, double end, int status,
                    const std::string& previous) {
  struct Family {
    const char* name;
    const char* help;
    double (*value)(const RunFigures&);
  };
  static const Family kFamilies[] = {
      {"plomvarde_run_exit_status", "Exit status of the run in the last batch.",
       [](const RunFigures& f) { return double(f.status); }},
      {"plomvarde_run_records", "Records of the download file the run wrote.",
       [](const RunFigures& f) { return double(f.records_written); }},
      {"plomvarde_run_refused_lines", "Lines the line store refused in the run.",
       [](const RunFigures& f) { return double(f.lines_lost); }},
      {"plomvarde_run_duration_seconds", "Duration of the run.",
       [](const RunFigures& f) { return f.seconds; }},
  };
  std::string m;
  for (const Family& fam : kFamilies) {
    m += std::string("# HELP ") + fam.name + " " + fam.help + "\n";
    m += std::string("# TYPE ") + fam.name + " gauge\n";
    for (const RunOutcome& o : outcomes) {
      if (!o.ran) continue;
      m += std::string(fam.name) + "{function=\"" + Label(o.run.params.function) +
           "\",terminal=\"" + Label(o.run.params.terminal) + "\",file=\"" +
           Label(o.run.params.path) + "\"} " + Number(fam.value(o.figures)) + "\n";
    }
  }
  m += "# HELP plomvarde_batch_exit_status Exit status of the last batch.\n"
       "# TYPE plomvarde_batch_exit_status gauge\n"
       "plomvarde_batch_exit_status " +
       std::to_string(status) + "\n";
  m += "# HELP plomvarde_batch_last_start_timestamp_seconds Start of the last batch.\n"
       "# TYPE plomvarde_batch_last_start_timestamp_seconds gauge\n"
       "plomvarde_batch_last_start_timestamp_seconds " +
       Number(start) + "\n";
  std::string success;
  if (status == kExitOk) {
    success = Number(end);
  } else {
    std::istringstream in(previous);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(std::string(kLastSuccess) + " ", 0) == 0) {
        success = line.substr(std::strlen(kLastSuccess) + 1);
      }
    }
  }
  if (!success.empty()) {
    m += std::string("# HELP ") + kLastSuccess + " End of the last batch that ended with 0.\n" +
         "# TYPE " + kLastSuccess + " gauge\n" + kLastSuccess + " " + success + "\n";
  }
  return m;
}

double Seconds(std::chrono::system_clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

}  // namespace

int BatchMain(const std::vector<std::string>& args) {
  CommandLine cl;
  if (int status = TakeCommandLine(args, &cl); status >= 0) return status;
  auto start = std::chrono::system_clock::now();
  std::string text, reason;
  if (!ReadPlan(cl.plan, &text, &reason)) {
    std::printf("Ablaufplan %s nicht lesbar: %s\n", cl.plan.c_str(), reason.c_str());
    std::fflush(stdout);
    return kExitUsage;
  }
  std::vector<PlanRun> plan;
  std::vector<std::string> refusals;
  if (!ParsePlan(text, &plan, &refusals)) {
    for (const auto& r : refusals) std::printf("Ablaufplan %s, %s\n", cl.plan.c_str(), r.c_str());
    std::printf("Ablaufplan abgelehnt, kein Lauf gestartet.\n");
    std::fflush(stdout);
    return kExitUsage;
  }

  if (cl.prune_store) {
    Messages msg(stdout);
    int status = PruneLineStore(plan, DefaultRunOptions(), cl.dry_run, msg);
    if (!msg.Flush() && status == kExitOk) status = kExitCantWrite;
    return status;
  }

  BatchOptions options;
  options.run = DefaultRunOptions();
  options.run.guard_pct = cl.guard_pct;
  options.run.guard_min = cl.guard_min;
  options.run.dry_run = cl.dry_run;
  options.jobs = cl.jobs > 0 ? cl.jobs : CoreCount();
  options.progress = StandardErrorIsTerminal() ? stderr : nullptr;
  options.report_messages = cl.report_messages;
  FILE* report = nullptr;
  if (!cl.report.empty()) {
    std::string why;
    report = OpenSideFile(HostPath(cl.report), &why);
    if (report == nullptr) {
      std::printf("Bericht %s konnte nicht geoeffnet werden: %s\n", cl.report.c_str(), why.c_str());
      std::fflush(stdout);
      return kExitCantWrite;
    }
    nlohmann::json head = {{"type", "header"},
                           {"start", Utc(start)},
                           {"plan", Cp1252ToUtf8(cl.plan)},
                           {"version", PLOM_VERSION}};
    std::string line = JsonLine(head);
    std::fwrite(line.data(), 1, line.size(), report);
    std::fflush(report);
    options.report = report;
  }
  // From here a stop request lets the runs under way end and the report
  // and the metrics be written.
  OnStopRequest(StopBatch);
  std::vector<RunOutcome> outcomes;
  int status = RunBatch(plan, options, &outcomes);
  if (report != nullptr) {
    int error = std::ferror(report) ? errno : 0;
    if (std::fclose(report) != 0 && error == 0) error = errno;
    if (error != 0 || std::ferror(stdout)) {
      std::printf("Bericht %s konnte nicht geschrieben werden: %s\n", cl.report.c_str(),
                  std::strerror(error));
      status = std::max(status, static_cast<int>(kExitCantWrite));
    }
  }
  if (!cl.metrics.empty()) {
    std::string previous;
    ReadWholeFile(cl.metrics, &previous);
    std::string m = Metrics(outcomes, Seconds(start), Seconds(std::chrono::system_clock::now()),
                            status, previous);
    WriteResult w = ReplaceSideFile(cl.metrics, m);  // never through a link
    if (!w.ok()) {
      std::printf("Kennzahlen %s konnten nicht geschrieben werden: %s\n", cl.metrics.c_str(),
                  w.reason.c_str());
      status = std::max(status, static_cast<int>(kExitCantWrite));
    }
  }
  std::fflush(stdout);
  return status;
}

}  // namespace plom
