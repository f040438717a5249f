// plomvarde-batch: plan parsing and refusals, and whole batches on the
// sample installation against separate runs of plomvarde.
#include "driver/batch.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "db/key_locks.h"
#include "driver/write_out.h"
#include "installation/line_store.h"
#include "platform/files.h"
#include "tests/test_util.h"

namespace plom {
namespace {

namespace fs = std::filesystem;

const std::string kBin = PLOM_BINARY_DIR;

// ---- Plan parsing ----

struct PlanCase {
  const char* name;
  std::string text;
  std::vector<std::string> runs;      // "FUNCTION|TERMINAL|FILE|replace" of each run
  std::vector<std::string> refusals;  // messages, in line order
};

std::string Describe(const PlanRun& r) {
  return r.params.function + "|" + r.params.terminal + "|" + r.params.path + "|" +
         (r.params.replace ? "1" : "0") + "@" + std::to_string(r.line);
}

TEST(ParsePlan, Table) {
  const std::string long_path(101, 'p');
  const std::string max_path(100, 'p');
  const PlanCase cases[] = {
      {"one run", "VQDNL17P TERM12 a.dnl 1\n", {"VQDNL17P|TERM12|a.dnl|1@1"}, {}},
      {"comments, blank lines, tabs, CR LF, no last line end",
       "# nightly\n\n  \t\nVQDNL17P\tTERM12  a.dnl 1 # the big one\r\nidstamm TERM00 b.ids 0",
       {"VQDNL17P|TERM12|a.dnl|1@4", "IDSTAMM|TERM00|b.ids|0@5"},
       {}},
      {"only the first character of NEW counts",
       "VQDNL60P T a 10\nVQDNL60P T b 2\n",
       {"VQDNL60P|T|a|1@1", "VQDNL60P|T|b|0@2"},
       {}},
      {"widths at their limits",
       "VQDNL31P TERMINAL10 " + max_path + " 1\n",
       {"VQDNL31P|TERMINAL10|" + max_path + "|1@1"},
       {}},
      {"too few fields", "VQDNL17P TERM12 a.dnl\n", {}, {"Zeile 1: zu wenige Felder (3 statt 4)"}},
      {"too many fields",
       "VQDNL17P TERM12 a.dnl 1 x\n",
       {},
       {"Zeile 1: zu viele Felder (5 statt 4)"}},
      {"unknown function",
       "\nVQDNL99P TERM12 a.dnl 1\n",
       {},
       {"Zeile 2: Unbekannte DNL-Funktion: VQDNL99P"}},
      {"terminal too long",
       "VQDNL17P TERMINAL011 a.dnl 1\n",
       {},
       {"Zeile 1: Parameter zu lang: Terminal-Name"}},
      {"file too long",
       "VQDNL17P TERM12 " + long_path + " 1\n",
       {},
       {"Zeile 1: Parameter zu lang: Pfad der DNL-Datei"}},
      {"function too long",
       "VQDNL17PVQDNL17PVQDNL 1 a 1\n",
       {},
       {"Zeile 1: Parameter zu lang: DNL-Funktion"}},
      {"same file twice",
       "VQDNL17P T1 a.dnl 1\nVQDNL60P T2 a.dnl 1\n",
       {"VQDNL17P|T1|a.dnl|1@1"},
       {"Zeile 2: Datei a.dnl steht schon in Zeile 1"}},
      {"same file written another way",
       "VQDNL17P T1 a.dnl 1\nVQDNL60P T2 ./x/../a.dnl 1\n",
       {"VQDNL17P|T1|a.dnl|1@1"},
       {"Zeile 2: Datei ./x/../a.dnl steht schon in Zeile 1"}},
      {"every bad line is named",
       "VQDNL17P T a 1\nBAD T b 1\nVQDNL17P T c\nVQDNL17P T d 1\n",
       {"VQDNL17P|T|a|1@1", "VQDNL17P|T|d|1@4"},
       {"Zeile 2: Unbekannte DNL-Funktion: BAD", "Zeile 3: zu wenige Felder (3 statt 4)"}},
      {"empty plan", "# nothing tonight\n\n", {}, {"Ablaufplan ohne Lauf"}},
  };
  for (const PlanCase& c : cases) {
    std::vector<PlanRun> runs;
    std::vector<std::string> refusals;
    bool ok = ParsePlan(c.text, &runs, &refusals);
    std::vector<std::string> got;
    for (const auto& r : runs) got.push_back(Describe(r));
    EXPECT_EQ(got, c.runs) << c.name;
    EXPECT_EQ(refusals, c.refusals) << c.name;
    EXPECT_EQ(ok, c.refusals.empty()) << c.name;
  }
}

// ---- The order in which the runs start ----

TEST(StartOrder, FirstRunsOfEachFunctionFirstSideBySideThoseThatAskDifferentAnswers) {
  const struct {
    const char* name;
    std::vector<const char*> functions;  // of the plan's runs, in plan order
    std::vector<size_t> order;           // the plan indexes as started
  } cases[] = {
      {"the five functions on two terminals",
       {"VQDNL17P", "VQDNL31P", "VQDNL18P", "VQDNL60P", "IDSTAMM", "VQDNL17P", "VQDNL31P",
        "VQDNL18P", "VQDNL60P", "IDSTAMM"},
       {2, 1, 4, 0, 3, 7, 6, 9, 5, 8}},
      {"plan order among runs of one function", {"VQDNL60P", "VQDNL60P", "VQDNL60P"}, {0, 1, 2}},
      {"a function's first run before any second run",
       {"VQDNL60P", "VQDNL60P", "VQDNL17P", "VQDNL17P"},
       {2, 0, 3, 1}},
      {"one run", {"IDSTAMM"}, {0}},
  };
  for (const auto& c : cases) {
    std::string text;
    for (size_t i = 0; i < c.functions.size(); ++i) {
      text += std::string(c.functions[i]) + " T f" + std::to_string(i) + " 1\n";
    }
    std::vector<PlanRun> plan;
    std::vector<std::string> refusals;
    ASSERT_TRUE(ParsePlan(text, &plan, &refusals)) << c.name;
    EXPECT_EQ(StartOrder(plan), c.order) << c.name;
  }
}

// ---- Whole batches on the sample installation ----

struct Shelled {
  int status = -1;
  std::string out, err;
};

class BatchTest : public test::SampleInstallation {
 protected:
  // Every function on every terminal as one batch of `jobs` runs at a time:
  // each file and each message block is what a separate run of plomvarde
  // writes and prints, and the blocks come in plan order. Returns the batch's
  // statements and those of the separate runs.
  std::pair<int64_t, int64_t> CompareWithSeparateRuns(int jobs);

  // Runs a command in the working directory (standard input from /dev/null
  // unless the command says otherwise).
  Shelled Shell(const std::string& cmd) {
    Shelled r;
    std::string out = root_ + "/sh.out", err = root_ + "/sh.err";
    std::string full = "cd '" + cwd_ + "' && (" + cmd + ") >'" + out + "' 2>'" + err + "'";
    r.status = test::ExitStatus(std::system(full.c_str()));
    r.out = test::ReadFile(out);
    r.err = test::ReadFile(err);
    return r;
  }
  Shelled RunBatchProgram(const std::string& args) {
    return Shell(kBin + "/plomvarde-batch " + args + " </dev/null");
  }
  Shelled Single(const std::string& args) { return Shell(kBin + "/plomvarde " + args); }
  std::string File(const std::string& name) { return test::ReadFile(cwd_ + "/" + name); }
  void Put(const std::string& name, const std::string& data) {
    test::WriteFile(cwd_ + "/" + name, data);
  }
  bool Exists(const std::string& name) { return fs::exists(cwd_ + "/" + name); }
};

std::string Header(int index, int count, int line, const std::string& run) {
  return "=== Lauf " + std::to_string(index) + "/" + std::to_string(count) + " (Zeile " +
         std::to_string(line) + "): " + run + " ===\n";
}

// The part of the batch output before the summary table.
std::string Blocks(const std::string& out) { return out.substr(0, out.find("\nFunktion  ")); }

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

const char* const kFunctions[] = {"VQDNL17P", "VQDNL31P", "VQDNL18P", "VQDNL60P", "IDSTAMM"};
const char* const kTerminals[] = {"TERM12", "TERM03", "TERM00"};

std::pair<int64_t, int64_t> BatchTest::CompareWithSeparateRuns(int jobs) {
  std::string plan = "# every function on every terminal\n";
  std::vector<std::string> runs, files;
  for (const char* t : kTerminals) {
    for (const char* f : kFunctions) {
      files.push_back(std::string(f) + "_" + t + ".dnl");
      runs.push_back(std::string(f) + " " + t + " " + files.back() + " 1");
      plan += runs.back() + "\n";
    }
  }
  Put("plan.txt", plan);
  Shelled b = RunBatchProgram("-j " + std::to_string(jobs) + " --report rep plan.txt");
  EXPECT_EQ(b.status, 0) << b.out;
  std::vector<std::string> written;
  for (const auto& f : files) written.push_back(File(f));
  std::string expected;
  int64_t separate_statements = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    Shelled s = Single(runs[i]);
    EXPECT_EQ(s.status, 0) << runs[i];
    EXPECT_FALSE(File(files[i]).empty()) << runs[i];
    EXPECT_EQ(written[i], File(files[i])) << runs[i];
    expected += Header(static_cast<int>(i) + 1, static_cast<int>(runs.size()),
                       static_cast<int>(i) + 2, runs[i]) +
                s.out;
  }
  EXPECT_EQ(Blocks(b.out), expected);
  // Standard error is no terminal here: no progress line.
  EXPECT_EQ(b.err, "");
  // The statements of the separate runs, counted by a batch that shares nothing
  // but running one at a time is the same as separate runs.
  std::vector<nlohmann::json> rep = JsonLines(File("rep"));
  int64_t batch_statements = rep.back()["statements"].get<int64_t>();
  std::vector<PlanRun> parsed;
  std::vector<std::string> refusals;
  EXPECT_TRUE(ParsePlan(plan, &parsed, &refusals));
  fs::path old_cwd = fs::current_path();
  fs::current_path(cwd_);
  test::Capture out;
  BatchOptions alone;
  alone.run = DefaultRunOptions();
  alone.share = false;
  alone.out = out.file();
  std::vector<RunOutcome> outcomes;
  EXPECT_EQ(RunBatch(parsed, alone, &outcomes), 0);
  fs::current_path(old_cwd);
  for (size_t i = 0; i < outcomes.size(); ++i) {
    separate_statements += outcomes[i].figures.statements;
    EXPECT_EQ(File(files[i]), written[i]) << runs[i];
  }
  return {batch_statements, separate_statements};
}

TEST_F(BatchTest, EveryRunOnTheSampleEqualsItsSeparateRun) {
  auto [batch, separate] = CompareWithSeparateRuns(3);
  EXPECT_LT(batch, separate);
}

// Three clients on the twelve-reader terminal, one on the small terminal,
// none on TERM00 (all clients then): generated badges, persons, balances and
// access rights.
TEST_F(BatchTest, EveryRunOnAGeneratedInstallationEqualsItsSeparateRun) {
  LayOut("--badges 3000");
  auto [batch, separate] = CompareWithSeparateRuns(4);
  // Badges, persons and access rights are read once for the batch.
  EXPECT_LT(batch * 10, separate * 7) << batch << " vs " << separate;
}

TEST_F(BatchTest, OneRunAtATimeGivesTheSameAsManyAtATime) {
  LayOut("--badges 500");
  CompareWithSeparateRuns(1);
}

// A line the line store refuses: the batch stores its lines at once, fails,
// and stores them again one by one; file, messages and status are those of
// the separate run.
TEST_F(BatchTest, RefusedLineReportedAsTheSeparateRunReportsIt) {
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open((root_ + "/files/plomvarde.db").c_str(), &h), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(h,
                         "CREATE TRIGGER refuse BEFORE INSERT ON \"ZrSystem.Zrt999Tmp\" WHEN "
                         "NEW.TmpStr LIKE '1003%' OR NEW.TmpStr LIKE '\"1003\"%' BEGIN SELECT "
                         "RAISE(ABORT, 'refused'); END;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(h);
  Put("plan", "VQDNL60P TERM03 a.60p 1\nIDSTAMM TERM03 b.ids 1\nVQDNL17P TERM12 c.17p 1\n");
  Shelled b = RunBatchProgram("-j 2 plan");
  EXPECT_EQ(b.status, 1) << b.out;
  std::string expected;
  int n = 0;
  for (const char* run :
       {"VQDNL60P TERM03 a.60p 1", "IDSTAMM TERM03 b.ids 1", "VQDNL17P TERM12 c.17p 1"}) {
    std::string name = run;
    name = name.substr(0, name.size() - 2);
    name = name.substr(name.rfind(' ') + 1);
    std::string batch_file = File(name);
    Shelled s = Single(run);
    EXPECT_EQ(s.status, 1) << run;
    EXPECT_NE(s.out.find("Insert-Error Zrt999Tmp!"), std::string::npos) << s.out;
    EXPECT_EQ(batch_file, File(name)) << run;
    EXPECT_FALSE(batch_file.empty()) << run;
    ++n;
    expected += Header(n, 3, n, run) + s.out + (s.out.back() == '\n' ? "" : "\n");
  }
  EXPECT_EQ(Blocks(b.out), expected);
  EXPECT_NE(b.out.find("verloren: 3 "), std::string::npos) << b.out;
  EXPECT_NE(b.out.find("Status: 1\n"), std::string::npos) << b.out;
}

// On a terminal, standard error carries one updating progress line (runs
// done of all, badges per second, time left), cleared at the end.
TEST_F(BatchTest, ProgressLineOnlyOnATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  Put("plan", "VQDNL60P TERM03 a.60p 1\nIDSTAMM TERM12 b.ids 1\n");
  // script(1) gives the program a terminal; standard output goes to a file,
  // so what reaches the terminal is standard error alone.
  Shelled b = Shell("script -qec '" + kBin + "/plomvarde-batch -j 1 plan >out.txt' /dev/null");
  EXPECT_EQ(b.status, 0);
  EXPECT_NE(b.out.find("\rLaeufe 1/2  "), std::string::npos) << b.out;
  EXPECT_NE(b.out.find("\rLaeufe 2/2  "), std::string::npos) << b.out;
  EXPECT_NE(b.out.find(" Ausweise/s  noch ca. "), std::string::npos) << b.out;
  EXPECT_EQ(File("out.txt").find("Laeufe 1/2"), std::string::npos);
  // Without a terminal nothing of it.
  Shelled quiet = RunBatchProgram("plan");
  EXPECT_EQ(quiet.err, "");
}

TEST_F(BatchTest, SummaryTableAndReport) {
  Put("plan", "VQDNL60P TERM03 a.60p 1\nIDSTAMM TERM12 b.ids 0\n");
  Shelled b = RunBatchProgram("--report rep.jsonl -j 2 plan");
  ASSERT_EQ(b.status, 0) << b.out;
  std::string table = b.out.substr(b.out.find("\nFunktion  ") + 1);
  std::istringstream in(table);
  std::vector<std::string> rows;
  for (std::string l; std::getline(in, l);) rows.push_back(l);
  ASSERT_EQ(rows.size(), 4u) << table;
  EXPECT_EQ(rows[0],
            "Funktion  Terminal    Datei   Ausweise     Saetze  verloren  Sekunden  Status");
  // Function, terminal, file, badges, records, lost, (seconds), status.
  EXPECT_EQ(rows[1].substr(0, 61), std::string("VQDNL60P  TERM03      a.60p  ") + "       17" +
                                       "  " + "       16" + "  " + "       0" + "  ");
  EXPECT_EQ(rows[1].substr(rows[1].size() - 8), "       0");
  EXPECT_EQ(rows[2].substr(0, 61), std::string("IDSTAMM   TERM12      b.ids  ") + "       21" +
                                       "  " + "       21" + "  " + "       0" + "  ");
  EXPECT_EQ(rows[3].substr(0, 54), "Laeufe: 2  Ausweise: 38  Saetze: 37  verloren: 0  Seku");

  std::vector<nlohmann::json> all = JsonLines(File("rep.jsonl"));
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0]["type"], "header");
  std::vector<nlohmann::json> rep(all.begin() + 1, all.end());
  EXPECT_EQ(rep[0]["type"], "run");
  EXPECT_EQ(rep[0]["line"], 1);
  EXPECT_EQ(rep[0]["function"], "VQDNL60P");
  EXPECT_EQ(rep[0]["terminal"], "TERM03");
  EXPECT_EQ(rep[0]["file"], "a.60p");
  EXPECT_EQ(rep[0]["new"], true);
  EXPECT_EQ(rep[0]["badges_read"], 17);
  EXPECT_EQ(rep[0]["records_written"], 16);
  EXPECT_EQ(rep[0]["lines_lost"], 0);
  EXPECT_EQ(rep[0]["status"], 0);
  EXPECT_TRUE(rep[0]["seconds"].is_number());
  EXPECT_FALSE(rep[0].contains("added"));
  EXPECT_FALSE(rep[0].contains("messages"));
  EXPECT_EQ(rep[1]["function"], "IDSTAMM");
  EXPECT_EQ(rep[1]["new"], false);
  EXPECT_EQ(rep[2]["type"], "batch");
  EXPECT_EQ(rep[2]["runs"], 2);
  EXPECT_EQ(rep[2]["badges_read"], 38);
  EXPECT_EQ(rep[2]["records_written"], 37);
  EXPECT_EQ(rep[2]["exit_status"], 0);
  EXPECT_EQ(rep[2]["start"].get<std::string>().size(), 20u);
  EXPECT_LE(rep[2]["start"].get<std::string>(), rep[2]["end"].get<std::string>());

  // The messages in full on request, appended after the first batch.
  ASSERT_EQ(RunBatchProgram("--report rep.jsonl --report-messages plan").status, 0);
  all = JsonLines(File("rep.jsonl"));
  ASSERT_EQ(all.size(), 8u);
  EXPECT_EQ(all[4]["type"], "header");
  EXPECT_EQ(all[5]["messages"], Single("VQDNL60P TERM03 x 1").out);
  // Umlauts of the messages reach the report as UTF-8.
  EXPECT_EQ(all[6]["messages"].get<std::string>().find('\xE4'), std::string::npos);
}

TEST_F(BatchTest, RefusedPlanTouchesNothing) {
  Put("a.dnl", "old");
  Put("plan",
      "VQDNL17P TERM12 a.dnl 1\nVQDNL17P TERM12\n# fine\nVQDNL1 TERM12 c 1\n"
      "VQDNL60P TERM03 a.dnl 1\n");
  Shelled b = RunBatchProgram("plan");
  EXPECT_EQ(b.status, 64);
  EXPECT_EQ(b.out,
            "Ablaufplan plan, Zeile 2: zu wenige Felder (2 statt 4)\n"
            "Ablaufplan plan, Zeile 4: Unbekannte DNL-Funktion: VQDNL1\n"
            "Ablaufplan plan, Zeile 5: Datei a.dnl steht schon in Zeile 1\n"
            "Ablaufplan abgelehnt, kein Lauf gestartet.\n");
  EXPECT_EQ(File("a.dnl"), "old");
  EXPECT_FALSE(Exists("c"));
}

TEST_F(BatchTest, CommandLineRefusals) {
  Put("plan", "VQDNL60P TERM03 a 1\n");
  for (const char* args : {"", "plan plan", "-j 0 plan", "-j x plan", "--guard 101 plan",
                           "--guard -1 plan", "--frobnicate plan", "missing-plan"}) {
    Shelled b = RunBatchProgram(args);
    EXPECT_EQ(b.status, 64) << args;
    EXPECT_FALSE(Exists("a")) << args;
  }
  Shelled b = RunBatchProgram("--report /nonexistent/dir/rep plan");
  EXPECT_EQ(b.status, 73);
  EXPECT_FALSE(Exists("a"));
}

TEST_F(BatchTest, PlanFromStandardInput) {
  Shelled b = Shell("printf 'VQDNL60P TERM03 a.60p 1\\n' | " + kBin + "/plomvarde-batch -");
  ASSERT_EQ(b.status, 0) << b.out;
  Single("VQDNL60P TERM03 single.60p 1");
  EXPECT_EQ(File("a.60p"), File("single.60p"));
  EXPECT_EQ(File("a.60p").size(), 16u * 45);
}

// 200 records of the VQDNL60P layout: TERM03 gets 16 of them in the sample
// installation, fewer than 10 per cent.
std::string BigOldFile(size_t records) {
  std::string s;
  for (size_t i = 0; i < records; ++i) {
    char badge[14];
    std::snprintf(badge, sizeof badge, "%-13zu", 900000 + i);
    s += std::string(badge) + "20060101" + "10" + std::string(22, ' ');
  }
  return s;
}

TEST_F(BatchTest, GuardKeepsTheOldFileAndPutsTheNewOneBeside) {
  Single("VQDNL60P TERM03 fresh 1");
  const std::string old = BigOldFile(161);  // 16 of 161 is below 10 %
  Put("a.60p", old);
  Put("b.60p", BigOldFile(160));  // 16 of 160 is exactly 10 %
  Put("plan", "VQDNL60P TERM03 a.60p 1\nVQDNL60P TERM03 b.60p 1\n");
  Shelled b = RunBatchProgram("plan");
  EXPECT_EQ(b.status, 65) << b.out;
  EXPECT_EQ(File("a.60p"), old);
  EXPECT_EQ(File("a.60p.rejected"), File("fresh"));
  EXPECT_NE(b.out.find("Downloadfile a.60p nicht ersetzt: 16 statt 161 Saetze (weniger als 10%)!\n"
                       "Neuer Inhalt in a.60p.rejected\n"),
            std::string::npos)
      << b.out;
  EXPECT_EQ(File("b.60p"), File("fresh"));
  EXPECT_FALSE(Exists("b.60p.rejected"));
  EXPECT_NE(b.out.find("      65\n"), std::string::npos);

  // A guard of 20 % refuses the second file too; 0 switches it off.
  Put("b.60p", BigOldFile(160));
  EXPECT_EQ(RunBatchProgram("--guard 20 plan").status, 65);
  EXPECT_EQ(File("b.60p"), BigOldFile(160));
  EXPECT_EQ(RunBatchProgram("--guard 0 plan").status, 0);
  EXPECT_EQ(File("a.60p"), File("fresh"));
  EXPECT_EQ(File("b.60p"), File("fresh"));
}

TEST_F(BatchTest, GuardLeavesAppendingRunsAlone) {
  const std::string old = BigOldFile(200);
  Put("a.60p", old);
  Put("plan", "VQDNL60P TERM03 a.60p 0\n");
  EXPECT_EQ(RunBatchProgram("plan").status, 0);
  Single("VQDNL60P TERM03 fresh 1");
  EXPECT_EQ(File("a.60p"), old + File("fresh"));
}

TEST_F(BatchTest, PlomvardeGuardsOnlyWhenAsked) {
  Single("VQDNL60P TERM03 fresh 1");
  const std::string old = BigOldFile(200);
  Put("a.60p", old);
  Shelled s = Shell("PLOMVARDE_GUARD=10 " + kBin + "/plomvarde VQDNL60P TERM03 a.60p 1");
  EXPECT_EQ(s.status, 65) << s.out;
  EXPECT_EQ(File("a.60p"), old);
  EXPECT_EQ(File("a.60p.rejected"), File("fresh"));
  // An empty value: the default of 10 %.
  EXPECT_EQ(Shell("PLOMVARDE_GUARD= " + kBin + "/plomvarde VQDNL60P TERM03 a.60p 1").status, 65);
  // 5 % lets 16 of 200 through.
  EXPECT_EQ(Shell("PLOMVARDE_GUARD=5 " + kBin + "/plomvarde VQDNL60P TERM03 a.60p 1").status, 0);
  EXPECT_EQ(File("a.60p"), File("fresh"));
  Put("a.60p", old);
  EXPECT_EQ(Shell("unset PLOMVARDE_GUARD; " + kBin + "/plomvarde VQDNL60P TERM03 a.60p 1").status,
            0);
  EXPECT_EQ(File("a.60p"), File("fresh"));
}

TEST_F(BatchTest, DryRunWritesBesideAndCounts) {
  Single("VQDNL60P TERM03 fresh 1");
  std::vector<std::string> recs = SplitRecords(File("fresh"), 45);
  ASSERT_EQ(recs.size(), 16u);
  // The old file: record 0 changed, record 1 missing, one badge that is gone.
  std::string changed = recs[0];
  changed[20] = changed[20] == '1' ? '2' : '1';
  std::string old = changed;
  for (size_t i = 2; i < recs.size(); ++i) old += recs[i];
  old += BigOldFile(1);
  Put("a.60p", old);
  Put("plan", "VQDNL60P TERM03 a.60p 1\nIDSTAMM TERM12 b.ids 1\n");
  Shelled b = RunBatchProgram("--dry-run --report rep plan");
  EXPECT_EQ(b.status, 0) << b.out;
  EXPECT_EQ(File("a.60p"), old);
  EXPECT_EQ(File("a.60p.new"), File("fresh"));
  EXPECT_FALSE(Exists("b.ids"));
  EXPECT_FALSE(File("b.ids.new").empty());
  EXPECT_NE(b.out.find("Probelauf: a.60p.new geschrieben, gegenueber a.60p: 1 neu, 1 entfernt, "
                       "1 geaendert\n"),
            std::string::npos)
      << b.out;
  EXPECT_NE(b.out.find("Probelauf: b.ids.new geschrieben, gegenueber b.ids: 21 neu, 0 entfernt, "
                       "0 geaendert\n"),
            std::string::npos);
  EXPECT_NE(b.out.find("neu  entfernt  geaendert\n"), std::string::npos);
  std::vector<nlohmann::json> rep = JsonLines(File("rep"));
  ASSERT_EQ(rep.size(), 4u);  // header, two runs, batch
  EXPECT_EQ(rep[1]["added"], 1);
  EXPECT_EQ(rep[1]["removed"], 1);
  EXPECT_EQ(rep[1]["changed"], 1);
  EXPECT_EQ(rep[3]["dry_run"], true);
}

TEST_F(BatchTest, DryRunTellsWhatTheGuardWouldDo) {
  const std::string old = BigOldFile(200);
  Put("a.60p", old);
  Put("plan", "VQDNL60P TERM03 a.60p 1\n");
  Shelled b = RunBatchProgram("--dry-run plan");
  EXPECT_EQ(b.status, 65);
  EXPECT_EQ(File("a.60p"), old);
  EXPECT_FALSE(Exists("a.60p.rejected"));
  EXPECT_EQ(SplitRecords(File("a.60p.new"), 45).size(), 16u);
}

// The exit status is the highest of the runs; the other runs are done.
TEST_F(BatchTest, ExitStatusIsTheHighestOfTheRuns) {
  fs::path old_cwd = fs::current_path();
  fs::current_path(cwd_);
  std::vector<PlanRun> plan;
  std::vector<std::string> refusals;
  ASSERT_TRUE(
      ParsePlan("VQDNL60P TERM03 a.60p 1\n"
                "VQDNL60P TERM03 no/such/dir/b.60p 1\n"
                "VQDNL60P TERM03 c.60p 1\n"
                "VQDNL60P TERM03 d.60p 1\n",
                &plan, &refusals));
  test::Capture out;
  BatchOptions options;
  options.run = DefaultRunOptions();
  options.run.lock_wait_ms = 0;
  options.jobs = 2;
  options.out = out.file();
  std::vector<RunOutcome> outcomes;
  int status;
  {
    PathLock held("c.60p", 0);  // another run holds c.60p
    ASSERT_EQ(held.state(), PathLock::State::kHeld);
    status = RunBatch(plan, options, &outcomes);
  }
  fs::current_path(old_cwd);
  EXPECT_EQ(status, 75);
  ASSERT_EQ(outcomes.size(), 4u);
  EXPECT_EQ(outcomes[0].figures.status, 0);
  EXPECT_EQ(outcomes[1].figures.status, 73);
  EXPECT_EQ(outcomes[2].figures.status, 75);
  EXPECT_EQ(outcomes[3].figures.status, 0);
  EXPECT_EQ(outcomes[2].messages, "Downloadfile c.60p wird von einem anderen Lauf erstellt!\n");
  EXPECT_EQ(File("a.60p").size(), 16u * 45);
  EXPECT_EQ(File("d.60p").size(), 16u * 45);
  EXPECT_FALSE(Exists("c.60p"));
  std::string text = out.Text();
  EXPECT_NE(text.find("Status: 75\n"), std::string::npos) << text;
}

TEST_F(BatchTest, ConnectFailureIsTheRunsStatus) {
  test::WriteFile(root_ + "/files/korvantis.ini", "");
  Put("plan", "VQDNL60P TERM03 a.60p 1\n");
  Shelled b = RunBatchProgram("plan");
  EXPECT_EQ(b.status, 69) << b.out;
  EXPECT_FALSE(Exists("a.60p"));
  EXPECT_NE(b.out.find("DB-Connect-Error"), std::string::npos);
}

// Counts the write transactions open at the same time on the backends of
// a batch's runs; each one is held open a while, so that runs that do not
// take turns meet.
struct OpenWrites {
  std::atomic<int> open{0};
  std::atomic<int> most{0};
  std::atomic<int> begun{0};
};

class WatchedWrites : public Backend {
 public:
  WatchedWrites(std::unique_ptr<Backend> real, std::shared_ptr<OpenWrites> w)
      : real_(std::move(real)), w_(std::move(w)) {}
  Result Run(int stmt_no, std::string_view text, const Params& params, size_t max_rows) override {
    bool begin = text.find("BEGIN TRANSACTION") != std::string_view::npos;
    bool end = text.find("COMMIT TRANSACTION") != std::string_view::npos ||
               text.find("ROLLBACK TRANSACTION Tmp_PKeyIns_Sp") != std::string_view::npos ||
               text.find("ROLLBACK TRANSACTION Tmp_UsrDel_Sp") != std::string_view::npos;
    if (begin) {
      int now = ++w_->open;
      for (int most = w_->most; now > most && !w_->most.compare_exchange_weak(most, now);) {
      }
      ++w_->begun;
    }
    Result r = real_->Run(stmt_no, text, params, max_rows);
    if (begin && r.sqlcode == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (end || (begin && r.sqlcode != 0)) --w_->open;
    return r;
  }
  bool OneWriterAtATime() const override { return real_->OneWriterAtATime(); }
  void ShareReads(bool on) override { real_->ShareReads(on); }

 private:
  std::unique_ptr<Backend> real_;
  std::shared_ptr<OpenWrites> w_;
};

// Takes the write lock of the database through another connection right
// before the run begins to store its lines, and keeps it.
class LockBeforeInsert : public Backend {
 public:
  LockBeforeInsert(std::unique_ptr<Backend> real, sqlite3* other)
      : real_(std::move(real)), other_(other) {}
  Result Run(int stmt_no, std::string_view text, const Params& params, size_t max_rows) override {
    if (!locked_ && text.find("BEGIN TRANSACTION Tmp_PKeyIns_Sp") != std::string_view::npos) {
      locked_ = true;
      EXPECT_EQ(sqlite3_exec(other_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    return real_->Run(stmt_no, text, params, max_rows);
  }
  bool OneWriterAtATime() const override { return real_->OneWriterAtATime(); }

 private:
  std::unique_ptr<Backend> real_;
  sqlite3* other_;
  bool locked_ = false;
};

// On the embedded database (one writer at a time) the runs of a batch take
// turns at the line store's writes: no run begins a write transaction
// while another run's is open, where it would wait inside the database.
TEST_F(BatchTest, RunsTakeTurnsAtTheLineStoresWrites) {
  std::string text;
  for (const char* t : kTerminals) {
    for (const char* f : kFunctions) text += std::string(f) + " " + t + " " + f + "_" + t + " 1\n";
  }
  std::vector<PlanRun> plan;
  std::vector<std::string> refusals;
  ASSERT_TRUE(ParsePlan(text, &plan, &refusals));
  auto writes = std::make_shared<OpenWrites>();
  fs::path old_cwd = fs::current_path();
  fs::current_path(cwd_);
  test::Capture out;
  BatchOptions options;
  options.run = DefaultRunOptions();
  options.run.wrap_backend = [writes](std::unique_ptr<Backend> real) -> std::unique_ptr<Backend> {
    return std::make_unique<WatchedWrites>(std::move(real), writes);
  };
  options.jobs = 3;
  options.out = out.file();
  std::vector<RunOutcome> outcomes;
  EXPECT_EQ(RunBatch(plan, options, &outcomes), 0) << out.Text();
  fs::current_path(old_cwd);
  EXPECT_EQ(writes->begun, 2 * static_cast<int>(plan.size()));  // a delete and an insert each
  EXPECT_EQ(writes->most, 1);
  EXPECT_EQ(writes->open, 0);
}

// The rows of a path per line store path, as the database holds them.
std::map<std::string, int> StoredPaths(const std::string& db) {
  std::map<std::string, int> rows;
  sqlite3* h = nullptr;
  EXPECT_EQ(sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(h, "SELECT TmpUsr, COUNT(*) FROM \"ZrSystem.Zrt999Tmp\" GROUP BY TmpUsr", -1,
                     &st, nullptr);
  while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
    rows[reinterpret_cast<const char*>(sqlite3_column_text(st, 0))] = sqlite3_column_int(st, 1);
  }
  sqlite3_finalize(st);
  sqlite3_close(h);
  return rows;
}

// --prune-store lists, then removes, the line store rows of the files the
// plan no longer has; a name the database takes for a planned one stays,
// and so do the rows of a path whose lock a run holds.
TEST_F(BatchTest, PruneStoreRemovesWhatThePlanNoLongerHas) {
  const std::string db = root_ + "/files/plomvarde.db";
  for (const char* f : {"old1.dnl", "old2.dnl", "keep.dnl", "KEEP.DNL"}) {
    ASSERT_EQ(Single(std::string("VQDNL60P TERM12 ") + f + " 1").status, 0);
  }
  auto before = StoredPaths(db);
  ASSERT_EQ(before.size(), 4u);
  ASSERT_GT(before["old1.dnl"], 0);
  Put("plan", "VQDNL60P TERM12 keep.dnl 1\n");

  Shelled dry = RunBatchProgram("--prune-store --dry-run plan");
  EXPECT_EQ(dry.status, 0) << dry.out;
  EXPECT_EQ(dry.out, "Zeilenspeicher: 4 Dateinamen, 2 nicht im Ablaufplan (" +
                         std::to_string(before["old1.dnl"] + before["old2.dnl"]) + " Zeilen)\n" +
                         "  old1.dnl: " + std::to_string(before["old1.dnl"]) + " Zeilen\n" +
                         "  old2.dnl: " + std::to_string(before["old2.dnl"]) + " Zeilen\n" +
                         "Probelauf: nichts entfernt.\n");
  EXPECT_EQ(StoredPaths(db), before);
  {
    KeyLock running(AppLockFileOf(db), "Zrt999Tmp " + LineStoreLockKey("old2.dnl"), 0, db);
    ASSERT_EQ(running.state(), KeyLock::State::kHeld);
    Shelled locked = RunBatchProgram("--prune-store plan");
    EXPECT_EQ(locked.status, 75) << locked.out;
    EXPECT_NE(locked.out.find("  old2.dnl: gesperrt, bleibt\n1 Dateinamen entfernt.\n"),
              std::string::npos)
        << locked.out;
  }
  auto after = StoredPaths(db);
  EXPECT_EQ(after.count("old1.dnl"), 0u);
  EXPECT_EQ(after.count("old2.dnl"), 1u);
  EXPECT_EQ(after["keep.dnl"], before["keep.dnl"]);
  EXPECT_EQ(after["KEEP.DNL"], before["KEEP.DNL"]);
  Shelled again = RunBatchProgram("--prune-store plan");
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_EQ(StoredPaths(db).size(), 2u);
  // A plan that is refused prunes nothing.
  Put("bad", "VQDNL60P TERM12\n");
  EXPECT_EQ(RunBatchProgram("--prune-store bad").status, 64);
  EXPECT_EQ(StoredPaths(db).size(), 2u);
}

// Another session takes the database's write lock in the middle of a run,
// after the run deleted its old lines and before it stores the new ones:
// the run waits for it once, not once more for storing line by line, and
// names the cause.
TEST_F(BatchTest, WriteLockTakenMidRunCostsOneWait) {
  const std::string db = root_ + "/files/plomvarde.db";
  for (bool groups : {true, false}) {
    SCOPED_TRACE(groups ? "lines stored in groups" : "lines stored one by one");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
    fs::path old_cwd = fs::current_path();
    fs::current_path(cwd_);
    test::Capture out;
    RunOptions options = DefaultRunOptions();
    options.group_lines = groups;
    options.wrap_backend = [other](std::unique_ptr<Backend> real) -> std::unique_ptr<Backend> {
      return std::make_unique<LockBeforeInsert>(std::move(real), other);
    };
    setenv("PLOMVARDE_LOCK_TIMEOUT", "2", 1);
    Messages msg(out.file());
    RunParams p;
    ASSERT_TRUE(TakeArguments({"VQDNL60P", "TERM12", "mid.dnl", "1"}, msg, &p));
    auto start = std::chrono::steady_clock::now();
    RunFigures f = RunDownload(p, msg, options);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    unsetenv("PLOMVARDE_LOCK_TIMEOUT");
    msg.Flush();
    fs::current_path(old_cwd);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    std::string said = out.Text();
    EXPECT_EQ(f.status, kExitUnavailable) << said;
    EXPECT_GE(seconds, 1.9) << said;
    EXPECT_LT(seconds, 3.9) << "waited more than once: " << said;
    EXPECT_NE(said.find("database is locked"), std::string::npos) << said;
    EXPECT_EQ(said.find("no transaction is active"), std::string::npos) << said;
  }
}

}  // namespace
}  // namespace plom
