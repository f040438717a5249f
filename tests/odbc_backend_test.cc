// The ODBC backend: the pure parts (statement texts as sent, sqlcodes and
// messages from diagnostics), then end to end through the unixODBC driver
// manager and the SQLite ODBC driver, and a connect through FreeTDS to a
// port where nothing listens.
#ifdef PLOM_HAVE_ODBC

#include "db/odbc_backend.h"
#include "db/sqlite_collation.h"
#include "db/tsql.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "installation/connection.h"
#include "installation/line_store.h"
#include "installation/statements.h"
#include "tests/test_util.h"

namespace plom {
namespace {

using test::TestDb;

// Every statement text of the tool that carries parameters, with the
// parameter numbers of its markers; and some that carry none.
struct MarkerCase {
  const char* text;
  std::vector<int> order;
};

// The markers of a text without literals or comments, in order of appearance.
std::vector<int> PlainMarkers(const std::string& text) {
  std::vector<int> order;
  for (size_t at = text.find("@p"); at != std::string::npos; at = text.find("@p", at + 2)) {
    order.push_back(std::atoi(text.c_str() + at + 2));
  }
  return order;
}

// The text with every marker @pN (N of any number of digits) as "?".
std::string QuestionMarks(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "@p") == 0 && i + 2 < text.size() && std::isdigit(text[i + 2])) {
      out += '?';
      for (i += 2; i < text.size() && std::isdigit(text[i]);) ++i;
      continue;
    }
    out += text[i++];
  }
  return out;
}

std::vector<MarkerCase> StatementCases() {
  std::vector<MarkerCase> cases;
  for (const Statement& st : kStatements) cases.push_back({st.text, PlainMarkers(st.text)});
  // A per-client text as BuildStatement fills it, with a literal key.
  cases.push_back({" SELECT   PnrSpr, PnrSal   FROM  M01.Zrt300Pnr    WHERE PNRNUM = '4711' ", {}});
  return cases;
}

TEST(OdbcStatementText, SqlServerGetsTheTextWithMarkers) {
  for (const MarkerCase& c : StatementCases()) {
    std::vector<int> order = {99};
    std::string sent = OdbcStatementText(c.text, false, &order);
    std::string want = QuestionMarks(c.text);
    EXPECT_EQ(sent, want);
    EXPECT_EQ(order, c.order) << c.text;
  }
  // Markers inside literals and comments are text; order follows the markers.
  const struct {
    const char* text;
    const char* sent;
    std::vector<int> order;
  } special[] = {
      {"SELECT '@p1' /* @p2 */ FROM t WHERE a = @p2 AND b = @p1",
       "SELECT '@p1' /* @p2 */ FROM t "
       "WHERE a = ? AND b = ?",
       {2, 1}},
      {"WHERE x=@p1 OR y=@p1", "WHERE x=? OR y=?", {1, 1}},
      {"WHERE x = 'it''s @p1' AND y = @P2", "WHERE x = 'it''s @p1' AND y = ?", {2}},
  };
  for (const auto& c : special) {
    std::vector<int> order;
    EXPECT_EQ(OdbcStatementText(c.text, false, &order), c.sent);
    EXPECT_EQ(order, c.order) << c.text;
  }
}

TEST(OdbcStatementText, SqliteGetsTheTranslationWithPlainMarkers) {
  for (const MarkerCase& c : StatementCases()) {
    std::vector<int> order;
    std::string sent = OdbcStatementText(c.text, true, &order);
    EXPECT_EQ(sent.find("@p"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("?1"), std::string::npos) << sent;
    EXPECT_EQ(order, c.order) << c.text;
  }
  std::vector<int> order;
  EXPECT_EQ(OdbcStatementText("  INSERT INTO ZrSystem.Zrt999Tmp ( TmpUsr, TmpStr ) VALUES ( "
                              "@p2    , @p1     )  ",
                              true, &order),
            "  INSERT INTO \"ZrSystem.Zrt999Tmp\" ( TmpUsr, TmpStr ) VALUES ( ?    , ?     )  ");
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
  // A translation that repeats an expression repeats its marker.
  EXPECT_EQ(OdbcStatementText("SELECT CONVERT(datetime, @p1, 112)", true, &order),
            "SELECT (SELECT substr(d,1,4)||'-'||substr(d,5,2)||'-'||substr(d,7,2)||' 00:00:00' "
            "FROM (SELECT ( ?) AS d))");
  EXPECT_EQ(order, (std::vector<int>{1}));
  EXPECT_EQ(OdbcStatementText("  ROLLBACK TRANSACTION Tmp_UsrDel_Sp ", true, &order), "ROLLBACK");
  EXPECT_TRUE(order.empty());
}

// The line store's lock goes to SQL Server as one batch with its two
// parameters as markers (path and wait bound, never spliced into the
// text); the batch's own variable is no parameter, and its one result is
// the return code.
TEST(OdbcStatementText, LineStoreLockBatch) {
  struct Capture : Backend {
    std::string text;
    Params params;
    Result Run(int, std::string_view t, const Params& p, size_t) override {
      text = std::string(t);
      params = p;
      Result r;
      r.is_select = true;
      Value v;
      v.type = Value::Type::kInt;
      v.i = 1;  // granted after a wait
      r.rows.push_back({v});
      return r;
    }
  };
  auto backend = std::make_unique<Capture>();
  Capture* seen = backend.get();
  Connection c(std::move(backend));
  ASSERT_EQ(LockLineStore(c, "d'l.dnl", 1500), 0);
  ASSERT_EQ(seen->params.size(), 2u);
  EXPECT_EQ(seen->params[0].text, "Zrt999Tmp D'L.DNL");  // as the database compares it
  EXPECT_EQ(seen->params[1].num, 1500);
  EXPECT_EQ(seen->text.find("d'l"), std::string::npos);
  std::vector<int> order;
  std::string sent = OdbcStatementText(seen->text, false, &order);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_NE(sent.find("sp_getapplock @Resource = ?,"), std::string::npos) << sent;
  EXPECT_NE(sent.find("@LockOwner = 'Session'"), std::string::npos) << sent;
  EXPECT_NE(sent.find("@LockMode = 'Exclusive'"), std::string::npos) << sent;
  // Row counts of the procedure are kept out of the batch's results; the
  // connection's NOCOUNT OFF holds again before the SELECT.
  size_t on = sent.find("SET NOCOUNT ON;"), exec = sent.find("EXEC @r"),
         off = sent.find("SET NOCOUNT OFF;"), select = sent.find("SELECT @r");
  EXPECT_TRUE(on < exec && exec < off && off < select && select != std::string::npos) << sent;
}

TEST(OdbcStatementText, TransactionTexts) {
  const struct {
    const char* text;
    bool is_tx;
  } cases[] = {
      {"  BEGIN TRANSACTION Tmp_PKeyIns_Sp ", true},
      {"  COMMIT TRANSACTION ", true},
      {"  ROLLBACK TRANSACTION Tmp_UsrDel_Sp ", true},
      {"SAVE TRANSACTION Tmp_PKeyIns_Sv", true},
      {"begin tran", true},
      {"  DELETE FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1      ", false},
      {"BEGIN", false},
      {"COMMIT TRANSACTION a b", false},
      {"SELECT TRANSACTION", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsTransactionText(c.text), c.is_tx) << c.text;
  // The tool's own texts: transaction control exactly where the table says so.
  for (const Statement& st : kStatements) {
    EXPECT_EQ(IsTransactionText(st.text), st.kind == StatementKind::kTransaction) << st.text;
  }
}

TEST(OdbcDiagnostics, Sqlcodes) {
  const struct {
    int rc;
    long native;
    const char* state;
    int sqlcode;
  } cases[] = {
      {SQL_SUCCESS, 0, "", 0},
      {SQL_SUCCESS_WITH_INFO, 5701, "01000", 0},  // "changed database context"
      {SQL_NO_DATA, 0, "", 100},
      {SQL_ERROR, 208, "42S02", -208},       // invalid object name
      {SQL_ERROR, 2627, "23000", -2627},     // duplicate key
      {SQL_ERROR, 1205, "40001", -1205},     // deadlock victim
      {SQL_ERROR, -803, "23505", -803},      // a driver that reports negative codes
      {SQL_ERROR, 0, "08001", kOdbcFailed},  // no native error
      {SQL_ERROR, 0, "", kOdbcFailed},       // no record at all
      {SQL_ERROR, 17, "", kOdbcFailed},
      {SQL_INVALID_HANDLE, 0, "", kOdbcFailed},
      {SQL_STILL_EXECUTING, 0, "", kOdbcFailed},
      {SQL_NEED_DATA, 0, "HY000", kOdbcFailed},
      {SQL_ERROR, 100, "HY000", -100},  // never mistaken for "no data"
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SqlcodeFromDiag(c.rc, c.native, c.state), c.sqlcode)
        << c.rc << " " << c.native << " " << c.state;
  }
}

TEST(OdbcDiagnostics, MessagesKeepStateAndHideSecrets) {
  EXPECT_EQ(DiagMessage(SQL_ERROR, "42S02", "Invalid object name 'X'.", {"pw"}),
            "[42S02] Invalid object name 'X'.");
  EXPECT_EQ(DiagMessage(SQL_ERROR, "28000", "Login failed; password Geheim99 wrong", {"Geheim99"}),
            "[28000] Login failed; password *** wrong");
  EXPECT_EQ(DiagMessage(SQL_ERROR, "", "", {}), "ODBC call failed (return code -1)");
  EXPECT_EQ(DiagMessage(SQL_INVALID_HANDLE, "", "", {}), "ODBC call failed (return code -2)");
  EXPECT_TRUE(IsSqliteDbms("SQLite"));
  EXPECT_TRUE(IsSqliteDbms("sqlite3"));
  EXPECT_FALSE(IsSqliteDbms("Microsoft SQL Server"));
  EXPECT_FALSE(IsSqliteDbms("SQL"));
}

// ---- End to end through unixODBC and the SQLite ODBC driver ----

std::string SqliteOdbcDriver() {
  const char* candidates[] = {
      "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so",
      "/usr/lib/aarch64-linux-gnu/odbc/libsqlite3odbc.so",
      "/usr/lib/odbc/libsqlite3odbc.so",
      "/usr/lib64/libsqlite3odbc.so",
      "/usr/local/lib/libsqlite3odbc.so",
  };
  for (const char* p : candidates) {
    if (std::filesystem::exists(p)) return p;
  }
  return "";
}

constexpr char kPassword[] = "Pa;ss{w}ord";
// The line store's collation for the SQLite ODBC driver.
constexpr char kCollationModule[] = PLOM_BINARY_DIR "/libplomvarde-collation.so";

class OdbcSqlite : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_ = SqliteOdbcDriver();
    if (driver_.empty()) GTEST_SKIP() << "SQLite ODBC driver (libsqliteodbc) not installed";
    db_.AddClientTables("M01");
    db_.AddClientTables("M02");
    settings_.server =
        "DRIVER=" + driver_ + ";DATABASE=" + db_.path() + ";NoCreat=1;LoadExt=" + kCollationModule;
    settings_.login = "sa";
    settings_.password = kPassword;
    settings_.schema = "ZrSystem";
  }

  std::unique_ptr<Connection> Connect() {
    int code = 0;
    std::string err;
    auto b = OpenBackend(settings_, &code, &err);
    EXPECT_TRUE(b != nullptr) << code << " " << err;
    EXPECT_EQ(code, 0);
    if (b) {
      auto* odbc = dynamic_cast<OdbcBackend*>(b.get());
      EXPECT_TRUE(odbc != nullptr);
      if (odbc) {
        EXPECT_TRUE(IsSqliteDbms(odbc->dbms_name())) << odbc->dbms_name();
      }
    }
    return std::make_unique<Connection>(std::move(b));
  }

  // The bytes stored in the database file, read past ODBC.
  std::string StoredBytes(const std::string& sql) {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(db_.path().c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    RegisterCp1252Collation(raw);
    sqlite3_stmt* st = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(raw, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(st, 0);
      out = t ? reinterpret_cast<const char*>(t) : "<null>";
    }
    sqlite3_finalize(st);
    sqlite3_close(raw);
    return out;
  }

  void TextParametersGoAsVarchar();
  void DataSourceConnects();

  std::string driver_;
  TestDb db_;
  ConnectSettings settings_;
};

constexpr char kInsertSql[] =
    "  INSERT INTO ZrSystem.Zrt999Tmp ( TmpUsr, TmpStr ) VALUES ( @p1    , @p2     )  ";
constexpr char kCountSql[] = "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1";

int64_t CountLines(Connection& c, const std::string& path) {
  Row r;
  if (c.Execute(900, kCountSql, {Param::Text(path)}, &r) != 0) return -1;
  return r[0].Int();
}

TEST_F(OdbcSqlite, BindsAndConvertsWindows1252) {
  auto c = Connect();
  // ä ö ü ß € Ä and a blank at the end, as Windows-1252 bytes.
  const std::string line =
      "Gr\xE4\xDF"
      "e \xF6\xFC \x80 \xC4 ";
  ASSERT_EQ(c->Execute(42, kInsertSql, {Param::Text("p\xFC.dnl"), Param::Text(line)}), 0)
      << c->last_error();
  ASSERT_EQ(c->Execute(42, kInsertSql, {Param::Text("p\xFC.dnl"), Param::Text("")}), 0);
  // The file holds UTF-8, converted once.
  EXPECT_EQ(StoredBytes("SELECT TmpStr FROM \"ZrSystem.Zrt999Tmp\" WHERE TmpStr <> ''"),
            "Gr\xC3\xA4\xC3\x9F"
            "e \xC3\xB6\xC3\xBC \xE2\x82\xAC \xC3\x84 ");
  EXPECT_EQ(StoredBytes("SELECT TmpUsr FROM \"ZrSystem.Zrt999Tmp\""), "p\xC3\xBC.dnl");
  // And comes back as the same bytes, the parameter matching the stored text.
  std::vector<std::string> got;
  ASSERT_TRUE(ReadLines(*c, "p\xFC.dnl", &got).ok()) << c->last_error();
  EXPECT_EQ(got, (std::vector<std::string>{"",
                                           "Gr\xE4\xDF"
                                           "e \xF6\xFC \x80 \xC4"}));
  // A character beyond Windows-1252 in the database arrives as "?".
  db_.Exec(
      "INSERT INTO \"ZrSystem.Zrt113Sto\" VALUES ('9', 'a\xE2\x88\x9E"
      "b');");
  Row r;
  ASSERT_EQ(c->Execute(12, "SELECT StoKtx FROM ZrSystem.Zrt113Sto WHERE StoNum = @p1",
                       {Param::Text("9")}, &r),
            0);
  EXPECT_EQ(r[0].Text(), "a?b");
}

TEST_F(OdbcSqlite, LongTextsArriveWhole) {
  auto c = Connect();
  std::string line;
  for (int i = 0; i < 512; ++i)
    line.push_back(i % 7 == 0 ? '\xFC' : static_cast<char>('a' + i % 26));
  ASSERT_EQ(c->Execute(42, kInsertSql, {Param::Text("long"), Param::Text(line)}), 0);
  std::string big(5000, 'x');
  big[4999] = '\xDF';
  db_.Exec("INSERT INTO \"ZrSystem.Zrt999Tmp\" VALUES ('big', '" + std::string(4999, 'x') +
           "\xC3\x9F');");
  Row r;
  ASSERT_EQ(c->Execute(1, "SELECT TmpStr FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1",
                       {Param::Text("long")}, &r),
            0);
  EXPECT_EQ(r[0].Text(), line);
  ASSERT_EQ(c->Execute(1, "SELECT TmpStr FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1",
                       {Param::Text("big")}, &r),
            0);
  EXPECT_EQ(r[0].Text(), big);
}

TEST_F(OdbcSqlite, NullsTypesAndIntegers) {
  db_.Exec(
      "INSERT INTO \"ZrSystem.Zrt112Mnd\" VALUES (1, 1, 'M01', 0);"
      "INSERT INTO \"ZrSystem.Zrt301Asw\" VALUES ('100', '2020-01-02 00:00:00', NULL, '4711',"
      " '5', NULL, NULL, 7, 1, 1);"
      "INSERT INTO \"ZrSystem.Zrt113Awv\" VALUES ('100', NULL);"
      "INSERT INTO \"ZrSystem.Zrt401Zls\" VALUES ('T1', 1, 'A'), ('T1', 2, 'B'), ('T1', 3, 'C');"
      "INSERT INTO \"M01.Zrt332Utg\" VALUES ('4711', '2020-01-01 00:00:00', 2.5, NULL, -1.25);");
  auto c = Connect();
  const char* badges = stmt::kBadgeCursor.text;
  ASSERT_EQ(c->Open(1, badges, {Param::Text("M01")}), 0) << c->last_error();
  Row r;
  ASSERT_EQ(c->Fetch(1, &r), 0);
  ASSERT_EQ(r.size(), 9u);
  EXPECT_EQ(r[0].Text(), "100");
  EXPECT_EQ(r[1].Text(), "20200102");
  EXPECT_TRUE(r[2].IsNull());  // no end of validity
  EXPECT_EQ(r[2].Text(), "");
  EXPECT_TRUE(r[5].IsNull());
  EXPECT_EQ(r[7].type, Value::Type::kInt);
  EXPECT_EQ(r[7].Int(), 7);
  EXPECT_EQ(r[8].Text(), "");
  EXPECT_EQ(c->Fetch(1, &r), 100);

  // An integer parameter.
  const char* readers =
      "/* ZLS_ZLES_C 2 nohold */ SELECT ZlsLes, ZlsZko FROM  ZrSystem.Zrt401Zls WHERE ZlsTrm = "
      "@p1      AND ZlsLes <= @p2      ORDER BY ZlsLes ";
  ASSERT_EQ(c->Open(2, readers, {Param::Text("T1"), Param::Int(2)}), 0) << c->last_error();
  std::vector<std::string> got;
  while (c->Fetch(2, &r) == 0) got.push_back(std::to_string(r[0].Int()) + r[1].Text());
  EXPECT_EQ(got, (std::vector<std::string>{"1A", "2B"}));

  // Floating point columns and COALESCE of a NULL.
  ASSERT_EQ(c->Execute(39,
                       " SELECT   UtgDtm, COALESCE(UtgVtg, 0.0),   COALESCE(UtgRtg, 0.0), "
                       "COALESCE(UtgGut, 0.0)  FROM  M01.Zrt332Utg   WHERE UTGPNR = '4711' ",
                       {}, &r),
            0)
      << c->last_error();
  EXPECT_EQ(r[0].Text(), "2020-01-01 00:00:00");
  EXPECT_DOUBLE_EQ(r[1].Real(), 2.5);
  EXPECT_DOUBLE_EQ(r[2].Real(), 0.0);
  EXPECT_DOUBLE_EQ(r[3].Real(), -1.25);
  ASSERT_EQ(c->Execute(3, "SELECT COUNT(*) FROM ZrSystem.Zrt401Zls WHERE ZlsTrm = @p1",
                       {Param::Text("T1")}, &r),
            0);
  EXPECT_EQ(r[0].Int(), 3);
}

TEST_F(OdbcSqlite, TransactionsAndTheLineStore) {
  auto c = Connect();
  // A rolled back insert leaves nothing; a committed one stays.
  EXPECT_EQ(c->Transaction(41, "  BEGIN TRANSACTION Tmp_PKeyIns_Sp "), 0) << c->last_error();
  EXPECT_EQ(c->Execute(42, kInsertSql, {Param::Text("t"), Param::Text("gone")}), 0);
  EXPECT_EQ(c->Transaction(41, "  ROLLBACK TRANSACTION Tmp_PKeyIns_Sp "), 0) << c->last_error();
  EXPECT_EQ(CountLines(*c, "t"), 0);
  EXPECT_EQ(c->Transaction(41, "  BEGIN TRANSACTION Tmp_PKeyIns_Sp "), 0);
  EXPECT_EQ(c->Execute(42, kInsertSql, {Param::Text("t"), Param::Text("kept")}), 0);
  EXPECT_EQ(c->Transaction(0, "  COMMIT TRANSACTION "), 0) << c->last_error();
  EXPECT_EQ(CountLines(*c, "t"), 1);
  EXPECT_EQ(StoredBytes("SELECT TmpStr FROM \"ZrSystem.Zrt999Tmp\""), "kept");

  // The line store's operations as the driver issues them.
  EXPECT_TRUE(DeleteLines(*c, "a.dnl").ok());
  StoreReport r = StoreLines(*c, "a.dnl", {"B", "A", std::string(513, 'x')}, StoreMode::kGroups);
  ASSERT_FALSE(r.failure.failed()) << r.failure.reason();
  ASSERT_EQ(r.refused.size(), 1u);
  EXPECT_EQ(r.refused[0].seq, 2);
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLines(*c, "a.dnl", &lines).ok()) << c->last_error();
  EXPECT_EQ(lines, (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(DeleteLines(*c, "a.dnl").ok());
  EXPECT_EQ(CountLines(*c, "a.dnl"), 0);
  EXPECT_EQ(CountLines(*c, "t"), 1);
}

// Through the SQLite ODBC driver the line store sorts as on the embedded
// database: by Windows-1252 bytes.
TEST_F(OdbcSqlite, LinesSortByWindows1252Bytes) {
  auto c = Connect();
  StoreReport r = StoreLines(*c, "s", {"\xE4", "Z", "\x80"}, StoreMode::kGroups);
  ASSERT_EQ(r.stored, 3) << r.failure.reason();
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLines(*c, "s", &lines).ok()) << c->last_error();
  EXPECT_EQ(lines, (std::vector<std::string>{"Z", "\x80", "\xE4"}));
}

// A refused insert in the middle of a group: the group is stored again line
// by line, and exactly the refused line is missing, with its number,
// sqlcode and message. A group of lines takes a few round trips (begin,
// prepare, the rows, commit), with parameter arrays or many-line INSERTs.
TEST_F(OdbcSqlite, RefusedInsertInAGroupIsUndoneAlone) {
  db_.Exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON \"ZrSystem.Zrt999Tmp\" WHEN NEW.TmpStr = 'bad' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  for (bool arrays : {false, true}) {
    SCOPED_TRACE(arrays ? "parameter arrays" : "many-line INSERTs");
    TransportOptions o;
    o.param_arrays = arrays;
    int code = 0;
    std::string err;
    auto backend = OdbcBackend::Open(settings_, o, &code, &err);
    ASSERT_TRUE(backend != nullptr) << err;
    Connection c(std::move(backend));
    EXPECT_EQ(c.sends_rows_together(), arrays);
    const std::string path = arrays ? "arr" : "one";
    StoreReport r = StoreLines(c, path, {"one", "bad", "two"}, StoreMode::kGroups);
    ASSERT_FALSE(r.failure.failed()) << r.failure.reason();
    ASSERT_EQ(r.refused.size(), 1u);
    EXPECT_EQ(r.refused[0].seq, 1);
    EXPECT_LT(r.refused[0].sqlcode, 0);
    EXPECT_NE(r.refused[0].reason.find("refused"), std::string::npos) << r.refused[0].reason;
    EXPECT_EQ(CountLines(c, path), 2);

    const std::string clean = path + "-clean";
    std::vector<std::string> lines;
    for (int i = 0; i < 100; ++i) lines.push_back("l" + std::to_string(i));
    int64_t before = c.round_trips();
    ASSERT_EQ(StoreLines(c, clean, lines, StoreMode::kGroups).stored, 100);
    EXPECT_LE(c.round_trips() - before, 4);
    EXPECT_EQ(CountLines(c, clean), 100);
  }
}

TEST_F(OdbcSqlite, CursorsStayOpenTogether) {
  db_.Exec(
      "INSERT INTO \"ZrSystem.Zrt112Mnd\" VALUES (1,1,'M01  ',0),(1,2,'M02',0),(1,3,'M99',1);"
      "INSERT INTO \"ZrSystem.Zrt115Tfz\" VALUES ('T2',1,1),('T2',1,2),('T2',1,3);"
      "INSERT INTO \"ZrSystem.Zrt999Tmp\" VALUES ('x','1'),('x','2'),('x','3');");
  auto c = Connect();
  ASSERT_EQ(OpenTerminalSchemaCursor(*c, "T2"), 0) << c->last_error();
  ASSERT_EQ(c->Open(stmt::kLineCursor.no, stmt::kLineCursor.text, {Param::Text("x", 100)}), 0);
  std::string schema;
  std::vector<std::string> seen;
  Row row;
  while (FetchTerminalSchema(*c, &schema) == 0) {
    seen.push_back(schema);
    // Statements and transactions between fetches close nothing.
    EXPECT_EQ(StoreLines(*c, "y", {schema}, StoreMode::kOneByOne).stored, 1);
    ASSERT_EQ(c->Fetch(stmt::kLineCursor.no, &row), 0);
    seen.push_back(row[0].Text());
  }
  EXPECT_EQ(CloseTerminalSchemaCursor(*c), 0);
  ASSERT_EQ(c->Fetch(stmt::kLineCursor.no, &row), 0);
  EXPECT_EQ(row[0].Text(), "3");
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "M01", "M02"}));
  EXPECT_EQ(CountLines(*c, "y"), 2);
}

// Through ODBC on SQLite the line store's lock is the embedded one: two
// sessions on one database file exclude each other.
TEST_F(OdbcSqlite, LineStoreLockBetweenSessions) {
  auto c = Connect();
  auto d = Connect();
  ASSERT_EQ(LockLineStore(*c, "dl.dnl", 0), 0) << c->last_error();
  EXPECT_EQ(LockLineStore(*c, "dl.dnl", 0), 0);  // held by this session already
  EXPECT_EQ(LockLineStore(*d, "dl.dnl", 0), kSqlLineStoreLocked);
  EXPECT_EQ(LockLineStore(*d, "other.dnl", 0), 0);
  c.reset();
  EXPECT_EQ(LockLineStore(*d, "dl.dnl", 0), 0);
}

TEST_F(OdbcSqlite, ChangedTextIsPreparedAnew) {
  db_.Exec(
      "INSERT INTO \"M01.Zrt300Pnr\" VALUES ('1', 1, 'eins');"
      "INSERT INTO \"M02.Zrt300Pnr\" VALUES ('1', 2, 'zwei');");
  auto c = Connect();
  const char* tmpl = " SELECT   PnrSpr, PnrSal   FROM  %s.Zrt300Pnr    WHERE PNRNUM = '1' ";
  auto run = [&](const char* schema) {
    char text[256];
    std::snprintf(text, sizeof text, tmpl, schema);
    Row r;
    int rc = c->Execute(13, text, {}, &r);
    return rc == 0 ? r[1].Text() : "rc " + std::to_string(rc) + " " + c->last_error();
  };
  EXPECT_EQ(run("M01"), "eins");
  EXPECT_EQ(run("M01"), "eins");
  EXPECT_EQ(run("M02"), "zwei");
  EXPECT_EQ(run("M01"), "eins");
  EXPECT_EQ(run("M02"), "zwei");
}

TEST_F(OdbcSqlite, DiagnosticsAndSqlcodes) {
  auto c = Connect();
  Row r;
  // A bad statement: negative sqlcode, state and the driver's message kept.
  EXPECT_LT(c->Execute(5, "SELECT nosuchcolumn FROM ZrSystem.Zrt999Tmp", {}, &r), 0);
  EXPECT_LT(c->last_sqlcode(), 0);
  EXPECT_EQ(c->last_error().rfind("[", 0), 0u) << c->last_error();
  EXPECT_NE(c->last_error().find("nosuchcolumn"), std::string::npos) << c->last_error();
  EXPECT_LT(c->Open(6, "SELECT x FROM ZrSystem.NoSuchTable", {}), 0);
  EXPECT_NE(c->last_error().find("NoSuchTable"), std::string::npos) << c->last_error();
  // The connection goes on working; the same number with a good text runs.
  EXPECT_EQ(c->Execute(5, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp", {}, &r), 0);
  // No row: 100 for a singleton select and for a change that touches nothing.
  EXPECT_EQ(c->Execute(7, "SELECT TmpStr FROM ZrSystem.Zrt999Tmp", {}, &r), 100);
  EXPECT_EQ(c->Execute(44, "  DELETE FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1      ",
                       {Param::Text("none")}),
            100);
  // A parameter the text names but the caller did not give.
  EXPECT_LT(c->Execute(8, kCountSql, {}), 0);
  EXPECT_NE(c->last_error().find("@p1"), std::string::npos);
}

TEST_F(OdbcSqlite, FailedConnectHidesThePassword) {
  const struct {
    std::string server;
  } cases[] = {
      {"DRIVER=/nonexistent/libnothing.so;DATABASE=" + db_.path()},
      {"DRIVER=" + driver_ + ";DATABASE=/nonexistent/dir/x.db;NoCreat=1"},
      {"PlomNoSuchDataSource"},
      {"DSN=PlomNoSuchDataSource;PWD=" + std::string(kPassword)},
  };
  for (const auto& c : cases) {
    ConnectSettings s = settings_;
    s.server = c.server;
    int code = 0;
    std::string err = "stale";
    auto b = OpenBackend(s, &code, &err);
    EXPECT_EQ(b, nullptr) << c.server;
    EXPECT_LT(code, 0) << c.server;
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(err.find("Pa;ss"), std::string::npos) << err;
    EXPECT_EQ(err.find("ss{w}ord"), std::string::npos) << err;
    EXPECT_NE(err.find("PWD=***"), std::string::npos) << err;
  }
}

// A driver registration of its own for a test: odbcinst.ini with the
// SQLite ODBC driver and the driver manager's trace, odbc.ini with a data
// source on the test database. ODBCSYSINI points there while it lives.
class OdbcRegistration {
 public:
  OdbcRegistration(const std::string& driver, const std::string& db_path) : dir_(test::TempDir()) {
    test::WriteFile(dir_ + "/odbcinst.ini", "[ODBC]\nTrace=Yes\nTraceFile=" + trace() +
                                                "\n\n[PLite]\nDriver=" + driver + "\n");
    test::WriteFile(dir_ + "/odbc.ini", "[PlomDsn]\nDriver=PLite\nDatabase=" + db_path +
                                            "\nNoCreat=1\nLoadExt=" + kCollationModule + "\n");
    const char* old = std::getenv("ODBCSYSINI");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("ODBCSYSINI", dir_.c_str(), 1);
    unsetenv("ODBCINI");
  }
  ~OdbcRegistration() {
    if (had_old_) {
      setenv("ODBCSYSINI", old_.c_str(), 1);
    } else {
      unsetenv("ODBCSYSINI");
    }
    std::filesystem::remove_all(dir_);
  }
  std::string trace() const { return dir_ + "/trace.log"; }
  std::string Trace() const { return test::ReadFile(trace()); }

 private:
  std::string dir_;
  std::string old_;
  bool had_old_ = false;
};

// Counts the occurrences of a text.
size_t Occurrences(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

// The driver manager reads its ini files once per process: a test with a
// registration of its own runs its body in a fresh process of the test
// program, which exits 0 when no expectation failed.
#define IN_FRESH_PROCESS(body)                              \
  do {                                                      \
    GTEST_FLAG_SET(death_test_style, "threadsafe");         \
    EXPECT_EXIT(                                            \
        {                                                   \
          body;                                             \
          std::exit(::testing::Test::HasFailure() ? 1 : 0); \
        },                                                  \
        ::testing::ExitedWithCode(0), "");                  \
  } while (0)

// What the driver manager saw: every text parameter goes as varchar from
// narrow characters, declared with its column's width; umlauts and the
// euro sign arrive and come back intact.
TEST_F(OdbcSqlite, TextParametersGoAsVarcharOfTheColumnWidth) {
  IN_FRESH_PROCESS(TextParametersGoAsVarchar());
}

void OdbcSqlite::TextParametersGoAsVarchar() {
  OdbcRegistration reg(driver_, db_.path());
  settings_.server =
      "DRIVER=PLite;DATABASE=" + db_.path() + ";NoCreat=1;LoadExt=" + kCollationModule;
  {
    auto c = Connect();
    const std::string line =
        "\x80 Gr\xFC\xDF"
        "e \xE4";
    ASSERT_EQ(StoreLines(*c, "\xE4.dnl", {line}, StoreMode::kGroups).stored, 1)
        << c->last_error();
    EXPECT_EQ(StoredBytes("SELECT TmpStr FROM \"ZrSystem.Zrt999Tmp\""),
              "\xE2\x82\xAC Gr\xC3\xBC\xC3\x9F"
              "e \xC3\xA4");
    std::vector<std::string> got;
    ASSERT_TRUE(ReadLines(*c, "\xE4.dnl", &got).ok()) << c->last_error();
    EXPECT_EQ(got, std::vector<std::string>{line});
  }
  std::string trace = reg.Trace();
  ASSERT_FALSE(trace.empty()) << "no driver manager trace at " << reg.trace();
  // unixODBC writes one "SQLBindParameter" entry per bound parameter.
  size_t binds = Occurrences(trace, "SQLBindParameter");
  ASSERT_GE(binds, 3u) << trace;
  EXPECT_EQ(Occurrences(trace, "SQL_WVARCHAR"), 0u);
  EXPECT_EQ(Occurrences(trace, "SQL_C_WCHAR"), 0u);
  EXPECT_NE(trace.find("SQL_VARCHAR"), std::string::npos);
  // Path 100, line 512: the widths of TmpUsr and TmpStr.
  EXPECT_NE(trace.find("Col Def = 100"), std::string::npos);
  EXPECT_NE(trace.find("Col Def = 512"), std::string::npos);
}

// A data source is connected with SQLConnect: a password with ";", "}" and
// "=" needs no quoting and is never shown.
TEST_F(OdbcSqlite, DataSourceConnectsWithPasswordAsItIs) { IN_FRESH_PROCESS(DataSourceConnects()); }

void OdbcSqlite::DataSourceConnects() {
  OdbcRegistration reg(driver_, db_.path());
  settings_.server = "PlomDsn";
  settings_.password = "a;b}c=d}}";
  settings_.schema = "";
  ASSERT_TRUE(IsOdbcDataSource("PlomDsn"));
  {
    auto c = Connect();
    ASSERT_TRUE(c->connected());
    EXPECT_EQ(StoreLines(*c, "dsn", {"x"}, StoreMode::kGroups).stored, 1) << c->last_error();
    EXPECT_EQ(CountLines(*c, "dsn"), 1);
  }
  std::string trace = reg.Trace();
  EXPECT_NE(trace.find("SQLConnect"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("SQLDriverConnect"), std::string::npos);
  EXPECT_EQ(trace.find("a;b}c=d"), std::string::npos);
}

// Rows sent as a parameter array: one round trip for many rows, a refused
// row undone alone and reported at its place; the same results with arrays
// switched off.
TEST_F(OdbcSqlite, ParameterArraysStoreRowsInOneRoundTrip) {
  db_.Exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON \"ZrSystem.Zrt999Tmp\" WHEN NEW.TmpStr LIKE 'bad%' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  const struct {
    bool arrays;
    bool wide;
    const char* path;
  } modes[] = {{true, false, "arr"}, {false, false, "one"}, {true, true, "wide"}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.path);
    bool arrays = mode.arrays;
    TransportOptions o;
    o.param_arrays = arrays;
    o.wide_text_params = mode.wide;
    int code = 0;
    std::string err;
    auto backend = OdbcBackend::Open(settings_, o, &code, &err);
    ASSERT_TRUE(backend != nullptr) << err;
    Connection c(std::move(backend));
    std::string path = mode.path;
    std::vector<Params> rows;
    for (int i = 0; i < 50; ++i) {
      std::string line = (i == 7 || i == 30 ? "bad" : "l\xE4") + std::to_string(i);
      rows.push_back({Param::Text(path, 100), Param::Text(line, 512)});
    }
    ASSERT_EQ(c.Transaction(41, "  BEGIN TRANSACTION Tmp_PKeyIns_Sp "), 0);
    int64_t before = c.round_trips();
    std::vector<Status> codes;
    EXPECT_LT(c.ExecuteMany(42, kInsertSql, rows, &codes), 0);
    int64_t trips = c.round_trips() - before;
    ASSERT_EQ(c.Transaction(0, "  COMMIT TRANSACTION "), 0) << c.last_error();
    ASSERT_EQ(codes.size(), rows.size());
    for (size_t i = 0; i < codes.size(); ++i) {
      if (i == 7 || i == 30) {
        EXPECT_TRUE(codes[i].refused()) << i;
        EXPECT_NE(codes[i].reason().find("refused"), std::string::npos) << codes[i].reason();
      } else {
        EXPECT_TRUE(codes[i].ok()) << i;
      }
    }
    EXPECT_EQ(CountLines(c, path), 48);
    EXPECT_EQ(StoredBytes("SELECT TmpStr FROM \"ZrSystem.Zrt999Tmp\" WHERE TmpUsr = '" + path +
                          "' AND TmpStr LIKE '%49'"),
              "l\xC3\xA4"
              "49");
    // The prepare, then three arrays and each refused row again alone; or
    // the prepare and 50 executions.
    EXPECT_EQ(trips, arrays ? 6 : 51);
  }
}

TEST(OdbcFreeTds, ConnectToNothingFailsCleanlyAndQuickly) {
  ConnectSettings s;
  s.server = "127.0.0.1,1";  // nothing listens on port 1
  s.login = "sa";
  s.password = "Top$ecret1";
  s.schema = "ZrSystem";
  auto start = std::chrono::steady_clock::now();
  int code = 0;
  std::string err;
  auto b = OpenBackend(s, &code, &err);
  auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_EQ(b, nullptr);
  EXPECT_LT(code, 0);
  EXPECT_LE(seconds, 15);
  EXPECT_EQ(err.find("Top$ecret1"), std::string::npos) << err;
  EXPECT_NE(err.find("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=1;"), std::string::npos) << err;
  EXPECT_NE(err.find("PWD=***"), std::string::npos) << err;

  // The same through the connection of a run.
  Connection c;
  EXPECT_LT(ConnectDatabase(&c, "sa", "Top$ecret1", "127.0.0.1,1", "ZrSystem"), 0);
  EXPECT_FALSE(c.connected());
}

// ---- Whole runs of the tool: the same files through both backends ----

// One installation laid out for the tool: DIR/files/korvantis.ini (and the
// database), the working directory DIR/run/t.
struct Installation {
  std::string dir;
  std::string work() const { return dir + "/run/t"; }
};

int RunCommand(const std::string& cmd) { return test::ExitStatus(std::system(cmd.c_str())); }

Installation LayOut(const std::string& root, const std::string& name, const std::string& db,
                    const std::string& server) {
  Installation in{root + "/" + name};
  std::filesystem::create_directories(in.dir + "/files");
  std::filesystem::create_directories(in.work());
  if (!db.empty()) std::filesystem::copy_file(db, in.dir + "/files/p.db");
  std::string cmd = "'" PLOM_BINARY_DIR "/plomvarde-ini' write '" + in.dir +
                    "/files/korvantis.ini' LOGIN=sa PASS=Geheim77 'SQLSERVER=" + server +
                    "' SCHEMA=ZrSystem. >/dev/null";
  EXPECT_EQ(RunCommand(cmd), 0) << cmd;
  return in;
}

// Registers the SQLite ODBC driver for the runs of a test alone, with the
// data source PLiteRun (a name short enough for a configuration value) on
// the installation's files/p.db. Returns the environment that uses it.
std::string RegisterSqliteOdbc(const std::string& root, const std::string& driver) {
  std::filesystem::create_directories(root + "/odbc");
  test::WriteFile(root + "/odbc/odbcinst.ini", "[PLite]\nDriver=" + driver + "\n");
  test::WriteFile(root + "/odbc/odbc.ini",
                  "[PLiteRun]\nDriver=PLite\nDatabase=../../files/p.db\n"
                  "LoadExt=" +
                      std::string(kCollationModule) + "\n");
  return "ODBCSYSINI='" + root + "/odbc'";
}

// Runs the tool in the installation; *out receives its messages.
int RunTool(const Installation& in, const std::string& env, const std::string& args,
            std::string* out) {
  std::string log = in.dir + "/out.txt";
  std::string cmd = "cd '" + in.work() + "' && " + env + " '" PLOM_BINARY_DIR "/plomvarde' " +
                    args + " >'" + log + "' 2>&1";
  int rc = RunCommand(cmd);
  *out = test::ReadFile(log);
  return rc;
}

TEST(OdbcWholeRun, SameFilesAndMessagesThroughBothBackends) {
  const std::string driver = SqliteOdbcDriver();
  if (driver.empty()) GTEST_SKIP() << "SQLite ODBC driver (libsqliteodbc) not installed";
  const std::string root = test::TempDir();
  const std::string sample = root + "/sample.db";
  ASSERT_EQ(RunCommand("'" PLOM_BINARY_DIR "/plomvarde-sample' '" + sample + "' >/dev/null"), 0);
  const std::string env = RegisterSqliteOdbc(root, driver);

  Installation embedded = LayOut(root, "e", sample, "sqlite:../../files/p.db");
  Installation odbc = LayOut(root, "o", sample, "PLiteRun");
  const char* functions[] = {"VQDNL17P", "VQDNL18P", "VQDNL31P", "VQDNL60P", "IDSTAMM"};
  const char* terminals[] = {"TERM12", "TERM03", "TERM00"};
  for (const char* t : terminals) {
    for (const char* f : functions) {
      std::string args = std::string(f) + " " + t + " out.dnl 1";
      std::string msg_e, msg_o;
      int rc_e = RunTool(embedded, "", args, &msg_e);
      int rc_o = RunTool(odbc, env, args, &msg_o);
      EXPECT_EQ(rc_e, 0) << args << "\n" << msg_e;
      EXPECT_EQ(rc_o, rc_e) << args << "\n" << msg_o;
      EXPECT_EQ(msg_o, msg_e) << args;
      std::string file_e = test::ReadFile(embedded.work() + "/out.dnl");
      std::string file_o = test::ReadFile(odbc.work() + "/out.dnl");
      EXPECT_EQ(file_o, file_e) << args;
      if (std::string(t) == "TERM12") {
        EXPECT_FALSE(file_e.empty()) << args;
      }
    }
  }
  // Without the registration the ODBC installation cannot connect.
  std::string msg;
  EXPECT_EQ(RunTool(odbc, "ODBCSYSINI='" + root + "/nowhere'", "IDSTAMM TERM12 out.dnl 1", &msg),
            69)
      << msg;
  std::filesystem::remove_all(root);
}

// Lines refused by the database, in groups of several thousand lines over
// three clients: sent as parameter arrays or one by one behind savepoints,
// the messages (each refusal in the place of its line, the counts) and the
// file are the same, and so are they on the embedded database.
TEST(OdbcWholeRun, RefusedLinesSaidAlikeWithAndWithoutParameterArrays) {
  const std::string driver = SqliteOdbcDriver();
  if (driver.empty()) GTEST_SKIP() << "SQLite ODBC driver (libsqliteodbc) not installed";
  const std::string root = test::TempDir();
  const std::string sample = root + "/sample.db";
  ASSERT_EQ(RunCommand("'" PLOM_BINARY_DIR "/plomvarde-sample' --badges 7000 '" + sample +
                       "' >/dev/null"),
            0);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(sample.c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw,
                         "CREATE TRIGGER refuse BEFORE INSERT ON \"ZrSystem.Zrt999Tmp\" WHEN "
                         "NEW.TmpStr LIKE '%10000007%' OR NEW.TmpStr LIKE '%10002222%' OR "
                         "NEW.TmpStr LIKE '%10006998%' OR NEW.TmpStr LIKE '%10006999%' "
                         "BEGIN SELECT RAISE(ABORT, 'refused'); END;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(raw);
  const std::string env = RegisterSqliteOdbc(root, driver);
  Installation embedded = LayOut(root, "e", sample, "sqlite:../../files/p.db");
  Installation odbc = LayOut(root, "o", sample, "PLiteRun");
  for (const char* f : {"VQDNL17P", "IDSTAMM"}) {
    const std::string args = std::string(f) + " TERM12 out.dnl 1";
    std::string msg_arrays, msg_one, msg_e;
    EXPECT_EQ(RunTool(odbc, env, args, &msg_arrays), 1) << args << "\n" << msg_arrays;
    const std::string file_arrays = test::ReadFile(odbc.work() + "/out.dnl");
    EXPECT_EQ(RunTool(odbc, env + " PLOMVARDE_PARAM_ARRAYS=0", args, &msg_one), 1) << args;
    const std::string file_one = test::ReadFile(odbc.work() + "/out.dnl");
    EXPECT_EQ(RunTool(embedded, "", args, &msg_e), 1) << args;
    EXPECT_EQ(msg_arrays, msg_one) << args;
    EXPECT_EQ(file_arrays, file_one) << args;
    EXPECT_EQ(file_arrays, test::ReadFile(embedded.work() + "/out.dnl")) << args;
    size_t refusals = 0;
    for (size_t at = 0; (at = msg_one.find("Insert-Error", at)) != std::string::npos; ++at) {
      ++refusals;
    }
    EXPECT_EQ(refusals, 4u) << msg_one;
    EXPECT_NE(msg_one.find("10006999"), std::string::npos) << msg_one;
    // The embedded database says the same, up to the backend's error number.
    auto without_numbers = [](std::string s) {
      for (size_t at = 0; (at = s.find("ErrNr: ", at)) != std::string::npos;) {
        size_t end = s.find('U', at);
        s.erase(at + 7, end - at - 7);
        ++at;
      }
      return s;
    };
    EXPECT_EQ(without_numbers(msg_e), without_numbers(msg_one)) << args;
  }
  std::filesystem::remove_all(root);
}

TEST(OdbcWholeRun, ConnectThroughFreeTdsToNothingTouchesNothing) {
  const std::string root = test::TempDir();
  Installation in = LayOut(root, "f", "", "127.0.0.1,1");
  const std::string file = in.work() + "/out.dnl";
  test::WriteFile(file, "previous content\r\n");
  std::string msg;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunTool(in, "", "VQDNL17P TERM12 out.dnl 1", &msg), 69) << msg;
  EXPECT_LE(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count(),
      15);
  EXPECT_NE(msg.find("DB-Connect-Error"), std::string::npos) << msg;
  EXPECT_NE(msg.find("Net:127.0.0.1,1"), std::string::npos) << msg;
  EXPECT_EQ(msg.find("Geheim77"), std::string::npos) << msg;
  EXPECT_EQ(test::ReadFile(file), "previous content\r\n");
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace plom

#endif  // PLOM_HAVE_ODBC
