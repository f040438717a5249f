// plomvarde-explain: what it shows for a badge is what the run writes and
// prints for it, and it stores nothing.
#include "companions/explain.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "db/codepage.h"
#include "db/runtime.h"
#include "installation/badge_diagnosis.h"
#include "tests/shell.h"
#include "tests/test_util.h"

namespace plom {
namespace {

namespace fs = std::filesystem;
using explain::Explanation;

const std::string kBin = PLOM_BINARY_DIR;

std::string Shell(const std::string& cwd, const std::string& cmd, int* status) {
  return test::ShellOutput("cd '" + cwd + "' || exit 1; " + cmd + " 2>&1", status);
}

// Rows of a query on the database file, each column joined by '|'.
std::vector<std::string> Query(const std::string& db_path, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
  while (st && sqlite3_step(st) == SQLITE_ROW) {
    std::string row;
    for (int c = 0; c < sqlite3_column_count(st); ++c) {
      const unsigned char* t = sqlite3_column_text(st, c);
      row += (c ? "|" : "") + std::string(t ? reinterpret_cast<const char*>(t) : "");
    }
    rows.push_back(row);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

int Width(const std::string& function) {
  static const std::map<std::string, int> kWidths = {
      {"VQDNL17P", 85}, {"VQDNL31P", 48}, {"VQDNL18P", 173}, {"VQDNL60P", 45}, {"IDSTAMM", 0}};
  return kWidths.at(function);
}

// The records of a download file: fixed-width pieces, or lines with CR LF.
std::vector<std::string> Records(const std::string& file, int width) {
  std::vector<std::string> records;
  if (width > 0) {
    EXPECT_EQ(file.size() % width, 0u);
    for (size_t at = 0; at + width <= file.size(); at += width)
      records.push_back(file.substr(at, width));
    return records;
  }
  for (size_t at = 0; at < file.size();) {
    size_t end = file.find("\r\n", at);
    if (end == std::string::npos) end = file.size() - 2;
    records.push_back(file.substr(at, end + 2 - at));
    at = end + 2;
  }
  return records;
}

// The badge number a record carries.
std::string BadgeOf(const std::string& record, int width) {
  if (width > 0) return TrimmedRight(record.substr(0, 13));
  return record.substr(1, record.find('"', 1) - 1);
}

std::vector<std::string> RecordsOf(const Explanation& e) {
  std::vector<std::string> records;
  for (const auto& p : e.passes) {
    for (const auto& r : p.rows) records.insert(records.end(), r.records.begin(), r.records.end());
  }
  return records;
}

// The sample installation laid out as make demo lays it out.
class SampleExplain : public test::SampleInstallation {
 protected:
  std::unique_ptr<Connection> Connect() {
    int rc = 0;
    std::string error;
    auto backend = OpenBackend({"sqlite:" + db_, "sa", "", "ZrSystem"}, &rc, &error);
    EXPECT_TRUE(backend) << error;
    return std::make_unique<Connection>(std::move(backend));
  }

  long LineStoreRows() {
    return std::stol(Query(db_, "SELECT COUNT(*) FROM \"ZrSystem.Zrt999Tmp\"").at(0));
  }

  int Explain(const std::vector<std::string>& args, std::string* out, std::string* err) {
    fs::path old = fs::current_path();
    fs::current_path(cwd_);
    int status = explain::RunExplain(args, "../../files/korvantis.ini", out, err);
    fs::current_path(old);
    return status;
  }
};

// For every badge and every function on each terminal: the records shown
// are the records of that badge in the file the run writes, and a row the
// run leaves out carries the run's own message. Nothing is stored.
TEST_F(SampleExplain, ShowsWhatTheRunWritesForEveryBadge) {
  std::vector<std::string> badges =
      Query(db_, "SELECT DISTINCT AswNum FROM \"ZrSystem.Zrt301Asw\"");
  badges.push_back("no-such-badge");
  std::vector<std::string> terminals =
      Query(db_,
            "SELECT TsmNam FROM \"ZrSystem.Zrt114Tsm\" UNION SELECT TfzTrm FROM "
            "\"ZrSystem.Zrt115Tfz\" UNION SELECT ZlsTrm FROM \"ZrSystem.Zrt401Zls\"");
  ASSERT_GE(badges.size(), 20u);
  ASSERT_GE(terminals.size(), 3u);
  auto conn = Connect();
  size_t compared = 0, left_out = 0;
  for (const std::string& terminal : terminals) {
    for (const char* fn : {"VQDNL17P", "VQDNL31P", "VQDNL18P", "VQDNL60P", "IDSTAMM"}) {
      int status = 0;
      std::string printed =
          Shell(cwd_, kBin + "/plomvarde " + fn + " " + terminal + " out.dnl 1", &status);
      ASSERT_EQ(status, 0) << fn << " " << terminal << "\n" << printed;
      const int width = Width(fn);
      std::map<std::string, std::vector<std::string>> written;
      for (const std::string& r : Records(test::ReadFile(cwd_ + "/out.dnl"), width)) {
        written[BadgeOf(r, width)].push_back(r);
      }
      const long stored = LineStoreRows();
      for (const std::string& badge : badges) {
        SCOPED_TRACE(std::string(fn) + " " + terminal + " " + badge);
        Explanation e = explain::ExplainBadge(*conn, fn, terminal, badge);
        EXPECT_EQ(e.first_error, 0) << e.first_error_text;
        std::vector<std::string> shown = RecordsOf(e), expected = written[badge];
        std::sort(shown.begin(), shown.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(shown, expected);
        compared += shown.size();
        for (const auto& p : e.passes) {
          for (const auto& row : p.rows) {
            EXPECT_NE(printed.find(row.messages), std::string::npos) << row.messages;
            if (!row.records.empty()) continue;
            ++left_out;
            // Only the balance display passes over a badge's later rows (and
            // rows without a person) without a word.
            if (std::string(fn) != "VQDNL18P") {
              EXPECT_FALSE(row.messages.empty());
            }
            if (!row.messages.empty()) {
              EXPECT_NE(explain::Render(e, false).find(Cp1252ToUtf8(row.messages)),
                        std::string::npos);
            }
          }
        }
      }
      EXPECT_EQ(LineStoreRows(), stored) << "explain stored or deleted lines";
    }
  }
  // The sample holds records and refusals of every kind.
  EXPECT_GT(compared, 100u);
  EXPECT_GT(left_out, 10u);
}

TEST_F(SampleExplain, ReportShowsTheRecordByteForByteAndTheChecks) {
  std::string out, err;
  ASSERT_EQ(Explain({"vqdnl60p", "TERM12", "1002"}, &out, &err), 0) << err;
  int status = 0;
  Shell(cwd_, kBin + "/plomvarde VQDNL60P TERM12 out.dnl 1", &status);
  std::string file = test::ReadFile(cwd_ + "/out.dnl");
  std::string record;
  for (const std::string& r : Records(file, 45)) {
    if (BadgeOf(r, 45) == "1002") record = r;
  }
  ASSERT_EQ(record.size(), 45u);
  EXPECT_NE(out.find("|" + record + "|"), std::string::npos) << out;
  EXPECT_NE(out.find("access check, readers 1 to 3 of terminal 'TERM12'"), std::string::npos);
  EXPECT_NE(out.find("time-recording check, reader 1 of terminal 'TERM12'"), std::string::npos);
  EXPECT_NE(out.find("balances of the previous day"), std::string::npos);
  EXPECT_NE(out.find("31-32   reader1"), std::string::npos) << out;
  EXPECT_EQ(out.find("nohold"), std::string::npos) << "statements only with --trace";
}

TEST_F(SampleExplain, TraceShowsEveryStatementWithItsParameters) {
  std::string out, err;
  ASSERT_EQ(Explain({"--trace", "VQDNL17P", "TERM12", "1002"}, &out, &err), 0) << err;
  EXPECT_NE(out.find("/* ASW_VQDNL_C 1 nohold */ SELECT AswNum"), std::string::npos);
  EXPECT_NE(out.find("/* ZLS_ZLES_C 2 nohold */"), std::string::npos);
  EXPECT_NE(out.find("@p1='TERM12', @p2=11"), std::string::npos) << out;
  EXPECT_NE(out.find("SELECT COUNT(*) FROM ZrSystem.Zrt404Zbr"), std::string::npos);
  EXPECT_NE(out.find("#14 EXECUTE sqlcode"), std::string::npos);
  EXPECT_NE(out.find("MND_SCHEMAREST_C"), std::string::npos);

  // The option may follow the arguments, as with the other programs.
  std::string late;
  ASSERT_EQ(Explain({"VQDNL17P", "TERM12", "1002", "--trace"}, &late, &err), 0) << err;
  EXPECT_EQ(late, out);
}

TEST_F(SampleExplain, CommandLineFaults) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{}, explain::kExplainUsage, "FUNCTION, TERMINAL and BADGE"},
      {{"VQDNL17P", "TERM12"}, explain::kExplainUsage, "FUNCTION, TERMINAL and BADGE"},
      {{"VQDNL17P", "TERM12", "1", "2"}, explain::kExplainUsage, "FUNCTION, TERMINAL and BADGE"},
      {{"VQDNL99P", "TERM12", "1002"}, explain::kExplainUsage, "unknown download function"},
      {{"VQDNL17P", "TERMINAL_12", "1002"}, explain::kExplainUsage, "up to 10"},
      {{"VQDNL17P", "TERM12", ""}, explain::kExplainUsage, "1 to 50"},
      {{"--bogus", "VQDNL17P", "TERM12", "1002"}, explain::kExplainUsage, "unknown option"},
  };
  for (const Case& c : cases) {
    std::string out, err;
    EXPECT_EQ(Explain(c.args, &out, &err), c.status) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_TRUE(out.empty());
  }
}

TEST_F(SampleExplain, FailedConnectSaysSoWithoutThePassword) {
  test::WriteFile(root_ + "/files/korvantis.ini", "DB;Korvantis;\r\n1;PASS;" +
                                                      EncipherValue("geheim") + "\r\n2;SQLSERVER;" +
                                                      EncipherValue("sqlite:") + "\r\n");
  std::string out, err;
  EXPECT_EQ(Explain({"VQDNL17P", "TERM12", "1002"}, &out, &err), explain::kExplainUnavailable);
  EXPECT_NE(err.find("DB-Connect-Error"), std::string::npos) << err;
  EXPECT_EQ(err.find("geheim"), std::string::npos) << err;
  EXPECT_TRUE(out.empty());
}

// A user who may only read the database may explain: in a folder the user
// may not write (the database opened as immutable) and in one where the
// user may make SQLite's shared-memory file. Nothing is written, no lock
// file is made.
TEST_F(SampleExplain, ReadOnlyUserMayExplain) {
  unsigned uid = 0, gid = 0;
  std::string why;
  if (!test::OtherUser(&uid, &gid, &why)) GTEST_SKIP() << why;
  for (const std::string& d : {root_, root_ + "/files", root_ + "/run", cwd_}) {
    ASSERT_EQ(chmod(d.c_str(), 0755), 0);
  }
  ASSERT_EQ(chmod(db_.c_str(), 0644), 0);
  ASSERT_EQ(chmod((root_ + "/files/korvantis.ini").c_str(), 0644), 0);
  std::string before = test::ReadFile(db_);
  for (mode_t files_mode : {0755, 01777}) {
    SCOPED_TRACE(files_mode == 0755 ? "folder read-only" : "folder writable");
    ASSERT_EQ(chmod((root_ + "/files").c_str(), files_mode), 0);
    int status = 0;
    std::string out = test::ShellOutput(
        test::AsUser(uid, gid,
                     "cd " + test::ShellQuote(cwd_) + " && " + kBin +
                         "/plomvarde-explain VQDNL60P TERM12 1002 2>&1"),
        &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("1002"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(db_ + "-applock"));
    EXPECT_EQ(test::ReadFile(db_), before);
  }
}

// Why a badge is not listed, on an installation laid out for the case.
class NotListed : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.AddClientTables("M01");
    db_.AddClientTables("M02");
    const std::string past = test::DateTime(-30), before = test::DateTime(-10),
                      future = test::DateTime(30);
    db_.Exec(
        "INSERT INTO \"ZrSystem.Zrt112Mnd\" VALUES (1,1,'M01',0), (1,2,'M02',0);"
        "INSERT INTO \"ZrSystem.Zrt115Tfz\" VALUES ('T1',1,1);"
        "INSERT INTO \"ZrSystem.Zrt401Zls\" VALUES ('T1',1,'Z1');"
        "INSERT INTO \"ZrSystem.Zrt404Zbr\" VALUES ('5','Z1',1);"
        // listed: current, client M01, a location
        "INSERT INTO \"ZrSystem.Zrt301Asw\" VALUES ('100','" +
        past +
        "',NULL,'1','5','','',0,1,1);"
        "INSERT INTO \"ZrSystem.Zrt113Awv\" VALUES ('100','1');"
        // ended ten days ago
        "INSERT INTO \"ZrSystem.Zrt301Asw\" VALUES ('200','" +
        past + "','" + before +
        "','2','5','','',0,1,1);"
        "INSERT INTO \"ZrSystem.Zrt113Awv\" VALUES ('200','1');"
        // another client
        "INSERT INTO \"ZrSystem.Zrt301Asw\" VALUES ('300','" +
        past +
        "',NULL,'3','5','','',0,1,2);"
        "INSERT INTO \"ZrSystem.Zrt113Awv\" VALUES ('300','1');"
        // no location assignment
        "INSERT INTO \"ZrSystem.Zrt301Asw\" VALUES ('400','" +
        past + "','" + future +
        "','4','5','','',0,1,1);"
        // client keys without a client
        "INSERT INTO \"ZrSystem.Zrt301Asw\" VALUES ('500','" +
        past +
        "',NULL,'5','5','','',0,9,9);"
        "INSERT INTO \"ZrSystem.Zrt113Awv\" VALUES ('500','1');");
    conn_ = db_.Connect();
  }

  std::string Why(const std::string& badge) {
    Explanation e = explain::ExplainBadge(*conn_, "VQDNL17P", "T1", badge);
    EXPECT_EQ(e.passes.size(), 1u);
    return explain::Render(e, false);
  }

  test::TestDb db_;
  std::unique_ptr<Connection> conn_;
};

TEST_F(NotListed, EachReasonIsNamed) {
  const std::pair<const char*, const char*> cases[] = {
      {"100", "lists the badge 1 time"},
      {"200", "its validity window does not hold the present moment"},
      {"300", "it belongs to another client (schema 'M02')"},
      {"400", "it has no location assignment in ZrSystem.Zrt113Awv"},
      {"500", "its client keys match no client"},
      {"600", "there is no such badge in ZrSystem.Zrt301Asw"},
  };
  for (const auto& [badge, reason] : cases) {
    std::string text = Why(badge);
    EXPECT_NE(text.find(reason), std::string::npos) << badge << "\n" << text;
    bool listed = std::string(badge) == "100";
    EXPECT_EQ(text.find("does not list the badge") == std::string::npos, listed) << text;
  }
}

TEST_F(NotListed, RowFactsFollowTheBadgeCursor) {
  struct Case {
    const char* badge;
    bool current;
    int locations;
    const char* schema;
  };
  const Case cases[] = {{"100", true, 1, "M01"},
                        {"200", false, 1, "M01"},
                        {"300", true, 1, "M02"},
                        {"400", true, 0, "M01"}};
  for (const Case& c : cases) {
    std::vector<BadgeRowFacts> rows;
    ASSERT_EQ(ListBadgeRows(*conn_, c.badge, &rows), kSqlOk) << c.badge;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].current, c.current) << c.badge;
    EXPECT_EQ(rows[0].locations, c.locations) << c.badge;
    EXPECT_EQ(rows[0].schema, c.schema) << c.badge;
    EXPECT_EQ(ListedFor(rows[0], "M01"), std::string(c.badge) == "100") << c.badge;
  }
  std::vector<BadgeRowFacts> rows;
  EXPECT_EQ(ListBadgeRows(*conn_, "600", &rows), kSqlNotFound);
  EXPECT_TRUE(rows.empty());
}

// A badge's class resolved through an access right: each query asked is
// shown in order, and the one that answered is marked as taken.
TEST_F(NotListed, ResolutionShowsEachQueryAndTheOneTaken) {
  const std::string past = test::DateTime(-30), future = test::DateTime(30);
  db_.Exec("INSERT INTO \"ZrSystem.Zrt301Asw\" VALUES ('700','" + past +
           "',NULL,'7','0','G9','',0,1,1);"
           "INSERT INTO \"ZrSystem.Zrt113Awv\" VALUES ('700','1');"
           "INSERT INTO \"M01.Zrt311Zuo\" VALUES ('7','K1','A1','" +
           past +
           "',NULL);"
           "INSERT INTO \"M01.Zrt408Bzu\" "
           "(BzuZau,BzuKst,BzuVks,BzuAbt,BzuVab,BzuAkr,BzuBkl,BzuGvo,BzuGbi)"
           " VALUES ('','','','A1','','','5','" +
           past + "','" + future + "');");
  std::string text = Why("700");
  size_t group = text.find("1. CurBZU_SelAwsGrp (badge group), key 'G9': sqlcode 100, no right");
  size_t cost = text.find("2. CurBZU_SelKst (cost centre), key '7': sqlcode 100");
  size_t dept = text.find("4. CurBZU_SelAbt (department), key '7': sqlcode 0, class '5', valid " +
                          test::Ymd(-30) + " to " + test::Ymd(30) + "  <- taken");
  EXPECT_NE(group, std::string::npos) << text;
  EXPECT_NE(cost, std::string::npos) << text;
  EXPECT_NE(dept, std::string::npos) << text;
  EXPECT_LT(group, cost);
  EXPECT_LT(cost, dept);
  EXPECT_EQ(text.find("5. CurBZU_SelAbtGrp"), std::string::npos) << "asked after a hit";
  EXPECT_NE(text.find("-> access permitted"), std::string::npos) << text;
}

// A statement that fails is never taken for an answer: the explanation
// names the failure, with the backend's reason.
// One badge's balance beyond 32 bits is that badge's bad value: explaining
// it, or a badge that does not exist, is no failure of the database.
TEST_F(NotListed, AnotherBadgesOverflowIsNoFailure) {
  db_.Exec("INSERT INTO Zrt320Tgb (TgbPnr, TgbZtr, TgbDtm, TgbVt1, TgbSa1) VALUES ('1', 1, '" +
           test::DateTime(-1) + "', 2147483647, 1);");
  for (const char* badge : {"100", "999"}) {
    Explanation e = explain::ExplainBadge(*conn_, "VQDNL17P", "T1", badge);
    EXPECT_EQ(e.first_error, 0) << badge << ": " << e.first_error_text;
  }
}

TEST(ExplainFailure, FailedStatementIsNamed) {
  test::TestDb db;  // no per-client tables: the access-right queries fail
  const std::string past = test::DateTime(-30);
  db.Exec(
      "INSERT INTO \"ZrSystem.Zrt112Mnd\" VALUES (1,1,'M01',0);"
      "INSERT INTO \"ZrSystem.Zrt115Tfz\" VALUES ('T1',1,1);"
      "INSERT INTO \"ZrSystem.Zrt301Asw\" VALUES ('700','" +
      past +
      "',NULL,'7','0','G9','',0,1,1);"
      "INSERT INTO \"ZrSystem.Zrt113Awv\" VALUES ('700','1');");
  auto c = db.Connect();
  Explanation e = explain::ExplainBadge(*c, "VQDNL17P", "T1", "700");
  EXPECT_LT(e.first_error, 0);
  EXPECT_NE(e.first_error_text.find("Zrt408Bzu"), std::string::npos) << e.first_error_text;
  std::string text = explain::Render(e, false);
  EXPECT_NE(text.find("The database failed: sqlcode " + std::to_string(e.first_error)),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("1. CurBZU_SelAwsGrp (badge group), key 'G9': open failed"),
            std::string::npos)
      << text;

  // The same badge with its tables in place explains without a failure.
  db.AddClientTables("M01");
  Explanation ok = explain::ExplainBadge(*c, "VQDNL17P", "T1", "700");
  EXPECT_EQ(ok.first_error, 0) << ok.first_error_text;
  EXPECT_EQ(explain::Render(ok, false).find("The database failed"), std::string::npos);
}

// The observer sees each statement after it ran, and every fetch.
TEST(StatementObserver, SeesStatementsAndFetchesWithTheirSqlcodes) {
  struct Seen : StatementObserver {
    std::vector<std::string> events;
    void Saw(const Event& e) override {
      static const char* kKinds[] = {"execute", "transaction", "open", "fetch", "close"};
      events.push_back(std::string(kKinds[static_cast<int>(e.kind)]) + " " +
                       std::to_string(e.stmt_no) + " " + std::to_string(e.sqlcode) +
                       (e.row ? " row " + e.row->at(0).Text() : "") +
                       (e.kind == Kind::kOpen ? " rows " + std::to_string(e.rows) : "") +
                       (e.params && !e.params->empty() ? " p " + e.params->at(0).text : ""));
    }
  } seen;
  test::TestDb db;
  db.Exec("INSERT INTO \"ZrSystem.Zrt112Mnd\" VALUES (1,1,'M01',0), (1,2,'M02',1);");
  auto c = db.Connect();
  c->SetObserver(&seen);
  Row row;
  c->Open(9, "SELECT MndSch FROM ZrSystem.Zrt112Mnd WHERE MndNum >= @p1 ORDER BY MndNum",
          {Param::Text("1")});
  c->Fetch(9, &row);
  c->Fetch(9, &row);
  c->Fetch(9, &row);
  c->Close(9);
  c->Fetch(9, &row);
  c->Execute(8, "SELECT MndSch FROM ZrSystem.Zrt112Mnd WHERE MndKon = 7", {});
  c->Execute(8, "SELECT nonsense FROM nowhere", {});
  c->SetObserver(nullptr);
  c->Execute(8, "SELECT 1", {});
  ASSERT_EQ(seen.events.size(), 8u);
  EXPECT_EQ(seen.events[0], "open 9 0 rows 2 p 1");
  EXPECT_EQ(seen.events[1], "fetch 9 0 row M01");
  EXPECT_EQ(seen.events[2], "fetch 9 0 row M02");
  EXPECT_EQ(seen.events[3], "fetch 9 100");
  EXPECT_EQ(seen.events[4], "close 9 0");
  EXPECT_EQ(seen.events[5].substr(0, 8), "fetch 9 ");
  EXPECT_NE(seen.events[5], "fetch 9 100");
  EXPECT_EQ(seen.events[6], "execute 8 100");
  EXPECT_EQ(seen.events[7].substr(0, 10), "execute 8 ");
  EXPECT_LT(std::stoi(seen.events[7].substr(10)), 0);
}

}  // namespace
}  // namespace plom
