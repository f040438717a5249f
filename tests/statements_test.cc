// Every statement text of the tool runs through the translation into the
// embedded database's SQL: each operation is run once against a database
// that holds a row for it, and must neither fail to prepare nor fail to run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "installation/access_rights.h"
#include "installation/badge_diagnosis.h"
#include "installation/badge_queries.h"
#include "installation/balance_queries.h"
#include "installation/connection.h"
#include "installation/line_store.h"
#include "installation/statements.h"
#include "tests/test_util.h"

namespace plom {
namespace {

constexpr Statement kCursorA = {1, StatementKind::kCursor, "a"};
constexpr Statement kCursorB = {2, StatementKind::kCursor, "b"};
constexpr Statement kRowOnA = {1, StatementKind::kRow, "c"};
constexpr Statement kBeginA = {1, StatementKind::kTransaction, "BEGIN TRANSACTION x"};
constexpr Statement kBeginC = {3, StatementKind::kTransaction, "BEGIN TRANSACTION y"};
constexpr Statement kRollbackC = {3, StatementKind::kTransaction, "ROLLBACK TRANSACTION y"};

TEST(Statements, NumberCheckCatchesSharedNumbers) {
  static_assert(NumbersUnique(std::array{kCursorA, kCursorB}));
  static_assert(NumbersUnique(std::array{kCursorA, kBeginC, kRollbackC}));
  static_assert(!NumbersUnique(std::array{kCursorA, kRowOnA}));
  static_assert(!NumbersUnique(std::array{kCursorB, kCursorA, kCursorA}));
  static_assert(!NumbersUnique(std::array{kBeginA, kCursorA}));
  static_assert(!NumbersUnique(std::array{kCursorA, kBeginA}));
}

// The number in a cursor's leading comment is the number it is opened under.
TEST(Statements, CursorCommentCarriesItsNumber) {
  int cursors = 0;
  for (const Statement& st : kStatements) {
    if (st.kind != StatementKind::kCursor && st.kind != StatementKind::kBulk) continue;
    ++cursors;
    std::string text = st.text;
    ASSERT_EQ(text.rfind("/* ", 0), 0u) << text;
    size_t end = text.find(" nohold */");
    ASSERT_NE(end, std::string::npos) << text;
    std::string head = text.substr(0, end);
    EXPECT_EQ(head.substr(head.rfind(' ') + 1), std::to_string(st.no)) << text;
  }
  EXPECT_EQ(cursors, 13);
}

// Per-client texts take exactly one %s (the table list), a schema's bulk
// texts only %s (each the same table); no other text has a format directive
// that a caller could fill by mistake.
TEST(Statements, OnlyPerClientTextsAreFormatTexts) {
  for (const Statement& st : kStatements) {
    std::string text = st.text;
    size_t percents = std::count(text.begin(), text.end(), '%');
    if (st.kind == StatementKind::kClientRow) {
      EXPECT_EQ(percents, 1u) << text;
      EXPECT_NE(text.find("%s"), std::string::npos) << text;
    } else if (st.kind == StatementKind::kBulk) {
      size_t fields = 0;
      for (size_t at = 0; (at = text.find("%s", at)) != std::string::npos; at += 2) ++fields;
      EXPECT_EQ(percents, fields) << text;
    } else {
      EXPECT_EQ(percents, 0u) << text;
    }
  }
}

TEST(Statements, EveryTextRunsOnTheEmbeddedDatabase) {
  test::TestDb db;
  db.AddClientTables("M01");
  const std::string past = test::DateTime(-10), future = test::DateTime(10),
                    yesterday = test::DateTime(-1), today = test::DateTime(0);
  db.Exec(
      "INSERT INTO \"ZrSystem.Zrt112Mnd\" VALUES (1,1,'M01',0);"
      "INSERT INTO \"ZrSystem.Zrt115Tfz\" VALUES ('T1',1,1);"
      "INSERT INTO \"ZrSystem.Zrt114Tsm\" VALUES ('T1','7598-001');"
      "INSERT INTO \"ZrSystem.Zrt401Zls\" VALUES ('T1',1,'Z1');"
      "INSERT INTO \"ZrSystem.Zrt404Zbr\" VALUES ('5','Z1',3);"
      "INSERT INTO \"ZrSystem.Zrt113Sto\" VALUES ('12','Halle');"
      "INSERT INTO \"ZrSystem.O2001SALTEXTE\" VALUES (301,'Saldo');"
      "INSERT INTO \"ZrSystem.Zrt301Asw\" VALUES ('471','" +
      past +
      "',NULL,'815','0','G1','',0,1,1);"
      "INSERT INTO \"ZrSystem.Zrt113Awv\" VALUES ('471','12');"
      "INSERT INTO Zrt320Tgb (TgbPnr,TgbZtr,TgbDtm,TgbVt1) VALUES ('815',1,'" +
      yesterday +
      "',60);"
      "INSERT INTO \"M01.Zrt408Bzu\" "
      "(BzuZau,BzuKst,BzuVks,BzuAbt,BzuVab,BzuAkr,BzuBkl,BzuGvo,BzuGbi)"
      " VALUES ('G1','K1','V1','A1','B1','R1','5','" +
      past + "','" + future +
      "');"
      "INSERT INTO \"M01.Zrt311Zuo\" VALUES ('815','K1','A1','" +
      past +
      "',NULL);"
      "INSERT INTO \"M01.O1003Kststelle\" VALUES ('K1','V1');"
      "INSERT INTO \"M01.G1102AbtLst\" VALUES ('A1','B1');"
      "INSERT INTO \"M01.Zrt310Bsv\" VALUES ('815','R1','" +
      past +
      "',NULL);"
      "INSERT INTO \"M01.Zrt300Pnr\" VALUES ('815',1,'Herr');"
      "INSERT INTO \"M01.Zrt332Utg\" VALUES ('815','" +
      today +
      "',1.5,2.5,3.5);"
      "INSERT INTO \"M01.Zrt332Urv\" VALUES ('815'," +
      today.substr(0, 4) + ",30,2);");
  auto cp = db.Connect();
  Connection& c = *cp;
  const std::string schema = "M01";

  // Each operation must find its row: 0, and no error text.
  auto expect_ok = [&](int rc, const char* what) {
    EXPECT_EQ(rc, 0) << what << ": " << c.last_error();
  };
  std::string s;
  int n = 0, count = 0;
  BadgeRecord r;
  expect_ok(OpenTerminalSchemaCursor(c, "T1"), "terminal schemas");
  expect_ok(FetchTerminalSchema(c, &s), "terminal schema fetch");
  expect_ok(OpenAllSchemaCursor(c), "all schemas");
  expect_ok(FetchAllSchema(c, &s), "all schema fetch");
  expect_ok(OpenBadgeCursor(c, "M01").sqlcode(), "badge cursor");
  expect_ok(FetchBadge(c, &r).sqlcode(), "badge fetch");
  expect_ok(OpenReaderCursor(c, "T1", 11).sqlcode(), "reader cursor");
  expect_ok(FetchReader(c, &n, &s).sqlcode(), "reader fetch");
  expect_ok(CountReaderPermissions(c, "Z1", "5  ", &count).sqlcode(), "permission count");
  expect_ok(CountReaderTimeBlocks(c, "Z1", "5  ", &count).sqlcode(), "time block count");
  EXPECT_EQ(count, 1);
  expect_ok(GetTerminalType(c, "T1", &s).sqlcode(), "terminal type");
  expect_ok(GetLocationShortText(c, &r).sqlcode(), "location short text");
  std::vector<BadgeRowFacts> rows;
  expect_ok(ListBadgeRows(c, "471", &rows), "badge rows");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(ListedFor(rows[0], "M01"));

  using Query = int (*)(Connection&, const std::string&, BadgeRecord*);
  const std::pair<const char*, Query> rights[] = {
      {"BZU_SelAwsGrp", BZU_SelAwsGrp}, {"BZU_SelKst", BZU_SelKst},
      {"BZU_SelKstGrp", BZU_SelKstGrp}, {"BZU_SelAbt", BZU_SelAbt},
      {"BZU_SelAbtGrp", BZU_SelAbtGrp}, {"BZU_SelAkr", BZU_SelAkr}};
  for (const auto& [name, query] : rights) {
    BadgeRecord b = r;
    expect_ok(query(c, schema, &b), name);
  }
  expect_ok(GetPersonSprSal(c, schema, &r).sqlcode(), "person");
  expect_ok(GetBalances(c, &r).sqlcode(), "balances");
  LabelSlots labels;
  expect_ok(ReadLabels(c, &labels).sqlcode(), "labels");
  expect_ok(GetVacation(c, schema, &r).sqlcode(), "vacation");
  expect_ok(static_cast<int>(StoreLines(c, "p", {"x"}, StoreMode::kOneByOne).stored) - 1,
            "insert line");
  expect_ok(StoreLines(c, "p", std::vector<std::string>(kLinesPerInsert + 1, "y"),
                       StoreMode::kGroups)
                    .stored -
                static_cast<int64_t>(kLinesPerInsert) - 1,
            "insert many lines");
  std::vector<std::string> lines;
  expect_ok(ReadLines(c, "p", &lines).sqlcode(), "line cursor");
  expect_ok(DeleteLines(c, "p").sqlcode(), "delete lines");
  expect_ok(LockLineStore(c, "p", 0), "line store lock");
  // After a COMMIT whose answer was lost: the path's lines counted.
  Row counted;
  expect_ok(c.Execute(stmt::kCountLines.no, stmt::kCountLines.text, {Param::Text("p")}, &counted),
            "count lines");
}

}  // namespace
}  // namespace plom
