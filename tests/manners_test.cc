// The programs as an operator meets them: the same manners on every
// command line, and messages that say where and why. Run as child
// processes against the sample installation.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "tests/shell.h"
#include "tests/test_util.h"

namespace plom {
namespace {

namespace fs = std::filesystem;

const std::string kBin = PLOM_BINARY_DIR;

struct Outcome {
  int status = -1;
  std::string out, err;
};

class Manners : public test::SampleInstallation {
 protected:
  // Runs cmd with sh in the working directory of the runs, in a UTF-8
  // locale, standard input from /dev/null unless cmd says otherwise.
  Outcome Run(const std::string& cmd) {
    Outcome o;
    const std::string out = root_ + "/sh.out", err = root_ + "/sh.err";
    const std::string full = "cd " + test::ShellQuote(cwd_) + " && (export LC_ALL=C.UTF-8; " + cmd +
                             ") </dev/null >'" + out + "' 2>'" + err + "'";
    o.status = test::ExitStatus(std::system(full.c_str()));
    o.out = test::ReadFile(out);
    o.err = test::ReadFile(err);
    return o;
  }
  std::string File(const std::string& name) { return test::ReadFile(cwd_ + "/" + name); }
  void Put(const std::string& name, const std::string& data) {
    test::WriteFile(cwd_ + "/" + name, data);
  }
  bool Exists(const std::string& name) { return fs::exists(cwd_ + "/" + name); }
  // The absolute form of a path of the working directory, as messages name it.
  std::string Absolute(const std::string& name) {
    return (fs::path(cwd_) / name).lexically_normal().string();
  }
};

const char* const kPrograms[] = {"plomvarde",      "plomvarde-batch", "plomvarde-explain",
                                 "plomvarde-show", "plomvarde-ini",   "plomvarde-sample",
                                 "plomvarde-bench"};

// --help and --version answer on standard output with 0 everywhere; a
// wrong command line of a companion is told on standard error with 64 and
// nothing on standard output. plomvarde keeps its own usage texts on
// standard output.
TEST_F(Manners, HelpVersionAndUsageErrorsAlike) {
  for (const std::string p : kPrograms) {
    Outcome help = Run(kBin + "/" + p + " --help");
    EXPECT_EQ(help.status, 0) << p;
    EXPECT_NE(help.out.find(p == "plomvarde" ? "Aufruf: plomvarde " : p), std::string::npos)
        << p << ": " << help.out;
    EXPECT_EQ(help.err, "") << p;
    Outcome version = Run(kBin + "/" + p + " --version");
    EXPECT_EQ(version.status, 0) << p;
    EXPECT_EQ(version.out.rfind(p + " ", 0), 0u) << p << ": " << version.out;
    EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '\n'), 1) << p;
    if (p == "plomvarde") continue;
    for (const char* wrong : {"--no-such-option", "-Z"}) {
      Outcome bad = Run(kBin + "/" + p + " " + wrong + " x");
      EXPECT_EQ(bad.status, 64) << p << " " << wrong;
      EXPECT_EQ(bad.out, "") << p << " " << wrong;
      EXPECT_EQ(bad.err.rfind(p + ": unknown option " + wrong + "\n", 0), 0u)
          << p << " " << wrong << ": " << bad.err;
    }
    Outcome missing = Run(kBin + "/" + p + (p == "plomvarde-batch" ? " --jobs" : " --badges"));
    EXPECT_EQ(missing.status, 64) << p;
    EXPECT_EQ(missing.out, "") << p;
  }
  // Only a lone --help or --version is an option to plomvarde: any other
  // command line is its four arguments, with its messages and 64.
  Outcome two = Run(kBin + "/plomvarde --help x");
  EXPECT_EQ(two.status, 64);
  EXPECT_EQ(two.out.rfind("Anzahl Parameter(mind. 4) unterschritten! AnzParam: 2Aufruf: ", 0), 0u)
      << two.out;
  Outcome four = Run(kBin + "/plomvarde --version TERM12 x.dnl 1");
  EXPECT_EQ(four.status, 64);
  EXPECT_EQ(four.out.rfind("Unbekannte DNL-Funktion: --version\n", 0), 0u) << four.out;
  EXPECT_FALSE(Exists("x.dnl"));
}

// Options after the operands, and "-" for standard input.
TEST_F(Manners, OptionsFollowOperandsAndDashReadsStandardInput) {
  ASSERT_EQ(Run(kBin + "/plomvarde VQDNL60P TERM03 single.60p 1").status, 0);
  Put("plan", "VQDNL60P TERM03 a.60p 1\n");
  Outcome batch = Run(kBin + "/plomvarde-batch plan -j 2 --guard 50");
  EXPECT_EQ(batch.status, 0) << batch.out << batch.err;
  EXPECT_EQ(File("a.60p"), File("single.60p"));

  Outcome file = Run(kBin + "/plomvarde-show single.60p --tsv");
  ASSERT_EQ(file.status, 0) << file.err;
  Outcome in = Run(kBin + "/plomvarde-show --tsv - <single.60p");
  EXPECT_EQ(in.status, 0) << in.err;
  EXPECT_EQ(in.out, file.out);

  const std::string ini = "../../files/korvantis.ini";
  Outcome before = Run(kBin + "/plomvarde-ini show --show-password " + ini);
  Outcome after = Run(kBin + "/plomvarde-ini show " + ini + " --show-password");
  EXPECT_EQ(before.status, 0) << before.err;
  EXPECT_NE(before.out.find("\tPASS\tgeheim\n"), std::string::npos) << before.out;
  EXPECT_EQ(after.out, before.out);
  EXPECT_EQ(Run(kBin + "/plomvarde-ini encipher --show-password x").status, 64);
}

// plomvarde-ini writes only the keys plomvarde reads.
TEST_F(Manners, IniRefusesUnknownKeys) {
  const std::string ini = root_ + "/new.ini";
  for (const char* pairs : {"LOGN=sa", "LOGIN=sa login=sa", "LOGIN=sa LOGIN=sb", "'A;B=1'"}) {
    Outcome o = Run(kBin + "/plomvarde-ini write " + ini + " " + pairs);
    EXPECT_EQ(o.status, 64) << pairs;
    EXPECT_NE(o.err.find("plomvarde-ini: "), std::string::npos) << pairs;
    EXPECT_FALSE(fs::exists(ini)) << pairs;
  }
  EXPECT_EQ(Run(kBin + "/plomvarde-ini write " + ini + " LOGIN=sa NET8=x SCHEMA=Z.").status, 0);
}

// Arguments are read in the locale's encoding and held as Windows-1252:
// limits count characters, and a character Windows-1252 lacks is refused.
TEST_F(Manners, ArgumentsAreTakenAsWindows1252) {
  // Ten characters, four of them umlauts: 14 bytes in UTF-8.
  Outcome umlauts = Run(kBin +
                        "/plomvarde VQDNL60P \xC3\x84\xC3\x96\xC3\x9C\xC3\x9F"
                        "ABCDEF u.60p 1");
  EXPECT_EQ(umlauts.status, 0) << umlauts.out;
  EXPECT_EQ(umlauts.out.find("Parameter zu lang"), std::string::npos) << umlauts.out;
  // The terminal reaches the messages as Windows-1252.
  EXPECT_NE(umlauts.out.find("Terminal \xC4\xD6\xDC\xDF"
                             "ABCDEF unbekannt"),
            std::string::npos)
      << umlauts.out;
  Outcome eleven = Run(kBin +
                       "/plomvarde VQDNL60P \xC3\x84\xC3\x96\xC3\x9C\xC3\x9F"
                       "ABCDEFG u.60p 1");
  EXPECT_EQ(eleven.status, 64);
  EXPECT_EQ(eleven.out.rfind("Parameter zu lang: Terminal-Name\n", 0), 0u) << eleven.out;

  // U+03A9 (Greek Omega) has no Windows-1252 byte.
  const std::string omega = "\xCE\xA9";
  Outcome tool = Run(kBin + "/plomvarde VQDNL60P TERM" + omega + " o.60p 1");
  EXPECT_EQ(tool.status, 64);
  EXPECT_EQ(tool.out.rfind("Parameter 2: Zeichen ausserhalb Windows-1252!\nAufruf: ", 0), 0u)
      << tool.out;
  EXPECT_FALSE(Exists("o.60p"));
  for (const std::string p : {"plomvarde-batch", "plomvarde-explain", "plomvarde-show",
                              "plomvarde-ini", "plomvarde-sample"}) {
    Outcome o = Run(kBin + "/" + p + " " + omega);
    EXPECT_EQ(o.status, 64) << p;
    EXPECT_EQ(o.err.rfind(p + ": argument 1 holds a character that Windows-1252 cannot hold\n", 0),
              0u)
        << p << ": " << o.err;
  }
}

// Where something cannot be read or written, the message names the path
// and the system's reason.
TEST_F(Manners, MessagesNameThePathAndTheReason) {
  struct Case {
    const char* what;
    std::string cmd;
    int status;
    std::string said;  // a line of standard output
  };
  const std::string ini = root_ + "/files/korvantis.ini";
  const Case cases[] = {
      {"download folder missing", kBin + "/plomvarde VQDNL60P TERM03 dnl/TERM03.60P 1", 73,
       "Donwloadfile dnl/TERM03.60P konnte nicht geoeffnet werden!\nVerzeichnis " +
           Absolute("dnl") + " existiert nicht.\n"},
      {"plan missing", kBin + "/plomvarde-batch nightly.plan", 64,
       "Ablaufplan nightly.plan nicht lesbar: No such file or directory\n"},
      {"report folder missing", kBin + "/plomvarde-batch --report logs/r.jsonl plan", 73,
       "Bericht logs/r.jsonl konnte nicht geoeffnet werden: No such file or directory\n"},
      {"configuration missing",
       "mv " + ini + " " + ini + ".away; " + kBin +
           "/plomvarde VQDNL60P TERM03 c.60p 1; s=$?; mv " + ini + ".away " + ini + "; exit $s",
       69, "Konfigurationsdatei " + ini + " nicht lesbar: No such file or directory\n"},
      {"configuration a folder",
       "mv " + ini + " " + ini + ".away; mkdir " + ini + "; " + kBin +
           "/plomvarde VQDNL60P TERM03 c.60p 1; s=$?; rmdir " + ini + "; mv " + ini + ".away " +
           ini + "; exit $s",
       69, "Konfigurationsdatei " + ini + " nicht lesbar: Is a directory\n"},
  };
  Put("plan", "VQDNL60P TERM03 p.60p 1\n");
  for (const Case& c : cases) {
    Outcome o = Run(c.cmd);
    EXPECT_EQ(o.status, c.status) << c.what << "\n" << o.out;
    EXPECT_NE(o.out.find(c.said), std::string::npos) << c.what << "\n" << o.out;
  }
  EXPECT_FALSE(Exists("c.60p"));
  EXPECT_FALSE(Exists("p.60p"));
}

// A terminal the installation does not know is written all the same, with
// a warning; explain names it too. A known terminal without a client gets
// no warning.
TEST_F(Manners, UnknownTerminalIsWarnedAbout) {
  const std::string warning =
      "Terminal TERM99 unbekannt (keine Leser, kein Mandant), Datei wird trotzdem geschrieben!\n";
  Outcome unknown = Run(kBin + "/plomvarde VQDNL31P TERM99 u.31p 1");
  EXPECT_EQ(unknown.status, 0) << unknown.out;
  EXPECT_EQ(unknown.out.rfind(warning + "Schema: M01\n", 0), 0u) << unknown.out;
  EXPECT_TRUE(Exists("u.31p"));
  Outcome known = Run(kBin + "/plomvarde VQDNL31P TERM00 k.31p 1");
  EXPECT_EQ(known.status, 0);
  EXPECT_EQ(known.out.find("unbekannt"), std::string::npos) << known.out;

  Outcome explain = Run(kBin + "/plomvarde-explain VQDNL31P TERM99 1006");
  EXPECT_EQ(explain.status, 0) << explain.err;
  EXPECT_NE(explain.out.find("The installation does not know terminal 'TERM99': it has no reader "
                             "and no client."),
            std::string::npos)
      << explain.out;
  EXPECT_EQ(Run(kBin + "/plomvarde-explain VQDNL31P TERM00 1006").out.find("does not know"),
            std::string::npos);
}

// A run that finds its file locked says so at once, naming the holder.
TEST_F(Manners, WaitingForALockIsSaidOnce) {
  auto lock = std::make_unique<PathLock>(cwd_ + "/w.60p", 0);
  ASSERT_EQ(lock->state(), PathLock::State::kHeld);
  Outcome o;
  std::thread run([&] { o = Run(kBin + "/plomvarde VQDNL60P TERM03 w.60p 1 >w.out"); });
  const std::string said = "Downloadfile w.60p wird von einem anderen Lauf erstellt (Prozess " +
                           std::to_string(getpid()) + "), warte bis zu 120 s\n";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (File("w.out").empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(File("w.out"), said);  // said while waiting, not at the end
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  lock.reset();
  run.join();
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(File("w.out").rfind(said + "Schema: ", 0), 0u) << File("w.out");
  EXPECT_EQ(File("w.out").find(said, 1), std::string::npos);
}

// The guard judges files from --guard-min (PLOMVARDE_GUARD_MIN) records.
TEST_F(Manners, GuardMinimumIsSet) {
  ASSERT_EQ(Run(kBin + "/plomvarde VQDNL60P TERM03 fresh.60p 1").status, 0);
  const std::string fresh = File("fresh.60p");
  ASSERT_EQ(fresh.size(), 16u * 45);
  // 19 records: 16 of them are 84 per cent.
  const std::string old = fresh + fresh.substr(0, 3 * 45);
  struct Case {
    std::string cmd;
    int status;
  };
  Put("plan", "VQDNL60P TERM03 g.60p 1\n");
  const Case cases[] = {
      {kBin + "/plomvarde-batch --guard 90 plan", 0},
      {kBin + "/plomvarde-batch --guard 90 --guard-min 19 plan", 65},
      {kBin + "/plomvarde-batch --guard 80 --guard-min 19 plan", 0},
      {"PLOMVARDE_GUARD=90 " + kBin + "/plomvarde VQDNL60P TERM03 g.60p 1", 0},
      {"PLOMVARDE_GUARD=90 PLOMVARDE_GUARD_MIN=19 " + kBin + "/plomvarde VQDNL60P TERM03 g.60p 1",
       65},
      {"PLOMVARDE_GUARD=90 PLOMVARDE_GUARD_MIN=20 " + kBin + "/plomvarde VQDNL60P TERM03 g.60p 1",
       0},
  };
  for (const Case& c : cases) {
    Put("g.60p", old);
    Outcome o = Run(c.cmd);
    EXPECT_EQ(o.status, c.status) << c.cmd << "\n" << o.out;
    EXPECT_EQ(File("g.60p"), c.status == 65 ? old : fresh) << c.cmd;
  }
  EXPECT_EQ(Run(kBin + "/plomvarde-batch --guard-min x plan").status, 64);
}

std::map<std::string, std::string> MetricLines(const std::string& text) {
  std::map<std::string, std::string> m;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    size_t space = line.rfind(' ');
    m[line.substr(0, space)] = line.substr(space + 1);
  }
  return m;
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// The metrics of a batch: one series per run and figure; the last success
// stays when a later batch fails. The report is appended, a header line
// per batch; messages are counted by kind, and given in full on request.
TEST_F(Manners, MetricsAndReport) {
  Put("plan", "VQDNL60P TERM03 a.60p 1\nVQDNL31P TERM\xC4 b.31p 1\n");
  Outcome ok = Run(kBin + "/plomvarde-batch --metrics m.prom --report r.jsonl plan");
  ASSERT_EQ(ok.status, 0) << ok.out;
  std::map<std::string, std::string> m = MetricLines(File("m.prom"));
  const std::string a = "{function=\"VQDNL60P\",terminal=\"TERM03\",file=\"a.60p\"}";
  const std::string b = "{function=\"VQDNL31P\",terminal=\"TERM\xC3\x84\",file=\"b.31p\"}";
  EXPECT_EQ(m["plomvarde_run_exit_status" + a], "0");
  EXPECT_EQ(m["plomvarde_run_records" + a], "16");
  EXPECT_EQ(m["plomvarde_run_refused_lines" + a], "0");
  EXPECT_TRUE(m.count("plomvarde_run_duration_seconds" + a));
  EXPECT_EQ(m["plomvarde_run_exit_status" + b], "0");
  EXPECT_EQ(m["plomvarde_batch_exit_status"], "0");
  const std::string success = m["plomvarde_batch_last_success_timestamp_seconds"];
  const double start = std::stod(m["plomvarde_batch_last_start_timestamp_seconds"]);
  EXPECT_GE(std::stod(success), start);
  EXPECT_NEAR(start, static_cast<double>(std::time(nullptr)), 60);
  const std::string text = File("m.prom");
  EXPECT_EQ(m.size(), 11u) << text;
  // Every series has its HELP and TYPE.
  EXPECT_EQ(std::count(text.begin(), text.end(), '#'), 2 * 7);

  // A failing batch: the metrics tell it, the last success stays.
  Put("plan2", "VQDNL60P TERM03 nodir/a.60p 1\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Outcome failed =
      Run(kBin + "/plomvarde-batch plan2 --report r.jsonl --report-messages --metrics m.prom");
  EXPECT_EQ(failed.status, 73);
  m = MetricLines(File("m.prom"));
  EXPECT_EQ(m["plomvarde_batch_exit_status"], "73");
  EXPECT_EQ(m["plomvarde_run_exit_status{function=\"VQDNL60P\",terminal=\"TERM03\",file=\"nodir/"
              "a.60p\"}"],
            "73");
  EXPECT_EQ(m["plomvarde_batch_last_success_timestamp_seconds"], success);
  EXPECT_GT(std::stod(m["plomvarde_batch_last_start_timestamp_seconds"]), start);
  EXPECT_EQ(m.count("plomvarde_run_records" + a), 0u);
  EXPECT_FALSE(Exists("m.prom.tmp"));

  std::vector<nlohmann::json> rep = JsonLines(File("r.jsonl"));
  ASSERT_EQ(rep.size(), 7u);
  const std::vector<std::string> types = {"header", "run", "run",  "batch",
                                          "header", "run", "batch"};
  for (size_t i = 0; i < rep.size(); ++i) EXPECT_EQ(rep[i]["type"], types[i]) << i;
  EXPECT_EQ(rep[0]["plan"], "plan");
  EXPECT_EQ(rep[4]["plan"], "plan2");
  EXPECT_FALSE(rep[0]["version"].get<std::string>().empty());
  EXPECT_EQ(rep[0]["start"].get<std::string>().size(), 20u);
  // Counts per kind, no messages unless asked.
  Outcome single = Run(kBin + "/plomvarde VQDNL60P TERM03 x.60p 1");
  const nlohmann::json& kinds = rep[1]["message_kinds"];
  int counted = 0;
  for (const auto& [kind, n] : kinds.items()) counted += n.get<int>();
  EXPECT_EQ(counted, std::count(single.out.begin(), single.out.end(), '\n')) << kinds.dump();
  EXPECT_EQ(kinds["Schema: %s"], 1) << kinds.dump();
  EXPECT_EQ(kinds["Ausweise gesamt: %d davon in Datei gestellt: %d"], 1) << kinds.dump();
  EXPECT_FALSE(rep[1].contains("messages"));
  EXPECT_EQ(rep[5]["messages"],
            "Donwloadfile nodir/a.60p konnte nicht geoeffnet werden!\nVerzeichnis " +
                Absolute("nodir") + " existiert nicht.\n");
  EXPECT_EQ(rep[5]["message_kinds"]["Verzeichnis %s existiert nicht."], 1);
}

// SIGTERM: the run under way ends and leaves its file, no further run
// starts, the report and the metrics tell what ran, no lock stays behind,
// and the status is 128 + 15.
TEST_F(Manners, StoppedBatchEndsCleanly) {
  // VQDNL31P starts first (see StartOrder), and waits for this lock while
  // the batch is asked to stop.
  Put("plan", "VQDNL60P TERM03 b.60p 1\nVQDNL31P TERM12 a.31p 1\nIDSTAMM TERM12 c.ids 1\n");
  auto lock = std::make_unique<PathLock>(cwd_ + "/a.31p", 0);
  ASSERT_EQ(lock->state(), PathLock::State::kHeld);
  const std::string pid_file = root_ + "/batch.pid";
  Outcome o;
  std::thread batch([&] {
    o = Run(kBin + "/plomvarde-batch -j 1 --report r.jsonl --metrics m.prom plan & echo $! >" +
            pid_file + "; wait $!");
  });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (test::ReadFile(pid_file).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The batch has started its first run when the report has its header.
  while (File("r.jsonl").empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(kill(std::stoi(test::ReadFile(pid_file)), SIGTERM), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  lock.reset();
  batch.join();
  EXPECT_EQ(o.status, 143) << o.out << o.err;
  EXPECT_FALSE(File("a.31p").empty());
  EXPECT_FALSE(Exists("b.60p"));
  EXPECT_FALSE(Exists("c.ids"));
  for (const auto& e : fs::directory_iterator(cwd_)) EXPECT_NE(e.path().extension(), ".lock");
  std::vector<nlohmann::json> rep = JsonLines(File("r.jsonl"));
  ASSERT_EQ(rep.size(), 3u) << File("r.jsonl");
  EXPECT_EQ(rep[1]["file"], "a.31p");
  EXPECT_EQ(rep[1]["status"], 0);
  EXPECT_EQ(rep[2]["runs"], 1);
  EXPECT_EQ(rep[2]["exit_status"], 143);
  std::map<std::string, std::string> m = MetricLines(File("m.prom"));
  EXPECT_EQ(m["plomvarde_batch_exit_status"], "143");
  EXPECT_EQ(
      m["plomvarde_run_exit_status{function=\"VQDNL31P\",terminal=\"TERM12\",file=\"a.31p\"}"],
      "0");
  EXPECT_EQ(
      m.count(
          "plomvarde_run_exit_status{function=\"VQDNL60P\",terminal=\"TERM03\",file=\"b.60p\"}"),
      0u);
  EXPECT_NE(o.out.find("=== Lauf 2/3 (Zeile 2): VQDNL31P TERM12 a.31p 1 ===\n"), std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("Laeufe: 1 "), std::string::npos) << o.out;
}

}  // namespace
}  // namespace plom
