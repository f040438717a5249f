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
constexpr char kInsert[] = "INSERT INTO ZrSystem.Zrt999Tmp";
constexpr char kBadgeCursor[] = "ASW_VQDNL_C";

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
    test::WriteRunConfig(config_, db_.db().server());
    WriteFile(path_, kOld);
    db_.Exec("INSERT INTO \"ZrSystem.Zrt999Tmp\" VALUES ('" + path_ + "', 'kept');");
    // A reader without permission rows: the admission checks ask for them.
    db_.AddReader(1, "R1");
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

  // as_batch: as a run of a batch runs (answers kept for the batch, writes
  // in turn with the other runs).
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

// Every failure class at every kind of statement a run sends, in one table:
// the database failing anywhere ends the run with 69 and the old file; a row
// the table refuses is a single lost line (1); one row's bad value is that
// badge's (0); a lost answer or a silently dropped row is caught before the
// file is written. Each case asserts the status, the file and the line
// store afterwards.
TEST_F(RunFaults, FaultTable) {
  const char* const kCount = "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp WHERE TmpUsr";
  const char* const kDelete = "DELETE FROM";
  enum Expect { kComplete, kOldFile, kWithoutSecond };
  const struct Case {
    const char* name;
    std::vector<ScriptRule> rules;
    int status;
    Expect file;
    size_t stored;       // lines in the line store afterwards
    bool grouped = true;
    bool together = false;
    const char* said = "";  // a text the run says
  } cases[] = {
      {"schema cursor", {ScriptRule::Fail("MND_SCHEMAREST_C", 1, 1, -208)}, 69, kOldFile, 0, true,
       false, "DB-Fehler bei MND_SCHEMAREST_C! ErrNr: -208\nscripted failure -208\n"},
      {"badge cursor", {ScriptRule::Fail(kBadgeCursor, 1, 1, -208)}, 69, kOldFile, 0, true, false,
       "DB-Fehler bei ASW_VQDNL_C! ErrNr: -208\n"},
      {"badge cursor's answer lost", {ScriptRule::FailAfterRun(kBadgeCursor, 1, 1, -10054)}, 69,
       kOldFile, 0},
      {"reader cursor", {ScriptRule::Fail("ZLS_ZLES_C", 1, 1, -208)}, 69, kOldFile, 0, true, false,
       "DB-Fehler bei ZLS_ZLES_C! ErrNr: -208\n"},
      {"permission count", {ScriptRule::Fail("ZbrZtb = 3", 1, 1, -1205)}, 69, kOldFile, 0, true,
       false, "DB-Fehler bei Zrt404Zbr! ErrNr: -1205\n"},
      {"balance", {ScriptRule::Fail("Zrt320Tgb", 2, 1, -2)}, 69, kOldFile, 0, true, false,
       "DB-Fehler bei Zrt320Tgb! ErrNr: -2\n"},
      {"balance overflow: that badge's", {ScriptRule::BadValue("Zrt320Tgb", 2)}, 0, kComplete, 3},
      {"the delete's begin", {ScriptRule::Fail("BEGIN TRANSACTION Tmp_UsrDel_Sp", 1, 1, -5)}, 69,
       kOldFile, 1, true, false, "Error Tab. Zrt999Tmp loeschen! ErrNr: -5 User: "},
      {"the delete", {ScriptRule::Fail(kDelete, 1, 1, -1205)}, 69, kOldFile, 1},
      {"the delete's commit", {ScriptRule::Fail(kCommit, 1, 1, -1205)}, 69, kOldFile, 1},
      {"a group's begin", {ScriptRule::Fail(kBegin, 1, 1, -5)}, 69, kOldFile, 0},
      {"an insert: disk full", {ScriptRule::Fail(kInsert, 2, 1, -13)}, 69, kOldFile, 0, true, false,
       "DB-Fehler bei Zrt999Tmp! ErrNr: -13\n"},
      // The second line's INSERT in the group, and again alone.
      {"an insert refused", {ScriptRule::Refuse(kInsert, 2), ScriptRule::Refuse(kInsert, 4)}, 1,
       kWithoutSecond, 2, true, false, "Insert-Error Zrt999Tmp! ErrNr: -2627User: "},
      {"a group's commit fails", {ScriptRule::Fail(kCommit, 2, 1, -1205)}, 0, kComplete, 3},
      {"a group's commit answer lost", {ScriptRule::FailAfterRun(kCommit, 2, 1, -10054)}, 0,
       kComplete, 3},
      {"commit answer lost, count fails",
       {ScriptRule::FailAfterRun(kCommit, 2, 1, -10054), ScriptRule::Fail(kCount, 1, 1, -10054)},
       69, kOldFile, 3},
      {"an insert dropped by the driver", {ScriptRule::Drop(kInsert, 2)}, 69, kOldFile, 2, true,
       false, "Zeilen erzeugt: 3, abgelehnt: 0, zurueckgelesen: 2\n"},
      {"read-back", {ScriptRule::Fail("TMP_USRSTR_C", 1, 1, -208)}, 69, kOldFile, 3},
      {"the lock statement", {ScriptRule::Fail("sp_getapplock", 1, 1, -2812)}, 69, kOldFile, 1},
      {"every line refused", {ScriptRule::Refuse(kInsert, 1, 0)}, 69, kOldFile, 0},
      // One line per transaction.
      {"alone: a begin", {ScriptRule::Fail(kBegin, 2, 1, -5)}, 69, kOldFile, 1, false},
      {"alone: a commit's answer lost", {ScriptRule::FailAfterRun(kCommit, 3, 1, -10054)}, 0,
       kComplete, 3, false},
      {"alone: a commit fails", {ScriptRule::Fail(kCommit, 3, 1, -1205)}, 69, kOldFile, 1, false},
      {"alone: an insert refused", {ScriptRule::Refuse(kInsert, 2)}, 1, kWithoutSecond, 2, false},
      {"alone: an insert fails", {ScriptRule::Fail(kInsert, 2, 1, -13)}, 69, kOldFile, 1, false},
      {"alone: a rollback fails",
       {ScriptRule::Refuse(kInsert, 2), ScriptRule::Fail("ROLLBACK TRANSACTION Tmp_PKeyIns", 1, 1, -5)},
       69, kOldFile, 1, false},
      // Rows sent together as a parameter array.
      {"array: a row refused", {ScriptRule::Refuse(kInsert, 2), ScriptRule::Refuse(kInsert, 5)}, 1,
       kWithoutSecond, 2, true, true},
      {"array: a row fails", {ScriptRule::Fail(kInsert, 2, 1, -13)}, 69, kOldFile, 0, true, true},
      {"array: rollback after a refusal fails",
       {ScriptRule::Refuse(kInsert, 2), ScriptRule::Fail("ROLLBACK TRANSACTION Tmp_PKeyIns", 1, 1, -3903)},
       69, kOldFile, 0, true, true, "DB-Fehler bei ROLLBACK TRANSACTION Tmp_PKeyIns_Sp! ErrNr: -3903\n"},
      {"array: commit answer lost", {ScriptRule::FailAfterRun(kCommit, 2, 1, -10054)}, 0, kComplete,
       3, true, true},
  };
  AddBadges(3);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Reset();
    together_ = k.together;
    EXPECT_EQ(Run(k.rules, k.grouped), k.status) << out_;
    EXPECT_GE(log_->failed, 1);  // the script met its statement
    switch (k.file) {
      case kComplete:
        EXPECT_EQ(ReadFile(path_), Records(3));
        break;
      case kOldFile:
        EXPECT_EQ(ReadFile(path_), kOld);
        break;
      case kWithoutSecond:
        EXPECT_EQ(ReadFile(path_), Rec60(Badge(1)) + Rec60(Badge(3)));
        break;
    }
    EXPECT_EQ(Stored().size(), k.stored);
    EXPECT_NE(out_.find(k.said), std::string::npos) << out_;
  }
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

// A run of a batch deletes the path's previous lines in its turn of the
// line store's writes, after its generators; a single run the same way.
// Whatever fails, both say, return and leave the same.
TEST_F(RunFaults, BatchRunFailsAsASingleRun) {
  AddBadges(3);
  const struct {
    const char* name;
    std::vector<ScriptRule> rules;
  } cases[] = {
      {"nothing fails", {}},
      {"the delete", {ScriptRule::Fail("DELETE FROM", 1, 1, -1205)}},
      {"the badge cursor", {ScriptRule::Fail(kBadgeCursor, 1, 1, -208)}},
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
  }
}

// Refusals found when a group is stored are said in the place of their
// lines, and each pass counts what went into the file: messages, file and
// status are those of the plain sequence (one transaction per line), with
// groups sent as many-line INSERTs or as parameter arrays.
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
  } modes[] = {{"plain", false, false}, {"groups", true, false}, {"together", true, true}};
  std::string plain_out, plain_file;
  for (const Mode& m : modes) {
    SCOPED_TRACE(m.name);
    WriteFile(path_, kOld);
    together_ = m.together;
    EXPECT_EQ(Run({}, m.grouped), kExitLinesLost) << out_;
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
