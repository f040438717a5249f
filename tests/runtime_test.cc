// The runtime on the embedded backend: connect, sqlcodes, cursors,
// transactions, text conversion; and the line store on top of it.
#include "db/runtime.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <random>

#include "db/codepage.h"
#include "db/sqlite_backend.h"
#include "db/sqlite_collation.h"
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
  EXPECT_EQ(Utf8ToCp1252("a\xE2\x88\x9E"
                         "b"),
            "a?b");                                  // infinity sign
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");            // cut sequence
  EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80"), "?");  // emoji
  EXPECT_EQ(Utf16ToCp1252(u"\U0001F600x"), "?x");
}

// Well-formed UTF-8 only: every byte of a broken sequence becomes "?".
TEST(Codepage, InvalidUtf8IsRejected) {
  const struct {
    const char* utf8;
    const char* cp1252;
  } cases[] = {
      {"\xC0\x8A", "??"},            // overlong line feed
      {"\xC1\xBF", "??"},            // overlong DEL
      {"\xE0\x80\x8A", "???"},       // overlong, three bytes
      {"\xF0\x80\x82\xAC", "????"},  // overlong euro sign
      {"\xED\xA0\x80", "???"},       // a surrogate
      {"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
      {"\x80x", "?x"},               // stray continuation
      {"\xE2\x82x", "??x"},          // cut short
      {"\xC2\x81", "\x81"},          // U+0081: a byte Windows-1252 leaves undefined
      {"\xC2\x80", "?"},             // U+0080: its byte is the euro sign's
      {"\xE2\x82\xAC", "\x80"},      // the euro sign
      {"\xF0\x90\x80\x80", "?"},     // U+10000, well-formed, not in Windows-1252
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
}

// Beyond the 32-bit range a value saturates instead of wrapping (or, for
// a real, being undefined).
TEST(Value, IntSaturates) {
  auto real = [](double d) {
    Value v;
    v.type = Value::Type::kReal;
    v.r = d;
    return v;
  };
  auto integer = [](int64_t i) {
    Value v;
    v.type = Value::Type::kInt;
    v.i = i;
    return v;
  };
  auto text = [](const char* t) {
    Value v;
    v.type = Value::Type::kText;
    v.s = t;
    return v;
  };
  EXPECT_EQ(real(1e12).Int(), INT32_MAX);
  EXPECT_EQ(real(-1e12).Int(), INT32_MIN);
  EXPECT_EQ(real(2147483647.9).Int(), INT32_MAX);
  EXPECT_EQ(real(-2147483648.0).Int(), INT32_MIN);
  EXPECT_EQ(real(-12.7).Int(), -12);
  EXPECT_EQ(real(std::nan("")).Int(), 0);
  EXPECT_EQ(real(1.0 / 0.0).Int(), INT32_MAX);
  EXPECT_EQ(integer(2147483648LL).Int(), INT32_MAX);
  EXPECT_EQ(integer(-2147483649LL).Int(), INT32_MIN);
  EXPECT_EQ(integer(-5).Int(), -5);
  EXPECT_EQ(text("99999999999").Int(), INT32_MAX);
  EXPECT_EQ(text("-99999999999").Int(), INT32_MIN);
  EXPECT_EQ(text("42x").Int(), 42);
}

TEST(TransportOptions, SecondsFromTheEnvironment) {
  EXPECT_EQ(SecondsFrom(nullptr, 600), 600);
  EXPECT_EQ(SecondsFrom("", 600), 600);
  EXPECT_EQ(SecondsFrom("30", 600), 30);
  EXPECT_EQ(SecondsFrom("0", 120), 0);
  EXPECT_EQ(SecondsFrom("86400", 120), 86400);
  EXPECT_EQ(SecondsFrom("86401", 120), 120);
  EXPECT_EQ(SecondsFrom("-1", 120), 120);
  EXPECT_EQ(SecondsFrom("5s", 120), 120);
  EXPECT_EQ(SecondsFrom("99999999999999999999", 120), 120);
  setenv("PLOMVARDE_QUERY_TIMEOUT", "7", 1);
  setenv("PLOMVARDE_LOCK_TIMEOUT", "x", 1);
  setenv("PLOMVARDE_PARAM_ARRAYS", "0", 1);
  TransportOptions o = TransportOptions::FromEnvironment();
  unsetenv("PLOMVARDE_QUERY_TIMEOUT");
  unsetenv("PLOMVARDE_LOCK_TIMEOUT");
  unsetenv("PLOMVARDE_PARAM_ARRAYS");
  EXPECT_EQ(o.query_timeout_s, 7);
  EXPECT_EQ(o.lock_timeout_s, 120);
  EXPECT_FALSE(o.param_arrays);
  TransportOptions d = TransportOptions::FromEnvironment();
  EXPECT_EQ(d.query_timeout_s, 600);
  EXPECT_TRUE(d.param_arrays);
}

// A zero-byte file is not a database: refused, and left as it was.
TEST(Connect, EmptyFileIsNoDatabase) {
  std::string dir = test::TempDir();
  test::WriteFile(dir + "/empty.db", "");
  Connection c;
  EXPECT_LT(ConnectDatabase(&c, "sa", "pw", "sqlite:" + dir + "/empty.db", "ZrSystem"), 0);
  EXPECT_FALSE(c.connected());
  EXPECT_NE(c.last_error().find("empty file"), std::string::npos) << c.last_error();
  EXPECT_EQ(test::ReadFile(dir + "/empty.db"), "");
  EXPECT_FALSE(std::filesystem::exists(dir + "/empty.db-wal"));
}

// Integers wider than 32 bits fail the statement on the embedded database,
// as they overflow SQL Server's int.
TEST(Runtime, IntegerBeyond32BitsIsAnOverflowError) {
  TestDb db;
  auto c = db.Connect();
  Row r;
  EXPECT_EQ(c->Execute(1, "SELECT 2147483647, -2147483648", {}, &r), 0);
  EXPECT_EQ(r[0].Int(), INT32_MAX);
  EXPECT_EQ(c->Execute(2, "SELECT 1, 2147483647 + 1", {}, &r), kSqlIntOverflow);
  EXPECT_NE(c->last_error().find("2147483648"), std::string::npos) << c->last_error();
  EXPECT_NE(c->last_error().find("32-bit"), std::string::npos);
  EXPECT_EQ(c->Open(3, "SELECT -2147483649", {}), kSqlIntOverflow);
  EXPECT_EQ(c->Fetch(3, &r), -2);  // no cursor with a part of the rows
}

// A statement blocked by another process's write lock waits as long as
// PLOMVARDE_LOCK_TIMEOUT says, then fails.
TEST(Runtime, LockWaitIsBounded) {
  TestDb db;
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db.path().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  TransportOptions o;
  o.lock_timeout_s = 1;
  int code = 0;
  std::string err;
  Connection c(SqliteBackend::Open(db.path(), o, &code, &err));
  ASSERT_TRUE(c.connected()) << err;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(c.Transaction(41, "  BEGIN TRANSACTION Tmp_PKeyIns_Sp "), -SQLITE_BUSY);
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 5.0);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
}

// A backend whose answers the test sets: how the connection reads them.
class ScriptedBackend : public Backend {
 public:
  Result Run(int, std::string_view text, const Params& params, size_t) override {
    ++round_trips_;
    texts.emplace_back(text);
    Result r = next;
    if (!params.empty() && params[0].text == "fail") r = Result{-7, {}, 0, false, "refused"};
    return r;
  }
  Result next;
  std::vector<std::string> texts;
};

TEST(Runtime, UnknownRowCountIsNoNotFound) {
  auto owned = std::make_unique<ScriptedBackend>();
  ScriptedBackend* b = owned.get();
  Connection c(std::move(owned));
  b->next.changes = -1;  // NOCOUNT: the server sent no count
  EXPECT_EQ(c.Execute(1, "INSERT", {}), 0);
  b->next.changes = 0;
  EXPECT_EQ(c.Execute(1, "DELETE", {}), 100);
  b->next.changes = 3;
  EXPECT_EQ(c.Execute(1, "DELETE", {}), 0);
}

// Without parameter arrays a backend runs the rows one by one; results
// come back per row, in order, the first failure returned.
TEST(Runtime, ExecuteManyRowByRowReportsEachRow) {
  auto owned = std::make_unique<ScriptedBackend>();
  ScriptedBackend* b = owned.get();
  Connection c(std::move(owned));
  b->next.changes = 1;
  std::vector<Params> rows = {
      {Param::Text("a")}, {Param::Text("fail")}, {Param::Text("b")}, {Param::Text("fail")}};
  std::vector<Status> codes;
  EXPECT_EQ(c.ExecuteMany(42, "INSERT", rows, &codes), -7);
  ASSERT_EQ(codes.size(), 4u);
  for (size_t i : {0, 2}) EXPECT_TRUE(codes[i].ok()) << i;
  for (size_t i : {1, 3}) EXPECT_EQ(codes[i].sqlcode(), -7) << i;
  EXPECT_EQ(codes[1].reason(), "refused");
  EXPECT_EQ(c.round_trips(), 4);
  EXPECT_EQ(c.statements_sent(), 4);
  EXPECT_EQ(c.ExecuteMany(42, "INSERT", {}, &codes), 0);
  EXPECT_TRUE(codes.empty());
}

// Lines come back in the order of their Windows-1252 bytes, as from SQL
// Server's binary collation: the euro sign (0x80) before "ä" (0xE4).
TEST(LineStore, SortsByWindows1252Bytes) {
  TestDb db;
  auto c = db.Connect();
  ASSERT_EQ(StoreLines(*c, "p", {"\xE4", "Z", "\x80", "a", "\x80 ", "\xE4\x80"},
                       StoreMode::kGroups)
                .stored,
            6);
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadLines(*c, "p", &lines).ok()) << c->last_error();
  EXPECT_EQ(lines, (std::vector<std::string>{"Z", "a", "\x80", "\x80", "\xE4", "\xE4\x80"}));
}

TEST(LineStore, CollationComparesWindows1252BytesWithoutTrailingBlanks) {
  auto cmp = [](const std::string& a, const std::string& b) {
    std::string x = Cp1252ToUtf8(a), y = Cp1252ToUtf8(b);
    return CompareCp1252(static_cast<int>(x.size()), x.data(), static_cast<int>(y.size()),
                         y.data());
  };
  EXPECT_LT(cmp("Z", "\x80"), 0);
  EXPECT_LT(cmp("\x80", "\xE4"), 0);
  EXPECT_GT(cmp("\xE4", "\x80"), 0);
  EXPECT_LT(cmp("\x9F", "\xA0"), 0);  // Ÿ before the no-break space
  EXPECT_EQ(cmp("ab  ", "ab"), 0);
  EXPECT_LT(cmp("ab", "ab\t"), 0);
  EXPECT_LT(cmp("a", "b"), 0);
  EXPECT_EQ(cmp("", "   "), 0);
}

// The collation compares without converting the texts; it must order them
// exactly as converting both and comparing the bytes does, for any bytes:
// pairs that part inside a character, broken sequences, trailing blanks.
TEST(LineStore, CollationOrdersAsTheConvertedBytes) {
  const char* const pieces[] = {"a",
                                "Z",
                                " ",
                                "\t",
                                "?",
                                "\x7F",
                                "\xC3\xA4",
                                "\xC3\xA5",
                                "\xC3\x84",
                                "\xC2\x80",
                                "\xC2\x81",
                                "\xE2\x82\xAC",
                                "\xE2\x80\x9A",
                                "\xC5\xB8",
                                "\xC2\xA0",
                                "\xE2\x88\x9E",
                                "\xF0\x9F\x98\x80",
                                "\x80",
                                "\xBF",
                                "\xC3",
                                "\xE2\x82",
                                "\xC0\x8A",
                                "\xED\xA0\x80",
                                "\xF4\x90\x80\x80",
                                "\xFF"};
  std::mt19937 rng(20261210);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  auto text = [&] {
    std::string s;
    for (size_t n = pick(8); n > 0; --n) s += pieces[pick(std::size(pieces))];
    return s;
  };
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  auto expected = [&](std::string x, std::string y) {
    while (!x.empty() && x.back() == ' ') x.pop_back();
    while (!y.empty() && y.back() == ' ') y.pop_back();
    return sign(Utf8ToCp1252(x).compare(Utf8ToCp1252(y)));
  };
  auto compare = [&](const std::string& x, const std::string& y) {
    return sign(
        CompareCp1252(static_cast<int>(x.size()), x.data(), static_cast<int>(y.size()), y.data()));
  };
  int checked = 0;
  for (int n = 0; n < 100000; ++n) {
    std::string x = text(), y;
    switch (pick(4)) {
      case 0:  // unrelated
        y = text();
        break;
      case 1:  // one byte changed
        y = x;
        if (!y.empty()) y[pick(y.size())] = static_cast<char>(rng());
        break;
      case 2:  // a piece put in somewhere, also inside a character
        y = x;
        y.insert(pick(y.size() + 1), pieces[pick(std::size(pieces))]);
        break;
      default:  // cut anywhere, blanks after it
        y = x.substr(0, pick(x.size() + 1)) + std::string(pick(3), ' ');
        break;
    }
    ASSERT_EQ(compare(x, y), expected(x, y))
        << testing::PrintToString(x) << " vs " << testing::PrintToString(y);
    ASSERT_EQ(compare(y, x), -expected(x, y));
    ++checked;
  }
  EXPECT_EQ(checked, 100000);
}

// A nested date conversion runs on SQLite and gives the date at midnight.
TEST(Runtime, NestedDateConversionRunsOnSqlite) {
  TestDb db;
  auto c = db.Connect();
  Row r;
  ASSERT_EQ(c->Execute(1, "SELECT CONVERT(datetime, CONVERT(datetime, '2026' + '1209', 112), 112)",
                       {}, &r),
            0)
      << c->last_error();
  ASSERT_EQ(c->Execute(2, "SELECT CONVERT(datetime, @p1, 112)", {Param::Text("20261209")}, &r), 0)
      << c->last_error();
  EXPECT_EQ(r[0].Text(), "2026-12-09 00:00:00");
}

TEST(Connect, EmbeddedFailures) {
  std::string dir = test::TempDir();
  test::WriteFile(dir + "/junk.db", std::string(4096, 'x'));
  const char* servers[] = {"", "sqlite:", "sqlite:/nonexistent/dir/x.db",
                           "sqlite:/tmp/plom-missing.db", nullptr};
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
  EXPECT_EQ(StoreLines(*c, "c", {"x"}, StoreMode::kGroups).stored, 1);
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
  db.Exec(
      "INSERT INTO \"ZrSystem.Zrt113Sto\" VALUES ('1', 'Halle S\xC3\xBC"
      "d'), ('2', NULL);");
  auto c = db.Connect();
  Row r;
  ASSERT_EQ(c->Execute(1, "SELECT StoKtx FROM ZrSystem.Zrt113Sto WHERE StoKtx = @p1",
                       {Param::Text("Halle S\xFC"
                                    "d")},
                       &r),
            0);
  EXPECT_EQ(r[0].Text(),
            "Halle S\xFC"
            "d");
  ASSERT_EQ(c->Execute(2, "SELECT StoKtx FROM ZrSystem.Zrt113Sto WHERE StoNum = '2'", {}, &r), 0);
  EXPECT_TRUE(r[0].IsNull());
  EXPECT_EQ(r[0].Text(), "");
  // Trailing blanks do not count in comparisons.
  EXPECT_EQ(c->Execute(3, "SELECT StoNum FROM ZrSystem.Zrt113Sto WHERE StoNum = @p1",
                       {Param::Text("1   ")}, &r),
            0);
}

TEST(Runtime, StatementsAreCountedAndPreparedOnce) {
  TestDb db;
  auto c = db.Connect();
  int64_t before = c->statements_sent();
  const std::vector<std::string> three = {"line0", "line1", "line2"};
  EXPECT_EQ(StoreLines(*c, "p", three, StoreMode::kOneByOne).stored, 3);
  EXPECT_EQ(c->statements_sent() - before, 9);  // begin, insert, commit each
  before = c->statements_sent();
  EXPECT_EQ(StoreLines(*c, "q", three, StoreMode::kGroups).stored, 3);
  EXPECT_EQ(c->statements_sent() - before, 5);  // begin, an insert each, commit
  Row r;
  c->Execute(7, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1", {Param::Text("p")},
             &r);
  EXPECT_EQ(r[0].Int(), 3);
  // The same number with another text is prepared anew.
  c->Execute(7, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp WHERE TmpUsr <> @p1", {Param::Text("p")},
             &r);
  EXPECT_EQ(r[0].Int(), 3);  // the lines of "q"
}

TEST(LineStore, StoresTrimsAndSorts) {
  TestDb db;
  auto c = db.Connect();
  EXPECT_TRUE(DeleteLines(*c, "a.dnl").ok());  // none there
  // Beyond the column width: refused, nothing sent. The same line twice
  // is kept twice.
  StoreReport r = StoreLines(
      *c, "a.dnl", {"B  ", "A \t", "   ", "C\n", "B  ", std::string(513, 'x'), std::string(512, 'y')},
      StoreMode::kGroups);
  EXPECT_EQ(r.stored, 6);
  ASSERT_EQ(r.refused.size(), 1u);
  EXPECT_EQ(r.refused[0].seq, 5);
  EXPECT_EQ(r.refused[0].sqlcode, kSqlTooLong);
  EXPECT_TRUE(StoreLines(*c, std::string(101, 'p'), {"x"}, StoreMode::kGroups).failure.failed());
  EXPECT_EQ(StoreLines(*c, "b.dnl", {"other"}, StoreMode::kGroups).stored, 1);

  std::vector<std::string> got;
  ASSERT_TRUE(ReadLines(*c, "a.dnl", &got).ok());
  std::vector<std::string> want = {"", "A", "B", "B", "C\n", std::string(512, 'y')};
  EXPECT_EQ(got, want);

  EXPECT_TRUE(DeleteLines(*c, "a.dnl").ok());
  ASSERT_TRUE(ReadLines(*c, "a.dnl", &got).ok());
  EXPECT_TRUE(got.empty());
  ASSERT_TRUE(ReadLines(*c, "b.dnl", &got).ok());
  EXPECT_EQ(got, std::vector<std::string>{"other"});
}

// A refused insert is undone alone, in a group and one by one; the lines
// before and after it stay, and each refusal carries its line's number.
TEST(LineStore, RefusedInsertIsUndoneAlone) {
  for (StoreMode mode : {StoreMode::kGroups, StoreMode::kOneByOne}) {
    TestDb db;
    db.Exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON \"ZrSystem.Zrt999Tmp\" WHEN NEW.TmpStr = 'bad' "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    auto c = db.Connect();
    StoreReport r = StoreLines(*c, "p", {"one", "bad", "two", "bad", "three"}, mode);
    EXPECT_FALSE(r.failure.failed());
    ASSERT_EQ(r.refused.size(), 2u);
    EXPECT_EQ(r.refused[0].seq, 1);
    EXPECT_EQ(r.refused[1].seq, 3);
    EXPECT_NE(r.refused[0].reason.find("refused"), std::string::npos);
    std::vector<std::string> got;
    ASSERT_TRUE(ReadLines(*c, "p", &got).ok());
    EXPECT_EQ(got, (std::vector<std::string>{"one", "three", "two"}));
  }
}

// The lock of a path's line store: sessions on one database exclude each
// other until the holder's connection ends; paths and databases are apart.
TEST(LineStore, LockBetweenSessions) {
  TestDb db, other_db;
  auto c = db.Connect();
  auto d = db.Connect();
  ASSERT_EQ(LockLineStore(*c, "dl.dnl", 0), 0);
  EXPECT_EQ(LockLineStore(*c, "dl.dnl", 0), 0);
  EXPECT_EQ(LockLineStore(*d, "dl.dnl", 100), kSqlLineStoreLocked);
  // The key as the database compares it: case and trailing blanks do not count.
  EXPECT_EQ(LockLineStore(*d, "DL.dnl  ", 0), kSqlLineStoreLocked);
  EXPECT_EQ(LockLineStore(*d, "other.dnl", 0), 0);
  EXPECT_EQ(LockLineStore(*other_db.Connect(), "dl.dnl", 0), 0);
  c.reset();
  EXPECT_EQ(LockLineStore(*d, "dl.dnl", 0), 0);
}

// The lines of a path as another session counts them.
int CountLines(Connection& c, const std::string& path) {
  Row n;
  EXPECT_EQ(c.Execute(1, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1",
                      {Param::Text(path)}, &n),
            0)
      << c.last_error();
  return n.empty() ? -1 : n[0].Int();
}

// Shared reads: SELECTs share one read transaction, so they may miss
// another session's newest commit for a while, but never longer than
// kReadsPerSnapshot SELECTs, and never once reads are no longer shared.
TEST(Runtime, SharedReadsSeeOtherCommitsAfterAFewStatements) {
  TestDb db;
  auto reader = db.Connect();
  auto writer = db.Connect();
  auto plain = db.Connect();
  reader->ShareReads(true);
  ASSERT_EQ(CountLines(*reader, "p"), 0);
  ASSERT_EQ(StoreLines(*writer, "p", {"a"}, StoreMode::kGroups).stored, 1);
  EXPECT_EQ(CountLines(*plain, "p"), 1);   // not shared: the newest data
  EXPECT_EQ(CountLines(*reader, "p"), 0);  // the shared read transaction
  int reads = 1;
  while (CountLines(*reader, "p") == 0 && reads <= SqliteBackend::kReadsPerSnapshot) ++reads;
  EXPECT_LE(reads, SqliteBackend::kReadsPerSnapshot);
  EXPECT_EQ(CountLines(*reader, "p"), 1);

  ASSERT_EQ(StoreLines(*writer, "p", {"b"}, StoreMode::kGroups).stored, 1);
  EXPECT_EQ(CountLines(*reader, "p"), 1);
  reader->ShareReads(false);
  EXPECT_EQ(CountLines(*reader, "p"), 2);
}

// A session whose reads are shared writes from the newest data: its
// transaction does not start on the shared read transaction (which another
// session's commit has made old, so SQLite would refuse every write), and
// it reads its own commit at once.
TEST(Runtime, SharedReadsNeverWriteFromAnOldSnapshot) {
  TestDb db;
  auto c = db.Connect();
  auto other = db.Connect();
  c->ShareReads(true);
  ASSERT_EQ(CountLines(*c, "p"), 0);
  ASSERT_EQ(StoreLines(*other, "p", {"1"}, StoreMode::kGroups).stored, 1);
  EXPECT_TRUE(DeleteLines(*c, "p").ok()) << c->last_error();
  EXPECT_EQ(CountLines(*c, "p"), 0);
  ASSERT_EQ(StoreLines(*other, "p", {"2"}, StoreMode::kGroups).stored, 1);
  EXPECT_EQ(CountLines(*c, "p"), 0);
  EXPECT_EQ(StoreLines(*c, "p", {"3", "4"}, StoreMode::kGroups).stored, 2) << c->last_error();
  std::vector<std::string> lines;
  EXPECT_TRUE(ReadLines(*c, "p", &lines).ok());
  EXPECT_EQ(lines, (std::vector<std::string>{"2", "3", "4"}));
}

// Lines of a group larger than one transaction all arrive, and what was
// stored is committed for another connection to see.
TEST(LineStore, GroupsSpanManyTransactions) {
  TestDb db;
  auto c = db.Connect();
  std::vector<std::string> lines;
  for (int i = 0; i < kLinesPerGroup * 2 + 5; ++i) lines.push_back(std::to_string(i));
  EXPECT_EQ(StoreLines(*c, "p", lines, StoreMode::kGroups).stored, kLinesPerGroup * 2 + 5);
  auto other = db.Connect();
  Row n;
  other->Execute(1, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1",
                 {Param::Text("p")}, &n);
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
