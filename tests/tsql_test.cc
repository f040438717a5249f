#include "db/tsql.h"

#include <gtest/gtest.h>

#include "db/key_locks.h"
#include "installation/statements.h"

namespace plom {
namespace {

struct Case {
  const char* tsql;
  const char* sqlite;
};

TEST(TsqlTranslate, Constructs) {
  const Case cases[] = {
      {"SELECT a FROM t WHERE x = @p1 AND y <= @p2", "SELECT a FROM t WHERE x = ?1 AND y <= ?2"},
      {"FROM  ZrSystem.Zrt301Asw, ZRSystem.Zrt999Tmp ",
       "FROM  \"ZrSystem.Zrt301Asw\", \"ZRSystem.Zrt999Tmp\" "},
      {"FROM Zrt320Tgb WHERE", "FROM Zrt320Tgb WHERE"},
      {"CONVERT(char(8),AswGvo,112)", "strftime('%Y%m%d', AswGvo)"},
      {"CONVERT(char(8), BzuGvo,112)", "strftime('%Y%m%d',  BzuGvo)"},
      {"CURRENT_TIMESTAMP >= AswGvo", "datetime('now','localtime') >= AswGvo"},
      {"(CURRENT_TIMESTAMP-1)", "(datetime('now','localtime','-1 days'))"},
      {"CURRENT_TIMESTAMP - 2", "datetime('now','localtime','-2 days')"},
      {"CURRENT_TIMESTAMP>= ZuoGvo", "datetime('now','localtime')>= ZuoGvo"},
      {"TGBDTM = CONVERT(datetime, (CONVERT(char(8),(CURRENT_TIMESTAMP-1),112)),112)",
       "TGBDTM = strftime('%Y-%m-%d 00:00:00', (datetime('now','localtime','-1 days')))"},
      {"UtgDtm <= CONVERT(datetime,CONVERT(char(8),CURRENT_TIMESTAMP,112),112)",
       "UtgDtm <= strftime('%Y-%m-%d 00:00:00', datetime('now','localtime'))"},
      {"CONVERT(datetime, x, 112)",
       "(SELECT substr(d,1,4)||'-'||substr(d,5,2)||'-'||substr(d,7,2)||' 00:00:00' FROM (SELECT "
       "( x) AS d))"},
      {"URVJHR = DATEPART(year, CURRENT_TIMESTAMP)",
       "URVJHR = CAST(strftime('%Y',  datetime('now','localtime')) AS INTEGER)"},
      {"COALESCE(UtgVtg, 0.0)", "COALESCE(UtgVtg, 0.0)"},
      {"/* ZLS_ZLES_C 2 nohold */ SELECT 1", "/* ZLS_ZLES_C 2 nohold */ SELECT 1"},
      // Literals and quoted names pass untouched.
      {"WHERE a = 'x.y @p1 CURRENT_TIMESTAMP'", "WHERE a = 'x.y @p1 CURRENT_TIMESTAMP'"},
      {"WHERE a = 'it''s' AND b = @p1", "WHERE a = 'it''s' AND b = ?1"},
      {"FROM \"M01.Zrt408Bzu\"", "FROM \"M01.Zrt408Bzu\""},
      {"  BEGIN TRANSACTION Tmp_PKeyIns_Sp ", "BEGIN IMMEDIATE"},
      {"  COMMIT TRANSACTION ", "COMMIT"},
      {"  ROLLBACK TRANSACTION Tmp_UsrDel_Sp ", "ROLLBACK"},
      {"SAVE TRANSACTION Line_Sp", "SAVEPOINT Line_Sp"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TranslateForSqlite(c.tsql), c.sqlite) << c.tsql;
  }
}

TEST(TsqlTranslate, OdbcMarkers) {
  std::vector<int> order;
  EXPECT_EQ(ToOdbcMarkers("WHERE a = @p2 AND b = @p1 AND c = '@p1'", &order),
            "WHERE a = ? AND b = ? AND c = '@p1'");
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
  EXPECT_EQ(ToOdbcMarkers("-- @p1\nWHERE a = @p12 /* @p3 */", &order),
            "-- @p1\nWHERE a = ? /* @p3 */");
  EXPECT_EQ(order, (std::vector<int>{12}));
  EXPECT_EQ(ToOdbcMarkers("x@p1"), "x@p1");  // part of a name, not a parameter
}

// Nested conversions: the translation grows by a bounded amount per level,
// not by a factor.
TEST(TsqlTranslate, NestedConversionsGrowLinearly) {
  std::string text = "x";
  size_t last = TranslateForSqlite(text).size();
  size_t last_growth = 0;
  for (int level = 1; level <= 40; ++level) {
    text = "CONVERT(datetime, " + text + ", 112)";
    size_t size = TranslateForSqlite(text).size();
    size_t growth = size - last;
    if (level > 1) {
      EXPECT_EQ(growth, last_growth) << "level " << level;
    }
    last_growth = growth;
    last = size;
  }
  EXPECT_LT(last, 5000u);
}

TEST(TsqlTransactions, Parse) {
  using Kind = TransactionStatement::Kind;
  const struct {
    const char* text;
    bool ok;
    Kind kind;
    const char* name;
  } cases[] = {
      {"  BEGIN TRANSACTION Tmp_PKeyIns_Sp ", true, Kind::kBegin, "Tmp_PKeyIns_Sp"},
      {"  COMMIT TRANSACTION ", true, Kind::kCommit, ""},
      {"rollback tran x", true, Kind::kRollback, "x"},
      {"SAVE TRANSACTION Tmp_PKeyIns_Sv", true, Kind::kSave, "Tmp_PKeyIns_Sv"},
      {"SAVE TRANSACTION", false, Kind::kBegin, ""},
      {"BEGIN", false, Kind::kBegin, ""},
      {"COMMIT TRANSACTION a b", false, Kind::kBegin, ""},
      {"SELECT TRANSACTION", false, Kind::kBegin, ""},
      {"BEGIN WORK", false, Kind::kBegin, ""},
  };
  for (const auto& c : cases) {
    auto t = ParseTransaction(c.text);
    ASSERT_EQ(t.has_value(), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(t->kind, c.kind) << c.text;
    EXPECT_EQ(t->name, c.name) << c.text;
  }
}

TEST(TsqlMarkers, NumbersAndPositions) {
  auto m = FindMarkers("a = ?12 AND b = ? AND c = '?'", '?');
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].number, 12);
  EXPECT_EQ(m[0].begin, 4u);
  EXPECT_EQ(m[0].end, 7u);
  EXPECT_EQ(m[1].number, 2);  // a bare "?" counts by its position
  EXPECT_EQ(m[1].begin, 16u);
  EXPECT_TRUE(FindMarkers("name@p1 \"@p2\" --@p3", '@').empty());
}

// The lock statement is known by the procedure's name as a word of its
// own, in any case; a longer word or a name inside another word is not it.
TEST(AppLockText, KnownByTheProcedureWord) {
  const struct {
    const char* text;
    bool lock;
  } cases[] = {
      {stmt::kLockLineStore.text, true},
      {"EXEC SP_GETAPPLOCK @Resource = @p1", true},
      {"sp_getapplock", true},
      {"\tsp_getapplock\n@x", true},
      {"SELECT sp_getapplocks FROM t", false},
      {"EXEC xsp_getapplock", false},
      {"EXEC sp_getapp lock", false},
      {"", false},
      {"   ", false},
      {stmt::kInsertLine.text, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsAppLockText(c.text), c.lock) << c.text;
}

}  // namespace
}  // namespace plom
