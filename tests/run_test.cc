// Whole runs through RunTool: configuration file, connection, client
// schemas, generators, write-out and exit status.
#include "driver/run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "db/key_locks.h"
#include "driver/download_file.h"
#include "installation/line_store.h"
#include "platform/files.h"
#include "tests/generator_fixture.h"
#include "tests/shell.h"

namespace plom {
namespace {

using test::BadgeRow;
using test::Blanks;
using test::Counts;
using test::Field;
using test::GenDb;
using test::kTerminal;
using test::ReadFile;
using test::WriteFile;

// One configuration entry as the configuration tool writes it.
// The 45-character record of a badge with time recording only.
std::string Rec60(const std::string& badge) {
  return Field(badge, 13) + "20060101" + "10" + Blanks(22);
}

class GenRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::TempDir();
    path_ = dir_ + "/TERM1.dnl";
    WriteConfig(db_.db().server());
  }

  void WriteConfig(const std::string& server) {
    test::WriteRunConfig(config_, server);
  }

  int Run(const std::vector<std::string>& args, std::string* out = nullptr,
          const std::function<void(RunOptions*)>& change = nullptr) {
    test::Capture cap;
    Messages msg(cap.file());
    RunOptions options;
    options.config_path = config_;
    options.lock_wait_ms = 0;
    if (change) change(&options);
    int status = RunTool(args, msg, options);
    if (out != nullptr) *out = cap.Text();
    return status;
  }

  int Run(const char* function, const char* replace, std::string* out = nullptr) {
    return Run({function, kTerminal, path_, replace}, out);
  }

  GenDb db_;
  std::string dir_;
  std::string path_;
  std::string config_ = test::TempDir() + "/korvantis.ini";
};

TEST_F(GenRun, TwoClientSchemasMergeIntoOneSortedFile) {
  db_.AddClient(2, "MND2");
  db_.AssignTerminal(kTerminal, 1);
  db_.AssignTerminal(kTerminal, 2);
  db_.AddClient(3, "MND3");  // not assigned to the terminal
  db_.AddBadge(BadgeRow("C1"));
  db_.AddBadge(BadgeRow("A1"));
  db_.AddBadge(BadgeRow("B1").Client(2));
  db_.AddBadge(BadgeRow("D1").Client(3));
  std::string out;
  EXPECT_EQ(Run("VQDNL60P", "1", &out), kExitOk);
  EXPECT_EQ(ReadFile(path_), Rec60("A1") + Rec60("B1") + Rec60("C1"));
  EXPECT_NE(out.find("Schema: MND1\n" + Counts(2, 2)), std::string::npos) << out;
  EXPECT_NE(out.find("Schema: MND2\n" + Counts(1, 1)), std::string::npos) << out;
  EXPECT_EQ(out.find("MND3"), std::string::npos) << out;
}

TEST_F(GenRun, TerminalWithoutSchemaRunsEverySchema) {
  db_.AddClient(2, "MND2");
  db_.AddBadge(BadgeRow("B1").Client(2));
  db_.AddBadge(BadgeRow("A1"));
  std::string out;
  EXPECT_EQ(Run("vqdnl60p", "1", &out), kExitOk);
  EXPECT_EQ(ReadFile(path_), Rec60("A1") + Rec60("B1"));
  EXPECT_NE(out.find("Schema: MND1\n"), std::string::npos);
  EXPECT_NE(out.find("Schema: MND2\n"), std::string::npos);
}

// Every fixed layout is written as records of exactly its width, trailing
// blanks restored, with no separator.
TEST_F(GenRun, FixedRecordsFilledToTheirWidth) {
  struct Case {
    const char* function;
    size_t width;
  } cases[] = {{"VQDNL17P", 85}, {"VQDNL31P", 48}, {"VQDNL18P", 173}, {"VQDNL60P", 45}};
  db_.AddBadge(BadgeRow("B1").Pnr("P1"));
  db_.AddBadge(BadgeRow("B2").Pnr("P2"));
  db_.AddReader(1, "R1");
  db_.Permit("5", "R1");
  for (const Case& k : cases) {
    SCOPED_TRACE(k.function);
    EXPECT_EQ(Run(k.function, "1"), kExitOk);
    std::string file = ReadFile(path_);
    ASSERT_EQ(file.size(), 2 * k.width);
    EXPECT_EQ(file.substr(0, 2), "B1");
    EXPECT_EQ(file.substr(k.width, 2), "B2");
    EXPECT_EQ(file.find('\n'), std::string::npos);
    EXPECT_EQ(file.back(), ' ');
  }
}

TEST_F(GenRun, IdstammLinesEndInCrLfSorted) {
  db_.AddBadge(BadgeRow("B2").Pnr("P2"));
  db_.AddBadge(BadgeRow("B1").Pnr("P1"));
  EXPECT_EQ(Run("IDSTAMM", "1"), kExitOk);
  EXPECT_EQ(ReadFile(path_),
            "\"B1\",\"20060101\",\"\",\"\",\"1\",\"0\",\"\",\"\",\"001\",\"5  \",\"\",\"P1\","
            "\"0\"\r\n"
            "\"B2\",\"20060101\",\"\",\"\",\"1\",\"0\",\"\",\"\",\"001\",\"5  \",\"\",\"P2\","
            "\"0\"\r\n");
}

// Only the first character of the fourth argument counts: "1" replaces.
TEST_F(GenRun, AppendOrReplace) {
  db_.AddBadge(BadgeRow("A1"));
  struct Step {
    const char* flag;
    std::string file;
  } steps[] = {
      {"1", Rec60("A1")},
      {"0", Rec60("A1") + Rec60("A1")},
      {"10", Rec60("A1")},
      {"2", Rec60("A1") + Rec60("A1")},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.flag);
    EXPECT_EQ(Run("VQDNL60P", s.flag), kExitOk);
    EXPECT_EQ(ReadFile(path_), s.file);
  }
}

TEST_F(GenRun, RefusedLineGivesStatusOneAndTheOtherLines) {
  db_.AddBadge(BadgeRow("A1"));
  db_.AddBadge(BadgeRow("B1"));
  db_.RefuseLinesStartingWith("A1");
  std::string out;
  EXPECT_EQ(Run("VQDNL60P", "1", &out), kExitLinesLost);
  EXPECT_EQ(ReadFile(path_), Rec60("B1"));
  EXPECT_NE(out.find("Insert-Error Zrt999Tmp! ErrNr: "), std::string::npos);
}

TEST_F(GenRun, TooFewArgumentsOrUnknownFunctionTouchNothing) {
  db_.AddBadge(BadgeRow("A1"));
  db_.Exec("INSERT INTO \"ZrSystem.Zrt999Tmp\" VALUES ('" + path_ + "', 'kept');");
  WriteFile(path_, "old");
  std::string out;
  EXPECT_EQ(Run({"VQDNL60P", kTerminal, path_}, &out), kExitUsage);
  EXPECT_EQ(out.rfind("Anzahl Parameter(mind. 4) unterschritten! AnzParam: 3Aufruf: PLOMVARDE "
                      "[Param1] [Param2] [Param3] [Param4]  \n",
                      0),
            0u)
      << out;
  EXPECT_EQ(Run("VQDNL99P", "1", &out), kExitUsage);
  EXPECT_EQ(ReadFile(path_), "old");
  EXPECT_EQ(db_.StoredLines(path_), std::vector<std::string>{"kept"});
}

// Each refusal of the command line: its message first, then the usage
// texts; the file and the line store stay as they were.
TEST_F(GenRun, CommandLineRefusals) {
  db_.AddBadge(BadgeRow("A1"));
  db_.Exec("INSERT INTO \"ZrSystem.Zrt999Tmp\" VALUES ('" + path_ + "', 'kept');");
  WriteFile(path_, "old");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"VQDNL60P", kTerminal, "", "1"}, "Pfad der DNL-Datei fehlt!\n"},
      {{"VQDNL99P", kTerminal, path_, "1"}, "Unbekannte DNL-Funktion: VQDNL99P\n"},
      {{"VQDNL60P", "TERMINAL_11", path_, "1"}, "Parameter zu lang: Terminal-Name\n"},
      {{"VQDNL60P", kTerminal, std::string(101, 'p'), "1"},
       "Parameter zu lang: Pfad der DNL-Datei\n"},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(Run(c.args, &out), kExitUsage) << c.message;
    EXPECT_EQ(out.rfind(c.message + "Aufruf: PLOMVARDE ", 0), 0u) << out;
  }
  EXPECT_EQ(ReadFile(path_), "old");
  EXPECT_EQ(db_.StoredLines(path_), std::vector<std::string>{"kept"});
}

TEST_F(GenRun, ConnectFailureNamesTheSettingsButNotThePassword) {
  std::string server = "sqlite:" + dir_ + "/missing.db";
  WriteConfig(server);
  WriteFile(path_, "old");
  std::string out;
  EXPECT_EQ(Run("VQDNL17P", "1", &out), kExitUnavailable);
  ASSERT_EQ(out.rfind("DB-Connect-Error: ", 0), 0u) << out;
  std::string tail = "!Name:sa Pwd:*** Net:" + server + " Schema:ZrSystem\n";
  EXPECT_NE(out.find(tail), std::string::npos) << out;
  EXPECT_EQ(out.find("geheim"), std::string::npos);
  EXPECT_EQ(ReadFile(path_), "old");
}

TEST_F(GenRun, LineStoreThatCannotBeEmptiedEndsTheRun) {
  db_.AddBadge(BadgeRow("A1"));
  db_.Exec("INSERT INTO \"ZrSystem.Zrt999Tmp\" VALUES ('" + path_ + "', 'kept');");
  db_.Exec(
      "CREATE TRIGGER nodelete BEFORE DELETE ON \"ZrSystem.Zrt999Tmp\" BEGIN "
      "SELECT RAISE(ABORT, 'refused'); END;");
  std::string out;
  EXPECT_EQ(Run("VQDNL60P", "1", &out), kExitUnavailable);
  EXPECT_EQ(out.rfind("Error Tab. Zrt999Tmp loeschen! ErrNr: -", 0), 0u) << out;
  EXPECT_NE(out.find(" User: " + path_), std::string::npos);
  EXPECT_EQ(db_.StoredLines(path_), std::vector<std::string>{"kept"});
}

// The lines stay in the line store; the next run of the path replaces them.
TEST_F(GenRun, FileThatCannotBeWrittenKeepsTheLines) {
  db_.AddBadge(BadgeRow("A1"));
  // A directory where the file should be: nothing can be opened to write.
  std::string path = dir_ + "/sub";
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  std::string out;
  EXPECT_EQ(Run({"VQDNL60P", kTerminal, path, "1"}, &out), kExitCantWrite);
  EXPECT_NE(out.find("Donwloadfile " + path + " konnte nicht geoeffnet werden!\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(db_.StoredLines(path), std::vector<std::string>{Rec60("A1")});

  ASSERT_EQ(rmdir(path.c_str()), 0);
  EXPECT_EQ(Run({"VQDNL60P", kTerminal, path, "1"}), kExitOk);
  EXPECT_EQ(ReadFile(path), Rec60("A1"));
  EXPECT_EQ(db_.StoredLines(path), std::vector<std::string>{Rec60("A1")});
}

TEST_F(GenRun, SecondRunOfTheSamePathIsRefused) {
  db_.AddBadge(BadgeRow("A1"));
  WriteFile(path_, "old");
  PathLock held(path_, 0);
  ASSERT_EQ(held.state(), PathLock::State::kHeld);
  std::string out;
  EXPECT_EQ(Run("VQDNL60P", "1", &out), kExitLocked);
  EXPECT_EQ(out, "Downloadfile " + path_ + " wird von einem anderen Lauf erstellt!\n");
  EXPECT_EQ(ReadFile(path_), "old");
}

// Names that the database takes for one line store key share one lock:
// trailing blanks do not count, nor does case (SQL Server's usual
// collations ignore it).
TEST_F(GenRun, NamesOfOneLineStoreKeyShareItsLock) {
  EXPECT_EQ(LineStoreLockKey("dl/t\xe4st.dnl  "), "DL/T\xc4ST.DNL");
  EXPECT_EQ(LineStoreLockKey("a\x9a\xff\xf7.dnl"), "A\x8a\x9f\xf7.DNL");
  EXPECT_EQ(LineStoreLockKey(" a.dnl\t"), " A.DNL\t");  // only trailing blanks go
  db_.AddBadge(BadgeRow("A1"));
  KeyLock held(AppLockFileOf(db_.db().path()), "Zrt999Tmp " + LineStoreLockKey(path_), 0);
  ASSERT_EQ(held.state(), KeyLock::State::kHeld);
  for (const std::string& name : {path_ + "  ", dir_ + "/term1.DNL"}) {
    std::string out;
    EXPECT_EQ(Run({"VQDNL60P", kTerminal, name, "1"}, &out), kExitLocked) << name;
    EXPECT_EQ(out, "Downloadfile " + name + " wird von einem anderen Lauf erstellt!\n");
  }
}

// What another user plants where the run writes or locks refuses the run at
// once, names the cause and leaves every file as it was: a link the system
// would not follow, a pipe nobody reads, a link as the dry run's or the
// guard's side file, another user's lock files.
TEST_F(GenRun, AnotherUsersPlantsRefuseTheRun) {
  unsigned uid = 0, gid = 0;
  std::string why;
  if (!test::OtherUser(&uid, &gid, &why)) GTEST_SKIP() << why;
  for (int i = 0; i < 30; ++i) db_.AddBadge(BadgeRow("B" + std::to_string(i)));
  std::string shared = dir_ + "/shared", secret = test::TempDir() + "/secret";
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  const std::string owner =
      "plomvarde-other (uid " + std::to_string(uid) + ")";
  auto link_to_secret = [&](const std::string& at) {
    ASSERT_EQ(symlink(secret.c_str(), at.c_str()), 0);
    ASSERT_EQ(lchown(at.c_str(), uid, gid), 0);
  };
  auto theirs = [&](const std::string& at) {
    WriteFile(at, "");
    ASSERT_EQ(chown(at.c_str(), uid, gid), 0);
    ASSERT_EQ(chmod(at.c_str(), 0666), 0);
  };
  struct Case {
    const char* what;
    std::function<void(const std::string& file)> plant;
    bool dry_run;
    int guard_pct, status;
    std::function<std::string(const std::string& file)> said;
  } cases[] = {
      {"a link as the file", link_to_secret, false, 0, kExitCantWrite,
       [&](const std::string& f) {
         return "Donwloadfile " + f + " konnte nicht geoeffnet werden!\nlink " + f +
                " belongs to user " + owner + " in a sticky world-writable directory: not followed\n";
       }},
      {"a pipe as the file", [](const std::string& f) { ASSERT_EQ(mkfifo(f.c_str(), 0666), 0); },
       false, 0, kExitCantWrite,
       [](const std::string& f) { return f + ": no process reads this pipe\n"; }},
      {"a link as FILE.new", [&](const std::string& f) { link_to_secret(f + ".new"); }, true, 0,
       kExitCantWrite, [](const std::string& f) { return f + ".new is a link: not written\n"; }},
      {"a link as FILE.rejected",
       [&](const std::string& f) {
         WriteFile(f, std::string(45 * 400, 'x'));
         link_to_secret(f + ".rejected");
       },
       false, 90, kExitCantWrite,
       [](const std::string& f) { return f + ".rejected is a link: not written\n"; }},
      {"their FILE.lock", [&](const std::string& f) { theirs(f + ".lock"); }, false, 0,
       kExitLocked,
       [&](const std::string& f) {
         return "Sperrdatei " + f + ".lock nicht verwendbar: another user's file (owner " + owner +
                ")\n";
       }},
      {"their database lock file",
       [&](const std::string&) { theirs(AppLockFileOf(db_.db().path())); }, false, 0,
       kExitLocked,
       [&](const std::string& f) {
         return "Sperre Zrt999Tmp " + f + " nicht verwendbar: lock file " +
                AppLockFileOf(db_.db().path()) + ": another user's file (owner " + owner + ")\n";
       }},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string file = shared + "/f" + std::to_string(++n) + ".dnl";
    WriteFile(secret, "secret");
    c.plant(file);
    std::string out;
    auto start = std::chrono::steady_clock::now();
    int status = Run({"VQDNL60P", kTerminal, file, "1"}, &out, [&](RunOptions* o) {
      o->dry_run = c.dry_run;
      o->guard_pct = c.guard_pct;
      o->lock_wait_ms = 60000;
    });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(status, c.status) << out;
    EXPECT_NE(out.find(c.said(file)), std::string::npos) << out;
    EXPECT_EQ(ReadFile(secret), "secret");
    std::remove(AppLockFileOf(db_.db().path()).c_str());
  }
}

// Reusing admission answers within a run changes nothing of what is stored
// or printed.
TEST(GenReuse, SameLinesAndMessagesWithAndWithoutReusedAnswers) {
  GenDb db;
  db.AddLabels({"Datum", "Saldo", "frei", "VJ", "Anspruch", "Genommen", "Verplant", "Rest"});
  db.AddReader(1, "R1");
  db.AddReader(2, "R2");
  db.AddReader(7, "R7");
  db.AddReader(12, "R12");
  db.Permit("5", "R2");
  db.Permit("6", "R12");
  db.Permit("7", "R1", 3);
  db.Permit("8", "R7");
  db.Permit("8", "R1", 3);
  db.AddGroupRight("G1", "8", "2010-05-01 00:00:00");
  db.AddLocation("12", "HAL");
  const char* classes[] = {"5", "6", "7", "8", "0", "9", "5", "0"};
  for (int i = 0; i < 16; ++i) {
    std::string pnr = "P" + std::to_string(i % 5);
    db.AddBadge(BadgeRow("B" + std::to_string(i / 2))
                    .From(i % 3 ? test::kJan2006 : "2007-01-01 00:00:00")
                    .Pnr(i % 4 ? pnr : "")
                    .Class(classes[i % 8])
                    .Group(i % 2 ? "G1" : "")
                    .Location(i % 3 ? "12" : "7"));
  }
  for (int p = 0; p < 4; ++p) {
    std::string pnr = "P" + std::to_string(p);
    db.AddBalance(pnr, 100 * p - 150);
    db.AddPerson(pnr, p, "S" + pnr);
    db.AddVacation(pnr, p, 1.5, 0.5, p + 2, 3);
  }
  GeneratorFn generators[] = {GenerateVQDNL17P, GenerateVQDNL31P, GenerateVQDNL18P,
                              GenerateVQDNL60P, GenerateIDSTAMM};
  for (GeneratorFn g : generators) {
    auto reused = db.Run(g, "MND1", "/dnl/reused", true);
    auto literal = db.Run(g, "MND1", "/dnl/literal", false);
    EXPECT_FALSE(reused.lines.empty());
    EXPECT_EQ(reused.lines, literal.lines);
    EXPECT_EQ(reused.out, literal.out);
  }
}

}  // namespace
}  // namespace plom
