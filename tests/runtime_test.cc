// The runtime on the embedded backend: connect, sqlcodes, cursors,
// transactions, text conversion; and the line store on top of it.
#include "db/runtime.h"

#include <gtest/gtest.h>

#include "db/codepage.h"
#include "installation/connection.h"
#include "installation/line_store.h"
#include "tests/test_util.h"

namespace plom {
namespace {

using test::TestDb;

TEST(Codepage, RoundTrips) {
  const std::string cp = "\xE4\xF6\xFC\xDF\xC4\x80 ok";  // äöüßÄ€
  EXPECT_EQ(Cp1252ToUtf8(cp), "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xC3\x84\xE2\x82\xAC ok");
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(cp)), cp);
  EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16(cp)), cp);
  // Characters outside Windows-1252 and broken UTF-8 become "?".
  EXPECT_EQ(Utf8ToCp1252("a\xE2\x88\x9E" "b"), "a?b");     // infinity sign
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");                   // cut sequence
  EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80"), "?");         // emoji
  EXPECT_EQ(Utf16ToCp1252(u"\U0001F600x"), "?x");
}

TEST(Connect, EmbeddedFailures) {
  std::string dir = test::TempDir();
  test::WriteFile(dir + "/junk.db", std::string(4096, 'x'));
  const char* servers[] = {"", "sqlite:", "sqlite:/nonexistent/dir/x.db", "sqlite:/tmp/plom-missing.db",
                           nullptr};
  for (int i = 0; servers[i]; ++i) {
    Connection c;
    EXPECT_LT(ConnectDatabase(&c, "sa", "pw", servers[i], "ZrSystem"), 0) << servers[i];
    EXPECT_FALSE(c.connected());
  }
  Connection c;
  EXPECT_LT(ConnectDatabase(&c, "sa", "pw", "sqlite:" + dir + "/junk.db", "ZrSystem"), 0);
  // Never creates an empty database.
  EXPECT_EQ(test::ReadFile("/tmp/plom-missing.db"), "");
  // Composed connect parameters beyond 100 characters are refused.
  TestDb db;
  Connection ok;
  EXPECT_EQ(ConnectDatabase(&ok, "sa", "pw", db.server(), "ZrSystem"), 0);
  Connection longer;
  EXPECT_LT(ConnectDatabase(&longer, "sa", std::string(100, 'p'), db.server(), "Z"), 0);
}

TEST(Runtime, SqlcodesAndMessages) {
  TestDb db;
  auto c = db.Connect();
  Row row;
  EXPECT_EQ(c->Execute(1, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp", {}, &row), 0);
  EXPECT_EQ(row[0].Int(), 0);
  EXPECT_EQ(c->Execute(2, "SELECT TmpStr FROM ZrSystem.Zrt999Tmp", {}, &row), kSqlNotFound);
  EXPECT_EQ(c->Execute(3, "DELETE FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1", {Param::Text("x")}),
            kSqlNotFound);
  EXPECT_LT(c->Execute(4, "SELECT nosuchcolumn FROM ZrSystem.Zrt999Tmp", {}), 0);
  EXPECT_NE(c->last_error().find("nosuchcolumn"), std::string::npos);
  EXPECT_LT(c->last_sqlcode(), 0);
  EXPECT_EQ(c->Fetch(99, &row), kSqlCursorNotOpen);  // never opened
}

TEST(Runtime, CursorsStayOpenAcrossTransactions) {
  TestDb db;
  db.Exec("INSERT INTO \"ZrSystem.Zrt999Tmp\" VALUES ('a','1'),('a','2'),('b','3');");
  auto c = db.Connect();
  const char* sel = "SELECT TmpStr FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1 ORDER BY TmpStr";
  ASSERT_EQ(c->Open(10, sel, {Param::Text("a")}), 0);
  ASSERT_EQ(c->Open(11, "SELECT TmpStr FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = 'b'", {}), 0);
  Row r;
  ASSERT_EQ(c->Fetch(10, &r), 0);
  EXPECT_EQ(r[0].Text(), "1");
  EXPECT_EQ(InsertLine(*c, "c", "x"), 0);
  EXPECT_EQ(FlushLines(*c), 0);
  c->Transaction(41, "  BEGIN TRANSACTION T ");
  c->Execute(42, "DELETE FROM ZrSystem.Zrt999Tmp", {});
  c->Transaction(41, "  ROLLBACK TRANSACTION T ");
  ASSERT_EQ(c->Fetch(11, &r), 0);
  EXPECT_EQ(r[0].Text(), "3");
  ASSERT_EQ(c->Fetch(10, &r), 0);
  EXPECT_EQ(r[0].Text(), "2");
  EXPECT_EQ(c->Fetch(10, &r), kSqlNotFound);
  EXPECT_EQ(c->Close(10), 0);
  EXPECT_EQ(c->Fetch(10, &r), kSqlCursorNotOpen);
  // The rollback undid the delete; the committed insert stayed.
  Row n;
  c->Execute(5, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp", {}, &n);
  EXPECT_EQ(n[0].Int(), 4);
}

TEST(Runtime, TextCrossesTheEdgeAsUtf8) {
  TestDb db;
  db.Exec("INSERT INTO \"ZrSystem.Zrt113Sto\" VALUES ('1', 'Halle S\xC3\xBC" "d'), ('2', NULL);");
  auto c = db.Connect();
  Row r;
  ASSERT_EQ(c->Execute(1, "SELECT StoKtx FROM ZrSystem.Zrt113Sto WHERE StoKtx = @p1",
                       {Param::Text("Halle S\xFC" "d")}, &r), 0);
  EXPECT_EQ(r[0].Text(), "Halle S\xFC" "d");
  ASSERT_EQ(c->Execute(2, "SELECT StoKtx FROM ZrSystem.Zrt113Sto WHERE StoNum = '2'", {}, &r), 0);
  EXPECT_TRUE(r[0].IsNull());
  EXPECT_EQ(r[0].Text(), "");
  // Trailing blanks do not count in comparisons.
  EXPECT_EQ(c->Execute(3, "SELECT StoNum FROM ZrSystem.Zrt113Sto WHERE StoNum = @p1",
                       {Param::Text("1   ")}, &r), 0);
}

TEST(Runtime, StatementsAreCountedAndPreparedOnce) {
  TestDb db;
  auto c = db.Connect();
  int64_t before = c->statements_sent();
  c->line_group.enabled = false;
  for (int i = 0; i < 3; ++i) InsertLine(*c, "p", "line" + std::to_string(i));
  EXPECT_EQ(c->statements_sent() - before, 9);  // begin, insert, commit each
  c->line_group.enabled = true;
  before = c->statements_sent();
  for (int i = 0; i < 3; ++i) InsertLine(*c, "q", "line" + std::to_string(i));
  FlushLines(*c);
  EXPECT_EQ(c->statements_sent() - before, 8);  // begin, savepoint + insert each, commit
  Row r;
  c->Execute(7, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1", {Param::Text("p")}, &r);
  EXPECT_EQ(r[0].Int(), 3);
  // The same number with another text is prepared anew.
  c->Execute(7, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp WHERE TmpUsr <> @p1", {Param::Text("p")}, &r);
  EXPECT_EQ(r[0].Int(), 3);  // the lines of "q"
}

TEST(LineStore, StoresTrimsAndSorts) {
  TestDb db;
  auto c = db.Connect();
  EXPECT_EQ(DeleteLines(*c, "a.dnl"), kSqlNotFound);
  EXPECT_EQ(InsertLine(*c, "a.dnl", "B  "), 0);
  EXPECT_EQ(InsertLine(*c, "a.dnl", "A \t"), 0);
  EXPECT_EQ(InsertLine(*c, "a.dnl", "   "), 0);
  EXPECT_EQ(InsertLine(*c, "a.dnl", "C\n"), 0);
  EXPECT_EQ(InsertLine(*c, "a.dnl", "B  "), 0);  // the same line twice is kept twice
  EXPECT_EQ(InsertLine(*c, "b.dnl", "other"), 0);
  // Beyond the column widths: refused, nothing stored.
  EXPECT_LT(InsertLine(*c, "a.dnl", std::string(513, 'x')), 0);
  EXPECT_LT(InsertLine(*c, std::string(101, 'p'), "x"), 0);
  EXPECT_EQ(InsertLine(*c, "a.dnl", std::string(512, 'y')), 0);

  std::vector<std::string> got;
  std::string line;
  ASSERT_EQ(OpenLineCursor(*c, "a.dnl"), 0);
  while (FetchLine(*c, &line) == 0) got.push_back(line);
  EXPECT_EQ(CloseLineCursor(*c), 0);
  std::vector<std::string> want = {"", "A", "B", "B", "C\n", std::string(512, 'y')};
  EXPECT_EQ(got, want);

  EXPECT_EQ(DeleteLines(*c, "a.dnl"), 0);
  EXPECT_EQ(DeleteLines(*c, "a.dnl"), kSqlNotFound);
  ASSERT_EQ(OpenLineCursor(*c, "b.dnl"), 0);
  ASSERT_EQ(FetchLine(*c, &line), 0);
  EXPECT_EQ(line, "other");
}

// A refused insert is undone alone, in a group and one by one; the lines
// before and after it stay.
TEST(LineStore, FailedInsertIsUndoneAlone) {
  for (bool grouped : {true, false}) {
    TestDb db;
    db.Exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON \"ZrSystem.Zrt999Tmp\" WHEN NEW.TmpStr = 'bad' "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    auto c = db.Connect();
    c->line_group.enabled = grouped;
    EXPECT_EQ(InsertLine(*c, "p", "one"), 0);
    EXPECT_LT(InsertLine(*c, "p", "bad"), 0);
    EXPECT_NE(c->last_error().find("refused"), std::string::npos);
    EXPECT_EQ(InsertLine(*c, "p", "two"), 0);
    EXPECT_LT(InsertLine(*c, "p", "bad"), 0);
    EXPECT_EQ(InsertLine(*c, "p", "three"), 0);
    EXPECT_EQ(FlushLines(*c), 0);
    std::vector<std::string> got;
    std::string line;
    OpenLineCursor(*c, "p");
    while (FetchLine(*c, &line) == 0) got.push_back(line);
    EXPECT_EQ(got, (std::vector<std::string>{"one", "three", "two"})) << grouped;
  }
}

// A savepoint with a successful change behind it is not undone by halves:
// the whole transaction goes and the rollback reports it.
TEST(Runtime, SavepointCoveringTwoChangesRollsBackEverything) {
  TestDb db;
  auto c = db.Connect();
  const char* ins = "INSERT INTO ZrSystem.Zrt999Tmp ( TmpUsr, TmpStr ) VALUES ( @p1, @p2 )";
  ASSERT_EQ(c->Transaction(1, "BEGIN TRANSACTION T"), 0);
  ASSERT_EQ(c->Execute(2, ins, {Param::Text("p"), Param::Text("a")}), 0);
  ASSERT_EQ(c->Transaction(3, "SAVE TRANSACTION S"), 0);
  ASSERT_EQ(c->Execute(2, ins, {Param::Text("p"), Param::Text("b")}), 0);
  EXPECT_LT(c->Transaction(4, "ROLLBACK TRANSACTION S"), 0);
  EXPECT_NE(c->last_error().find("savepoint"), std::string::npos);
  Row n;
  c->Execute(5, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp", {}, &n);
  EXPECT_EQ(n[0].Int(), 0);
}

// Lines of a group larger than one transaction all arrive, and what was
// stored is committed for another connection to see.
TEST(LineStore, GroupsSpanManyTransactions) {
  TestDb db;
  auto c = db.Connect();
  for (int i = 0; i < kLinesPerGroup * 2 + 5; ++i) ASSERT_EQ(InsertLine(*c, "p", std::to_string(i)), 0);
  EXPECT_EQ(FlushLines(*c), 0);
  auto other = db.Connect();
  Row n;
  other->Execute(1, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1", {Param::Text("p")}, &n);
  EXPECT_EQ(n[0].Int(), kLinesPerGroup * 2 + 5);
}

TEST(Schemas, TerminalAndAllCursors) {
  TestDb db;
  db.Exec(
      "INSERT INTO \"ZrSystem.Zrt112Mnd\" VALUES (1,1,'M01  ',0),(1,2,'M02',0),(1,3,'M99',1);"
      "INSERT INTO \"ZrSystem.Zrt115Tfz\" VALUES ('T2',1,1),('T2',1,2),('T2',1,3),('T1',1,3);");
  auto c = db.Connect();
  auto collect = [&](bool all, const std::string& term) {
    std::vector<std::string> out;
    std::string s;
    if (all) {
      OpenAllSchemaCursor(*c);
      while (FetchAllSchema(*c, &s) == 0) out.push_back(s);
      CloseAllSchemaCursor(*c);
    } else {
      OpenTerminalSchemaCursor(*c, term);
      while (FetchTerminalSchema(*c, &s) == 0) out.push_back(s);
      CloseTerminalSchemaCursor(*c);
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(collect(false, "T2"), (std::vector<std::string>{"M01", "M02"}));
  EXPECT_EQ(collect(false, "T1"), std::vector<std::string>{});  // only a left-out client
  EXPECT_EQ(collect(false, "T9"), std::vector<std::string>{});
  EXPECT_EQ(collect(true, ""), (std::vector<std::string>{"M01", "M02"}));
}

}  // namespace
}  // namespace plom
