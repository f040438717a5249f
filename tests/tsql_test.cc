#include "db/tsql.h"

#include <gtest/gtest.h>

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
       "(substr(( x),1,4)||'-'||substr(( x),5,2)||'-'||substr(( x),7,2)||' 00:00:00')"},
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
  std::string order;
  EXPECT_EQ(ToOdbcMarkers("WHERE a = @p2 AND b = @p1 AND c = '@p1'", &order),
            "WHERE a = ? AND b = ? AND c = '@p1'");
  EXPECT_EQ(order, "2,1,");
  EXPECT_EQ(ToOdbcMarkers("x@p1"), "x@p1");  // part of a name, not a parameter
}

}  // namespace
}  // namespace plom
