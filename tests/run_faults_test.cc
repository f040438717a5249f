// Whole runs whose database fails on the way, through a scripted backend in
// front of the embedded one: every path either writes the complete file, or
// leaves the old file as it was and says why. Each case asserts the exit
// status, the download file and the line store afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "driver/run.h"
#include "installation/line_store.h"
#include "installation/shared_answers.h"
#include "tests/generator_fixture.h"
#include "tests/scripted_backend.h"

namespace plom {
namespace {

using test::BadgeRow;
using test::Blanks;
using test::Field;
using test::GenDb;
using test::kTerminal;
using test::ReadFile;
using test::ScriptedBackend;
using test::ScriptLog;
using test::ScriptRule;
using test::WriteFile;

constexpr char kOld[] = "the old download file";
constexpr char kBegin[] = "BEGIN TRANSACTION Tmp_PKeyIns_Sp";
constexpr char kCommit[] = "COMMIT TRANSACTION";
constexpr char kSave[] = "SAVE TRANSACTION";
constexpr char kInsert[] = "INSERT INTO ZrSystem.Zrt999Tmp";
constexpr char kRollbackSave[] = "ROLLBACK TRANSACTION Tmp_PKeyIns_Sv";
constexpr char kBadgeCursor[] = "ASW_VQDNL_C";

std::string ConfigEntry(int number, const std::string& key, const std::string& value) {
  return "DB;Korvantis;\r\n" + std::to_string(number) + ";" + key + ";" + EncipherValue(value) +
         "\r\n";
}

// The 45-character record of a badge with time recording only.
std::string Rec60(const std::string& badge) {
  return Field(badge, 13) + "20060101" + "10" + Blanks(22);
}

std::string Badge(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "B%05d", i);
  return buf;
}

class RunFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::TempDir();
    path_ = dir_ + "/TERM1.dnl";
    WriteFile(config_, ConfigEntry(1, "LOGIN", "sa") + ConfigEntry(2, "PASS", "geheim") +
                           ConfigEntry(3, "SQLSERVER", db_.db().server()) +
                           ConfigEntry(4, "SCHEMA", "ZrSystem."));
    WriteFile(path_, kOld);
    db_.Exec("INSERT INTO \"ZrSystem.Zrt999Tmp\" VALUES ('" + path_ + "', 'kept');");
  }

  // n badges B00001 ... in one statement.
  void AddBadges(int n) {
    std::string numbers =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(n) + ") ";
    db_.Exec(
        "INSERT INTO \"ZrSystem.Zrt301Asw\" (AswNum, AswGvo, AswGbi, AswPnr, AswBkl, AswGrp, "
        "AswAan, AswAtp, AswLiz, AswMnd) " +
        numbers +
        "SELECT printf('B%05d', i), '2006-01-01 00:00:00', NULL, '', '5', '', 'aan', 0, 1, 1 "
        "FROM n;");
    db_.Exec("INSERT INTO \"ZrSystem.Zrt113Awv\" " + numbers +
             "SELECT printf('B%05d', i), NULL FROM n;");
  }

  std::string Records(int n) {
    std::string all;
    for (int i = 1; i <= n; ++i) all += Rec60(Badge(i));
    return all;
  }

  // as_batch: as a run of a batch runs (answers kept for the batch, the
  // lines held and stored at once, writes in turn with the other runs).
  int Run(std::vector<ScriptRule> rules, bool grouped = true, bool as_batch = false) {
    log_ = std::make_shared<ScriptLog>();
    test::Capture cap;
    Messages msg(cap.file());
    RunOptions options;
    options.config_path = config_;
    options.lock_wait_ms = 0;
    options.group_lines = grouped;
    SharedAnswers shared;
    std::mutex writes;
    if (as_batch) {
      options.shared = &shared;
      options.hold_lines = true;
      options.line_store_writes = &writes;
    }
    auto log = log_;
    bool together = together_;
    options.wrap_backend = [rules, log,
                            together](std::unique_ptr<Backend> real) -> std::unique_ptr<Backend> {
      auto scripted = std::make_unique<ScriptedBackend>(std::move(real), rules, log);
      scripted->SetSendsRowsTogether(together);
      return scripted;
    };
    RunParams params;
    EXPECT_TRUE(TakeArguments({"VQDNL60P", kTerminal, path_, "1"}, msg, &params));
    figures_ = RunDownload(params, msg, options);
    msg.Flush();
    out_ = cap.Text();
    return figures_.status;
  }

  // Lines stored under the path, sorted.
  std::vector<std::string> Stored() {
    std::vector<std::string> lines = db_.StoredLines(path_);
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  // The state before a run: the old file, one line of the previous run.
  void Reset() {
    WriteFile(path_, kOld);
    db_.Exec("DELETE FROM \"ZrSystem.Zrt999Tmp\"; INSERT INTO \"ZrSystem.Zrt999Tmp\" VALUES ('" +
             path_ + "', 'kept');");
  }

  void ExpectUntouched() {
    EXPECT_EQ(ReadFile(path_), kOld);
    EXPECT_NE(out_.find("Downloadfile " + path_ + " bleibt unveraendert.\n"), std::string::npos)
        << out_;
  }

  GenDb db_;
  std::string dir_, path_;
  std::string config_ = test::TempDir() + "/korvantis.ini";
  std::string out_;
  RunFigures figures_;
  std::shared_ptr<ScriptLog> log_;
  // The connection says it sends rows together (parameter arrays).
  bool together_ = false;
};

// The open or a fetch of a cursor that decides which badges go into the
// file fails: the run ends with 69 and the old file stays.
TEST_F(RunFaults, CursorErrorsEndTheRun) {
  AddBadges(3);
  struct Case {
    const char* cursor;
    const char* name;
    size_t stored;  // lines in the line store afterwards
  } cases[] = {
      {"MND_SCHEMAREST_C", "MND_SCHEMAREST_C", 0},
      {"MND_SCHEMAALL_C", "MND_SCHEMAALL_C", 0},
      {kBadgeCursor, "ASW_VQDNL_C", 0},
      {"TMP_USRSTR_C", "TMP_USRSTR_C", 3},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.cursor);
    EXPECT_EQ(Run({ScriptRule::Fail(k.cursor, 1, 1, -208)}), kExitUnavailable);
    EXPECT_EQ(Stored().size(), k.stored);
    EXPECT_EQ(log_->Count(kInsert), static_cast<int>(k.stored));
    ExpectUntouched();
    EXPECT_NE(out_.find(std::string("DB-Fehler bei ") + k.name +
                        "! ErrNr: -208\n"
                        "scripted failure -208\n"),
              std::string::npos)
        << out_;
    EXPECT_EQ(log_->failed, 1);
  }
}

// A fetch error in the middle of the badge cursor's rows: the rows are
// read when the cursor opens, so the open reports it; the badges read
// before it must not make a file either.
TEST_F(RunFaults, BadgeCursorErrorAfterSomeRows) {
  AddBadges(3);
  EXPECT_EQ(Run({ScriptRule::FailAfterRun(kBadgeCursor, 1, 1, -10054)}), kExitUnavailable);
  ExpectUntouched();
  EXPECT_EQ(log_->Count(kInsert), 0);
  EXPECT_EQ(Stored(), std::vector<std::string>{});
}

// Tables or columns missing in a real database: never an empty file with
// status 0.
class RunDamaged : public RunFaults, public ::testing::WithParamInterface<const char*> {};

TEST_P(RunDamaged, EndsTheRun) {
  AddBadges(2);
  db_.Exec(GetParam());
  EXPECT_EQ(Run({}), kExitUnavailable);
  ExpectUntouched();
  EXPECT_NE(out_.find("DB-Fehler bei "), std::string::npos) << out_;
}

INSTANTIATE_TEST_SUITE_P(
    RunFaults, RunDamaged,
    ::testing::Values("DROP TABLE \"ZrSystem.Zrt301Asw\";",
                      "ALTER TABLE \"ZrSystem.Zrt301Asw\" RENAME COLUMN AswBkl TO AswXyz;",
                      "DROP TABLE \"ZrSystem.Zrt115Tfz\";", "DROP TABLE \"ZrSystem.Zrt112Mnd\";"));

// A failed BEGIN of the line store's delete ends the run at once: no
// DELETE is sent (which would wait for the database again).
TEST_F(RunFaults, FailedBeginOfTheDeleteEndsTheRunAtOnce) {
  AddBadges(2);
  EXPECT_EQ(Run({ScriptRule::Fail("BEGIN TRANSACTION Tmp_UsrDel_Sp", 1, 1, -5)}), kExitUnavailable);
  EXPECT_EQ(ReadFile(path_), kOld);
  EXPECT_EQ(log_->Count("DELETE FROM"), 0);
  EXPECT_EQ(log_->Count(kBadgeCursor), 0);
  EXPECT_EQ(out_.rfind("Error Tab. Zrt999Tmp loeschen! ErrNr: -5 User: ", 0), 0u) << out_;
  EXPECT_EQ(Stored(), std::vector<std::string>{"kept"});
}

// A run of a batch holds its lines and deletes the path's previous lines
// only when its generators are done, right before it stores the new ones.
// Whatever fails on the way, it says and returns what a run that deletes
// first says and returns, and leaves the same file and line store.
TEST_F(RunFaults, HeldRunFailsAsARunThatDeletesFirst) {
  AddBadges(3);
  const char* const kBeginDelete = "BEGIN TRANSACTION Tmp_UsrDel_Sp";
  const struct {
    const char* name;
    std::vector<ScriptRule> rules;
  } cases[] = {
      {"nothing fails", {}},
      {"the delete's begin", {ScriptRule::Fail(kBeginDelete, 1, 1, -5)}},
      {"the delete", {ScriptRule::Fail("DELETE FROM", 1, 1, -1205)}},
      {"the delete's commit", {ScriptRule::Fail(kCommit, 1, 1, -1205)}},
      {"the delete's answer lost", {ScriptRule::FailAfterRun("DELETE FROM", 1, 1, -10054)}},
      {"the schema cursor", {ScriptRule::Fail("MND_SCHEMAREST_C", 1, 1, -208)}},
      {"the badge cursor", {ScriptRule::Fail(kBadgeCursor, 1, 1, -208)}},
      {"the badge cursor and the delete",
       {ScriptRule::Fail(kBadgeCursor, 1, 1, -208), ScriptRule::Fail(kBeginDelete, 1, 1, -5)}},
      {"the read-back", {ScriptRule::Fail("TMP_USRSTR_C", 1, 1, -208)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    int status = Run(c.rules);
    std::string said = out_, file = ReadFile(path_);
    std::vector<std::string> stored = Stored();
    RunFigures figures = figures_;
    Reset();
    EXPECT_EQ(Run(c.rules, true, true), status);
    EXPECT_EQ(figures_.badges_read, figures.badges_read);
    EXPECT_EQ(figures_.records_written, figures.records_written);
    EXPECT_EQ(figures_.lines_lost, figures.lines_lost);
    EXPECT_EQ(out_, said);
    EXPECT_EQ(ReadFile(path_), file);
    EXPECT_EQ(Stored(), stored);
    EXPECT_GT(log_->failed + (c.rules.empty() ? 1 : 0), 0);
  }
}

// A delete that cannot be committed keeps the old lines and ends the run.
TEST_F(RunFaults, FailedCommitOfTheDeleteEndsTheRun) {
  AddBadges(2);
  EXPECT_EQ(Run({ScriptRule::Fail(kCommit, 1, 1, -1205)}), kExitUnavailable);
  EXPECT_EQ(ReadFile(path_), kOld);
  EXPECT_EQ(Stored(), std::vector<std::string>{"kept"});
  EXPECT_EQ(log_->Count(kBadgeCursor), 0);
}

// Every way a group of lines can fail to finish, at the end of the run and
// in the middle of it, behind savepoints and sent together as an array: the
// group's lines are stored again one per transaction and the file is
// complete, with status 0.
TEST_F(RunFaults, FailedGroupsAreStoredAgainLineByLine) {
  const int n = kLinesPerGroup + 7;
  AddBadges(n);
  struct Case {
    const char* what;
    ScriptRule rule;
    bool together;
  } cases[] = {
      // COMMIT 1 empties the line store; COMMIT 2 ends the first group.
      {"mid-run commit", ScriptRule::Fail(kCommit, 2), false},
      {"last commit", ScriptRule::Fail(kCommit, 3), false},
      {"begin of a group", ScriptRule::Fail(kBegin, 2), false},
      {"save", ScriptRule::Fail(kSave, 10), false},
      {"save of the second group", ScriptRule::Fail(kSave, kLinesPerGroup + 3), false},
      {"mid-run commit, together", ScriptRule::Fail(kCommit, 2), true},
      {"last commit, together", ScriptRule::Fail(kCommit, 3), true},
      {"begin of the first group, together", ScriptRule::Fail(kBegin, 1), true},
      {"begin of the second group, together", ScriptRule::Fail(kBegin, 2), true},
      {"a row of the array refused", ScriptRule::Fail(kInsert, 2001, 1, -1205), true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    WriteFile(path_, kOld);
    together_ = k.together;
    EXPECT_EQ(Run({k.rule}), kExitOk) << out_;
    EXPECT_EQ(ReadFile(path_), Records(n));
    EXPECT_EQ(Stored().size(), static_cast<size_t>(n));
    EXPECT_EQ(log_->failed, 1);
    if (k.together) {
      EXPECT_EQ(log_->Count(kSave), 0);
    }
  }
}

// A refused insert whose savepoint cannot be rolled back means the
// transaction is gone: the lines before it are stored again, and the
// refused line is tried once more on its own.
TEST_F(RunFaults, RollbackToTheSavepointFailing) {
  AddBadges(5);
  EXPECT_EQ(
      Run({ScriptRule::Fail(kInsert, 3, 1, -2627), ScriptRule::Fail(kRollbackSave, 1, 1, -3903)}),
      kExitOk)
      << out_;
  EXPECT_EQ(ReadFile(path_), Records(5));
  EXPECT_EQ(Stored().size(), 5u);
}

// A commit that went through although its answer was lost: stored again,
// each line is refused as a duplicate, which counts as stored.
TEST_F(RunFaults, LostCommitAnswerWithUniqueLines) {
  db_.Exec("CREATE UNIQUE INDEX u ON \"ZrSystem.Zrt999Tmp\" (TmpUsr, TmpStr);");
  AddBadges(4);
  EXPECT_EQ(Run({ScriptRule::FailAfterRun(kCommit, 2)}), kExitOk) << out_;
  EXPECT_EQ(ReadFile(path_), Records(4));
  EXPECT_EQ(Stored().size(), 4u);
  EXPECT_EQ(out_.find("Insert-Error"), std::string::npos) << out_;
}

// One line refused when its group is stored again: reported, counted as
// lost (status 1), the others are in the file.
TEST_F(RunFaults, LineRefusedWhenStoredAgain) {
  AddBadges(4);
  // INSERTs 1-4 in the group, the commit fails, INSERTs 5-8 store again.
  EXPECT_EQ(Run({ScriptRule::Fail(kCommit, 2), ScriptRule::Fail(kInsert, 6, 1, -547)}),
            kExitLinesLost);
  EXPECT_EQ(ReadFile(path_), Rec60(Badge(1)) + Rec60(Badge(3)) + Rec60(Badge(4)));
  EXPECT_NE(out_.find("Insert-Error Zrt999Tmp! ErrNr: -547User: " + path_ +
                      "  String: " + Rec60(Badge(2))),
            std::string::npos)
      << out_;
  EXPECT_EQ(Stored().size(), 3u);
}

// The database takes no line at all any more (a full disk): the group
// cannot be stored again either, the run ends with 69.
TEST_F(RunFaults, GroupThatCannotBeStoredAgainEndsTheRun) {
  AddBadges(4);
  for (auto rule : {ScriptRule::Fail(kCommit, 2, 0, -13), ScriptRule::Fail(kInsert, 5, 0, -13)}) {
    SCOPED_TRACE(rule.text);
    WriteFile(path_, kOld);
    // The delete commits only when it finds a line: keep the numbering.
    db_.Exec("INSERT INTO \"ZrSystem.Zrt999Tmp\" VALUES ('" + path_ + "', 'kept');");
    EXPECT_EQ(Run({ScriptRule::Fail(kCommit, 2), rule}), kExitUnavailable) << out_;
    ExpectUntouched();
    EXPECT_NE(out_.find("DB-Fehler bei Zrt999Tmp! ErrNr: -13\n"), std::string::npos) << out_;
    EXPECT_EQ(Stored(), std::vector<std::string>{});
  }
}

// Without groups, every line is its own transaction: a BEGIN or COMMIT
// that fails is the database failing, not a refused line.
TEST_F(RunFaults, UngroupedTransactionStatementsFailing) {
  AddBadges(3);
  struct Case {
    ScriptRule rule;
    int status;
  } cases[] = {
      {ScriptRule::Fail(kBegin, 2, 1, -5), kExitUnavailable},
      {ScriptRule::Fail(kCommit, 3, 1, -5), kExitUnavailable},
      {ScriptRule::Fail("ROLLBACK TRANSACTION Tmp_PKeyIns_Sp", 1, 1, -5), kExitUnavailable},
      {ScriptRule::Fail(kInsert, 2, 1, -547), kExitLinesLost},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.rule.text);
    WriteFile(path_, kOld);
    // The rollback case needs a refused insert first.
    std::vector<ScriptRule> rules = {k.rule};
    if (k.rule.text.find("ROLLBACK") != std::string::npos) {
      rules.push_back(ScriptRule::Fail(kInsert, 2, 1, -547));
    }
    EXPECT_EQ(Run(rules, false), k.status) << out_;
    if (k.status == kExitUnavailable) {
      ExpectUntouched();
    } else {
      EXPECT_EQ(ReadFile(path_), Rec60(Badge(1)) + Rec60(Badge(3)));
    }
  }
}

// Every line refused: nothing says single lines were refused; the old file
// stays.
TEST_F(RunFaults, EveryLineRefusedKeepsTheOldFile) {
  AddBadges(3);
  EXPECT_EQ(Run({ScriptRule::Fail(kInsert, 1, 0, -547)}), kExitUnavailable);
  ExpectUntouched();
}

// The connection lost in the middle of the run, at several moments: never
// a file.
TEST_F(RunFaults, ConnectionLostMidRun) {
  AddBadges(30);
  for (int from : {3, 8, 20, 40, 60}) {
    SCOPED_TRACE(from);
    WriteFile(path_, kOld);
    EXPECT_EQ(Run({ScriptRule::Fail("", from, 0, -10054)}), kExitUnavailable) << out_;
    EXPECT_EQ(ReadFile(path_), kOld);
  }
}

// Another run (on another machine, or in another working directory with
// the same relative path) holds the line store of the path: refused with
// 75, nothing touched.
TEST_F(RunFaults, LineStoreHeldByAnotherSession) {
  AddBadges(2);
  auto other = db_.db().Connect();
  ASSERT_EQ(LockLineStore(*other, path_, 0), 0);
  EXPECT_EQ(Run({}), kExitLocked);
  EXPECT_EQ(out_, "Downloadfile " + path_ + " wird von einem anderen Lauf erstellt!\n");
  EXPECT_EQ(ReadFile(path_), kOld);
  EXPECT_EQ(Stored(), std::vector<std::string>{"kept"});
  // Another path is not held; and the lock ends with its session.
  auto third = db_.db().Connect();
  EXPECT_EQ(LockLineStore(*third, path_ + "x", 0), 0);
  other.reset();
  EXPECT_EQ(Run({}), kExitOk);
  EXPECT_EQ(ReadFile(path_), Records(2));
}

// A lock file that cannot be used refuses the run before anything is
// touched: never a run without its lock.
TEST_F(RunFaults, UnusableLockFileRefusesTheRun) {
  AddBadges(1);
  ASSERT_EQ(mkdir((path_ + ".lock").c_str(), 0755), 0);
  EXPECT_EQ(Run({}), kExitLocked);
  EXPECT_EQ(out_, "Sperrdatei " + path_ + ".lock nicht verwendbar: Is a directory\n");
  EXPECT_EQ(ReadFile(path_), kOld);
  EXPECT_EQ(Stored(), std::vector<std::string>{"kept"});
  EXPECT_TRUE(log_->sent.empty());
}

// A statement that fails to take the lock is a database failure.
TEST_F(RunFaults, LockStatementFailing) {
  AddBadges(1);
  EXPECT_EQ(Run({ScriptRule::Fail("sp_getapplock", 1, 1, -2812)}), kExitUnavailable);
  ExpectUntouched();
  EXPECT_EQ(Stored(), std::vector<std::string>{"kept"});
}

// Lines sent together, a group at a time: refusals found when a group is
// sent are said in the place of their lines, and each pass counts what was
// stored. Messages, file and status are those of the plain sequence (one
// transaction per line) and of groups with a savepoint per line.
TEST_F(RunFaults, LinesSentTogetherSayWhatThePlainSequenceSays) {
  const int n = kLinesPerGroup + 7;
  AddBadges(n);
  // Badges too long for the layout, among the others: messages said while
  // lines are held.
  for (const char* b : {"B00004", "B01990", "B02003"}) {
    db_.Exec(std::string("UPDATE \"ZrSystem.Zrt301Asw\" SET AswNum = AswNum || 'LANGELANGE' ") +
             "WHERE AswNum = '" + b + "';");
    db_.Exec(std::string("UPDATE \"ZrSystem.Zrt113Awv\" SET AwvNum = AwvNum || 'LANGELANGE' ") +
             "WHERE AwvNum = '" + b + "';");
  }
  // Refused lines: early in the first group, its last line, and one in
  // the second group.
  db_.Exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON \"ZrSystem.Zrt999Tmp\" WHEN NEW.TmpStr LIKE "
      "'B00002%' OR NEW.TmpStr LIKE 'B02003%' OR NEW.TmpStr LIKE 'B02006%' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  struct Mode {
    const char* name;
    bool grouped, together;
  } modes[] = {{"plain", false, false}, {"savepoints", true, false}, {"together", true, true}};
  std::string plain_out, plain_file;
  for (const Mode& m : modes) {
    SCOPED_TRACE(m.name);
    WriteFile(path_, kOld);
    together_ = m.together;
    EXPECT_EQ(Run({}, m.grouped), kExitLinesLost) << out_;
    if (m.together) {
      EXPECT_EQ(log_->Count(kSave), 0);
    }
    if (!m.grouped) {
      plain_out = out_;
      plain_file = ReadFile(path_);
      continue;
    }
    EXPECT_EQ(out_, plain_out);
    EXPECT_EQ(ReadFile(path_), plain_file);
  }
  // What the plain sequence says, in its order.
  size_t first_refusal = plain_out.find("String: " + Rec60(Badge(2)));
  size_t first_long = plain_out.find("Ausweis B00004LANGELANGE: Ausweisnummer laenger");
  size_t last_refusal = plain_out.find("String: " + Rec60(Badge(2006)));
  size_t count = plain_out.find("Ausweise gesamt: " + std::to_string(n) +
                                " davon in Datei gestellt: " + std::to_string(n - 5) + "\n");
  EXPECT_NE(first_refusal, std::string::npos) << plain_out;
  EXPECT_LT(first_refusal, first_long);
  EXPECT_LT(first_long, last_refusal);
  EXPECT_LT(last_refusal, count);
  EXPECT_NE(count, std::string::npos) << plain_out;
  EXPECT_EQ(plain_file.size(), static_cast<size_t>(n - 5) * 45);
}

// A row of an array refused, and the group's rollback fails: the
// transaction had ended before, and rows after its end may have gone in on
// their own. Rather than store them twice the run ends; the old file stays.
TEST_F(RunFaults, GroupSentTogetherWhoseRollbackFailsEndsTheRun) {
  AddBadges(5);
  together_ = true;
  EXPECT_EQ(Run({ScriptRule::Fail(kInsert, 3, 1, -1205),
                 ScriptRule::Fail("ROLLBACK TRANSACTION Tmp_PKeyIns_Sp", 1, 1, -3903)}),
            kExitUnavailable)
      << out_;
  ExpectUntouched();
  EXPECT_NE(out_.find("DB-Fehler bei Zrt999Tmp! ErrNr: -3903\n"), std::string::npos) << out_;
}

// Messages that cannot be written change nothing of the file, but the
// status tells.
TEST_F(RunFaults, UnwritableStandardOutput) {
  AddBadges(2);
  FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full on this host";
  Messages msg(full);
  RunOptions options;
  options.config_path = config_;
  options.lock_wait_ms = 0;
  EXPECT_EQ(RunTool({"VQDNL60P", kTerminal, path_, "1"}, msg, options), kExitCantWrite);
  std::fclose(full);
  EXPECT_EQ(ReadFile(path_), Records(2));
}

// A write that fails after the file was opened names the system's reason.
TEST_F(RunFaults, WriteFailureNamesTheReason) {
  AddBadges(2);
  std::string link = dir_ + "/full.dnl";
  ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
  std::string saved = path_;
  path_ = link;
  EXPECT_EQ(Run({}), kExitCantWrite);
  EXPECT_EQ(out_,
            "Schema: MND1\nAusweise gesamt: 2 davon in Datei gestellt: 2\n"
            "Donwloadfile " +
                link +
                " konnte nicht geoeffnet werden!\n"
                "No space left on device\n");
  path_ = saved;
}

}  // namespace
}  // namespace plom
