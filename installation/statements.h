// Every statement the tool sends, in one table: its number, its kind and its
// exact SQL Server text. The query modules take their texts from here; the
// embedded backend translates the few T-SQL constructs at its edge.
//
// A statement's number keys its cursor or prepared statement in the
// Connection: two statements with one number would close or replace each
// other. NumbersUnique() holds that rule and a static_assert applies it to
// kStatements. Transaction control texts (begin, save, commit, rollback)
// share the number of the group they belong to and open nothing.
//
// Per-client statements are format texts: their one %s takes the qualified
// per-client table list (schema + table), built with BuildStatement from a
// schema that IsValidSchemaName accepted.
#pragma once

#include <cstddef>
#include <span>

namespace plom {

enum class StatementKind {
  kCursor,       // opened, fetched row by row, closed
  kRow,          // one row (or a count) read by Execute
  kClientRow,    // one row; format text over the per-client tables
  kChange,       // insert or delete
  kTransaction,  // transaction control; opens no cursor
  kBulk,         // a client schema's answers of one lookup, read through once;
                 // each %s takes the same qualified per-client table
};

struct Statement {
  int no;
  StatementKind kind;
  const char* text;
};

namespace stmt {

// Central schema: badges, readers and terminals.
inline constexpr Statement kBadgeCursor = {
    1, StatementKind::kCursor,
    "/* ASW_VQDNL_C 1 nohold */ SELECT AswNum, CONVERT(char(8),AswGvo,112), "
    "CONVERT(char(8),AswGbi,112), AswPnr, AswBkl, AswGrp, AswAan, AswAtp, AwvSto FROM  "
    "ZrSystem.Zrt301Asw, ZrSystem.Zrt112Mnd, ZrSystem.Zrt113Awv WHERE MNDSCH = @p1     "
    "AND ASWLIZ = MNDLIZ AND ASWMND = MNDNUM AND ASWNUM = AWVNUM AND ((CURRENT_TIMESTAMP >= "
    "AswGvo AND AswGbi IS    null    ) OR (CURRENT_TIMESTAMP <= AswGbi AND AswGvo IS    "
    "null    ) OR (CURRENT_TIMESTAMP >= AswGvo AND CURRENT_TIMESTAMP <= AswGbi)) ORDER BY "
    "AswNum, AswGvo, AswBkl "};
inline constexpr Statement kReaderCursor = {
    2, StatementKind::kCursor,
    "/* ZLS_ZLES_C 2 nohold */ SELECT ZlsLes, ZlsZko FROM  ZrSystem.Zrt401Zls WHERE "
    "ZlsTrm = @p1      AND ZlsLes <= @p2      ORDER BY ZlsLes "};
inline constexpr Statement kCountPermissions = {
    3, StatementKind::kRow,
    "  SELECT COUNT(*) FROM ZrSystem.Zrt404Zbr WHERE ZbrZbk = @p1     AND ZbrZko = @p2      "};
inline constexpr Statement kCountTimeBlocks = {
    4, StatementKind::kRow,
    "  SELECT COUNT(*) FROM ZrSystem.Zrt404Zbr WHERE ZbrZbk = @p1     AND ZbrZko = @p2     "
    "AND ZbrZtb = 3  "};
inline constexpr Statement kTerminalType = {
    5, StatementKind::kRow, "  SELECT TSMTYP FROM ZrSystem.Zrt114Tsm WHERE TsmNam = @p1       "};
inline constexpr Statement kLocationText = {
    12, StatementKind::kRow,
    "  SELECT StoKtx FROM ZrSystem.Zrt113Sto, ZrSystem.Zrt113Awv WHERE AwvNum = @p1     "
    "AND StoNum = AwvSto  "};

// Per-client access rights: %s takes the FROM list, @p1 the key.
inline constexpr Statement kSelAwsGrp = {
    6, StatementKind::kClientRow,
    "SELECT  BzuZau,CONVERT(char(8), BzuGvo,112), CONVERT(char(8),BzuGbi,112),  BzuBkl  "
    "FROM  %s  WHERE BzuZau = @p1  AND(   (CURRENT_TIMESTAMP >= BzuGvo AND BzuGbi IS NULL)   "
    "OR (CURRENT_TIMESTAMP <= BzuGbi AND BzuGvo IS NULL)   OR (CURRENT_TIMESTAMP >= BzuGvo "
    "AND CURRENT_TIMESTAMP <= BzuGbi)) "};
inline constexpr Statement kSelKst = {
    7, StatementKind::kClientRow,
    " SELECT    ZuoKst, CONVERT(char(8),BzuGvo, 112), CONVERT(char(8),BzuGbi, 112),   "
    "BzuBkl  FROM  %s  WHERE ZuoPnr = @p1  AND   ZuoKst = BzuKst  AND(   "
    "(CURRENT_TIMESTAMP >= ZuoGvo AND ZuoGbi IS NULL)   OR (CURRENT_TIMESTAMP <= ZuoGbi AND "
    "ZuoGvo IS NULL)   OR (CURRENT_TIMESTAMP >= ZuoGvo AND CURRENT_TIMESTAMP <= ZuoGbi))  "
    "AND(   (CURRENT_TIMESTAMP >= BzuGvo AND BzuGbi IS NULL)   OR (CURRENT_TIMESTAMP <= "
    "BzuGbi AND BzuGvo IS NULL)   OR (CURRENT_TIMESTAMP >= BzuGvo AND CURRENT_TIMESTAMP <= "
    "BzuGbi))"};
inline constexpr Statement kSelKstGrp = {
    8, StatementKind::kClientRow,
    " SELECT   CONVERT(char(8),BzuGvo,112), CONVERT(char(8),BzuGbi, 112), BzuBkl  FROM  %s  "
    "WHERE ZuoPnr = @p1  AND   ZuoKst = KstNum  AND   KstVws = BzuVks  AND(   "
    "(CURRENT_TIMESTAMP >= ZuoGvo AND ZuoGbi IS NULL)   OR (CURRENT_TIMESTAMP <= ZuoGbi AND "
    "ZuoGvo IS NULL)   OR (CURRENT_TIMESTAMP >= ZuoGvo AND CURRENT_TIMESTAMP <= ZuoGbi))  "
    "AND(   (CURRENT_TIMESTAMP >= BzuGvo AND BzuGbi IS NULL)    OR (CURRENT_TIMESTAMP <= "
    "BzuGbi AND BzuGvo IS NULL)    OR (CURRENT_TIMESTAMP >= BzuGvo AND CURRENT_TIMESTAMP <= "
    "BzuGbi)) "};
inline constexpr Statement kSelAbt = {
    9, StatementKind::kClientRow,
    " SELECT   ZuoAbt, CONVERT(char(8),BzuGvo, 112), CONVERT(char(8),BzuGbi,112),   BzuBkl  "
    "FROM  %s  WHERE ZuoPnr = @p1  AND   ZuoAbt = BzuAbt  AND(   (CURRENT_TIMESTAMP>= "
    "ZuoGvo AND ZuoGbi IS NULL)   OR (CURRENT_TIMESTAMP <= ZuoGbi AND ZuoGvo IS NULL)   OR "
    "(CURRENT_TIMESTAMP >= ZuoGvo AND CURRENT_TIMESTAMP <= ZuoGbi))  AND(   "
    "(CURRENT_TIMESTAMP >= BzuGvo AND BzuGbi IS NULL)   OR (CURRENT_TIMESTAMP <= BzuGbi AND "
    "BzuGvo IS NULL)   OR (CURRENT_TIMESTAMP >= BzuGvo AND CURRENT_TIMESTAMP <= BzuGbi)) "};
inline constexpr Statement kSelAbtGrp = {
    10, StatementKind::kClientRow,
    " SELECT   CONVERT(char(8),BzuGvo, 112), CONVERT(char(8),BzuGbi, 112), BzuBkl  FROM  %s  "
    "WHERE ZuoPnr = @p1  AND   ZuoAbt = AblAbt  AND   AblVab = BzuVab  AND(   "
    "(CURRENT_TIMESTAMP >= ZuoGvo AND ZuoGbi IS NULL)   OR (CURRENT_TIMESTAMP <= ZuoGbi AND "
    "ZuoGvo IS NULL)   OR (CURRENT_TIMESTAMP >= ZuoGvo AND CURRENT_TIMESTAMP <= ZuoGbi))  "
    "AND(   (CURRENT_TIMESTAMP >= BzuGvo AND BzuGbi IS NULL)   OR (CURRENT_TIMESTAMP <= "
    "BzuGbi AND BzuGvo IS NULL)   OR (CURRENT_TIMESTAMP >= BzuGvo AND CURRENT_TIMESTAMP <= "
    "BzuGbi)) "};
inline constexpr Statement kSelAkr = {
    11, StatementKind::kClientRow,
    " SELECT   CONVERT(char(8),BzuGvo,112), CONVERT(char(8),BzuGbi, 112), BzuBkl  FROM  %s  "
    "WHERE BsvPnr = @p1   AND   BsvAkr = BzuAkr   AND(    (CURRENT_TIMESTAMP >= BsvGvo AND "
    "BsvGbi IS NULL)    OR (CURRENT_TIMESTAMP <= BsvGbi AND BsvGvo IS NULL)    OR "
    "(CURRENT_TIMESTAMP >= BsvGvo AND CURRENT_TIMESTAMP <= BsvGbi))   AND(    "
    "(CURRENT_TIMESTAMP >= BzuGvo AND BzuGbi IS NULL)    OR (CURRENT_TIMESTAMP <= BzuGbi AND "
    "BzuGvo IS NULL)    OR (CURRENT_TIMESTAMP >= BzuGvo AND CURRENT_TIMESTAMP <= BzuGbi)) "};

// Person, balances, labels and vacation. %s takes the qualified table name.
inline constexpr Statement kPerson = {13, StatementKind::kClientRow,
                                      " SELECT   PnrSpr, PnrSal   FROM  %s   WHERE PNRNUM = @p1 "};
inline constexpr Statement kBalances = {
    14, StatementKind::kRow,
    "  SELECT COALESCE(TGBVT1,0) + COALESCE(TGBSA1,0), COALESCE(TGBVT2,0) + COALESCE(TGBSA2,0), "
    "COALESCE(TGBVT3,0) + COALESCE(TGBSA3,0), COALESCE(TGBVT4,0) + COALESCE(TGBSA4,0), "
    "COALESCE(TGBVT5,0) + COALESCE(TGBSA5,0), COALESCE(TGBVT6,0) + COALESCE(TGBSA6,0), "
    "COALESCE(TGBVT7,0) + COALESCE(TGBSA7,0), COALESCE(TGBVT1,0) + COALESCE(TGBSA1,0) + "
    "COALESCE(TGBVT2,0) + COALESCE(TGBSA2,0) FROM Zrt320Tgb WHERE TGBPNR = @p1     AND "
    "TGBZTR = 1 AND TGBDTM = CONVERT(datetime, (CONVERT(char(8),(CURRENT_TIMESTAMP-1),112)),112) "
    " "};
inline constexpr Statement kLabelCursor = {
    15, StatementKind::kCursor,
    "/* Sal_DspTxt_C 15 nohold */ SELECT StxNum, StxTxt FROM  ZrSystem.O2001SALTEXTE WHERE "
    "StxNum > 300 AND StxNum < 309 ORDER BY StxNum "};
inline constexpr Statement kDayRecord = {
    39, StatementKind::kClientRow,
    " SELECT   UtgDtm, COALESCE(UtgVtg, 0.0),   COALESCE(UtgRtg, 0.0), COALESCE(UtgGut, 0.0)  "
    "FROM  %s  WHERE UTGPNR = @p1  AND UtgDtm <= "
    "CONVERT(datetime,CONVERT(char(8),CURRENT_TIMESTAMP,112),112)  ORDER BY UtgDtm DESC "};
inline constexpr Statement kYearAccount = {
    40, StatementKind::kClientRow,
    " SELECT  COALESCE(URVGUR, 0.0), COALESCE(URVVJR, 0.0)  FROM  %s  WHERE URVPNR = @p1  "
    "AND URVJHR = DATEPART(year, CURRENT_TIMESTAMP) "};

// The line store.
inline constexpr Statement kBeginInsert = {41, StatementKind::kTransaction,
                                           "  BEGIN TRANSACTION Tmp_PKeyIns_Sp "};
inline constexpr Statement kRollbackInsert = {41, StatementKind::kTransaction,
                                              "  ROLLBACK TRANSACTION Tmp_PKeyIns_Sp "};
inline constexpr Statement kInsertLine = {
    42, StatementKind::kChange,
    "  INSERT INTO ZrSystem.Zrt999Tmp ( TmpUsr, TmpStr ) VALUES ( @p1    , @p2     )  "};
inline constexpr Statement kBeginDelete = {43, StatementKind::kTransaction,
                                           "  BEGIN TRANSACTION Tmp_UsrDel_Sp "};
inline constexpr Statement kRollbackDelete = {43, StatementKind::kTransaction,
                                              "  ROLLBACK TRANSACTION Tmp_UsrDel_Sp "};
inline constexpr Statement kDeleteLines = {
    44, StatementKind::kChange, "  DELETE FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1      "};
inline constexpr Statement kLineCursor = {
    45, StatementKind::kCursor,
    "/* TMP_USRSTR_C 45 nohold */ SELECT TmpStr FROM  ZRSystem.Zrt999Tmp WHERE TmpUsr = @p1     "
    "ORDER BY TmpUsr, TmpStr "};
inline constexpr Statement kCommit = {0, StatementKind::kTransaction, "  COMMIT TRANSACTION "};
// The lines stored under a path: after a COMMIT that reported a failure,
// whether its lines went in (the run holds the path's lock, so nothing
// else changes the count).
inline constexpr Statement kCountLines = {
    50, StatementKind::kRow, "SELECT COUNT(*) FROM ZrSystem.Zrt999Tmp WHERE TmpUsr = @p1 "};
// The lock of a path's line store for the session: @p1 the resource, @p2
// the wait in milliseconds; the one result is sp_getapplock's return code.
// The row counts that the procedure may send under NOCOUNT OFF would come
// before it, so NOCOUNT is on around the call and off again (as the
// connection keeps it) before the SELECT. The embedded backend answers it
// with a lock file of its own.
inline constexpr Statement kLockLineStore = {
    51, StatementKind::kRow,
    "SET NOCOUNT ON; DECLARE @r int; EXEC @r = sp_getapplock @Resource = @p1, "
    "@LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = @p2; SET NOCOUNT OFF; "
    "SELECT @r "};
// Every path the line store holds lines of, with their number.
inline constexpr Statement kStoredPaths = {
    52, StatementKind::kCursor,
    "/* TMP_USRALL_C 52 nohold */ SELECT TmpUsr, COUNT(*) FROM ZrSystem.Zrt999Tmp "
    "GROUP BY TmpUsr ORDER BY TmpUsr "};

}  // namespace stmt

// The line store's INSERT of many lines at once (a batch stores a run's
// lines so): "  INSERT INTO ZrSystem.Zrt999Tmp ( TmpUsr, TmpStr ) VALUES
// ( @p1, @p2 ), ( @p1, @p3 ), ... ( @p1, @p101 )  ", the path as @p1 and
// kLinesPerInsert lines after it.
inline constexpr size_t kLinesPerInsert = 100;

namespace insert_many {

inline constexpr char kHead[] = "  INSERT INTO ZrSystem.Zrt999Tmp ( TmpUsr, TmpStr ) VALUES ";
inline constexpr char kTail[] = "  ";

// Writes (or, when counting, only counts) the bytes of the statement text.
// No pointer is compared with null: a sanitizing build does not take such a
// comparison for a constant expression.
struct Writer {
  char* out;
  bool counting;
  size_t n = 0;

  constexpr void Put(const char* a) {
    for (size_t i = 0; a[i] != '\0'; ++i, ++n) {
      if (!counting) out[n] = a[i];
    }
  }
  constexpr void PutNumber(size_t v) {
    char digits[8] = {};
    size_t len = 0;
    do {
      digits[len++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v > 0);
    while (len > 0) {
      if (!counting) out[n] = digits[len - 1];
      --len;
      ++n;
    }
  }
};

// Writes the statement text into out (unless counting); returns its length.
constexpr size_t Write(char* out, bool counting) {
  Writer w{out, counting};
  w.Put(kHead);
  for (size_t i = 0; i < kLinesPerInsert; ++i) {
    if (i > 0) w.Put(", ");
    w.Put("( @p1, @p");
    w.PutNumber(i + 2);
    w.Put(" )");
  }
  w.Put(kTail);
  return w.n;
}

struct Text {
  char text[Write(nullptr, true) + 1] = {};
  constexpr Text() { Write(text, false); }
};
inline constexpr Text kText;

}  // namespace insert_many

namespace stmt {

inline constexpr Statement kInsertLines = {48, StatementKind::kChange, insert_many::kText.text};

// The client schemas.
inline constexpr Statement kTerminalSchemaCursor = {
    46, StatementKind::kCursor,
    "/* MND_SCHEMAREST_C 46 nohold */ SELECT MndSch FROM ZrSystem.Zrt112Mnd, "
    "ZrSystem.Zrt115Tfz WHERE MndKon <> 1 AND   TfzTrm = @p1      AND   MndLiz = TfzLiz AND   "
    "MndNum = TfzMnd  "};
inline constexpr Statement kAllSchemaCursor = {
    47, StatementKind::kCursor,
    "/* MND_SCHEMAALL_C 47 nohold */ SELECT MndSch FROM ZrSystem.Zrt112Mnd WHERE MndKon <> 1  "};

// A client schema's answers of the per-badge lookups, one statement per
// table: @p1 is the schema as the badge cursor binds it; the first column is
// the key of the lookup (AswPnr or AswNum, of every badge row of the
// schema), the others are the lookup's own columns, compared on the
// database as the lookup compares its key. A key with more than one row
// comes once per row; one without none comes not at all.
inline constexpr Statement kBulkBalances = {
    53, StatementKind::kBulk,
    "/* TGB_MND_C 53 nohold */ SELECT AswPnr, COALESCE(TGBVT1,0) + COALESCE(TGBSA1,0), "
    "COALESCE(TGBVT2,0) + COALESCE(TGBSA2,0), COALESCE(TGBVT3,0) + COALESCE(TGBSA3,0), "
    "COALESCE(TGBVT4,0) + COALESCE(TGBSA4,0), COALESCE(TGBVT5,0) + COALESCE(TGBSA5,0), "
    "COALESCE(TGBVT6,0) + COALESCE(TGBSA6,0), COALESCE(TGBVT7,0) + COALESCE(TGBSA7,0), "
    "COALESCE(TGBVT1,0) + COALESCE(TGBSA1,0) + COALESCE(TGBVT2,0) + COALESCE(TGBSA2,0) FROM "
    "ZrSystem.Zrt112Mnd, ZrSystem.Zrt301Asw, Zrt320Tgb WHERE MNDSCH = @p1 AND ASWLIZ = MNDLIZ "
    "AND ASWMND = MNDNUM AND TGBPNR = ASWPNR AND TGBZTR = 1 AND TGBDTM = CONVERT(datetime, "
    "(CONVERT(char(8),(CURRENT_TIMESTAMP-1),112)),112) "};
inline constexpr Statement kBulkPerson = {
    54, StatementKind::kBulk,
    "/* PNR_MND_C 54 nohold */ SELECT AswPnr, PnrSpr, PnrSal FROM ZrSystem.Zrt112Mnd, "
    "ZrSystem.Zrt301Asw, %s WHERE MNDSCH = @p1 AND ASWLIZ = MNDLIZ AND ASWMND = MNDNUM AND "
    "PNRNUM = ASWPNR "};
inline constexpr Statement kBulkLocationText = {
    55, StatementKind::kBulk,
    "/* STO_MND_C 55 nohold */ SELECT AswNum, StoKtx FROM ZrSystem.Zrt112Mnd, "
    "ZrSystem.Zrt301Asw, ZrSystem.Zrt113Awv, ZrSystem.Zrt113Sto WHERE MNDSCH = @p1 AND "
    "ASWLIZ = MNDLIZ AND ASWMND = MNDNUM AND AwvNum = ASWNUM AND StoNum = AwvSto "};
inline constexpr Statement kBulkYearAccount = {
    56, StatementKind::kBulk,
    "/* URV_MND_C 56 nohold */ SELECT AswPnr, COALESCE(URVGUR, 0.0), COALESCE(URVVJR, 0.0) "
    "FROM ZrSystem.Zrt112Mnd, ZrSystem.Zrt301Asw, %s WHERE MNDSCH = @p1 AND ASWLIZ = MNDLIZ "
    "AND ASWMND = MNDNUM AND URVPNR = ASWPNR AND URVJHR = DATEPART(year, CURRENT_TIMESTAMP) "};
// The latest day record up to today of each person.
inline constexpr Statement kBulkDayRecord = {
    57, StatementKind::kBulk,
    "/* UTG_MND_C 57 nohold */ SELECT AswPnr, UtgDtm, COALESCE(UtgVtg, 0.0), "
    "COALESCE(UtgRtg, 0.0), COALESCE(UtgGut, 0.0) FROM ZrSystem.Zrt112Mnd, "
    "ZrSystem.Zrt301Asw, %s WHERE MNDSCH = @p1 AND ASWLIZ = MNDLIZ AND ASWMND = MNDNUM AND "
    "UTGPNR = ASWPNR AND UtgDtm = (SELECT MAX(UtgDtm) FROM %s WHERE UTGPNR = ASWPNR AND "
    "UtgDtm <= CONVERT(datetime,CONVERT(char(8),CURRENT_TIMESTAMP,112),112)) "};

// Every row of one badge number with the conditions of the badge cursor,
// asked per row instead of filtered (plomvarde-explain: why a badge is not
// listed).
inline constexpr Statement kBadgeRows = {
    49, StatementKind::kCursor,
    "/* ASW_ROWS_C 49 nohold */ SELECT CONVERT(char(8),AswGvo,112), "
    "CONVERT(char(8),AswGbi,112), AswBkl, MNDSCH, MNDNUM, MndKon, CASE WHEN "
    "((CURRENT_TIMESTAMP >= AswGvo AND AswGbi IS null) OR (CURRENT_TIMESTAMP <= AswGbi AND "
    "AswGvo IS null) OR (CURRENT_TIMESTAMP >= AswGvo AND CURRENT_TIMESTAMP <= AswGbi)) THEN 1 "
    "ELSE 0 END, (SELECT COUNT(*) FROM ZrSystem.Zrt113Awv WHERE AWVNUM = ASWNUM) FROM "
    "ZrSystem.Zrt301Asw LEFT OUTER JOIN ZrSystem.Zrt112Mnd ON ASWLIZ = MNDLIZ AND ASWMND = "
    "MNDNUM WHERE AswNum = @p1 ORDER BY AswGvo, AswBkl "};

}  // namespace stmt

// The whole table, in number order.
inline constexpr Statement kStatements[] = {
    stmt::kBadgeCursor,      stmt::kReaderCursor,
    stmt::kCountPermissions, stmt::kCountTimeBlocks,
    stmt::kTerminalType,     stmt::kSelAwsGrp,
    stmt::kSelKst,           stmt::kSelKstGrp,
    stmt::kSelAbt,           stmt::kSelAbtGrp,
    stmt::kSelAkr,           stmt::kLocationText,
    stmt::kPerson,           stmt::kBalances,
    stmt::kLabelCursor,      stmt::kDayRecord,
    stmt::kYearAccount,      stmt::kBeginInsert,
    stmt::kRollbackInsert,   stmt::kInsertLine,
    stmt::kBeginDelete,      stmt::kRollbackDelete,
    stmt::kDeleteLines,      stmt::kLineCursor,
    stmt::kCommit,           stmt::kTerminalSchemaCursor,
    stmt::kAllSchemaCursor,  stmt::kInsertLines,
    stmt::kBadgeRows,        stmt::kCountLines,
    stmt::kLockLineStore,    stmt::kStoredPaths,
    stmt::kBulkBalances,     stmt::kBulkPerson,
    stmt::kBulkLocationText, stmt::kBulkYearAccount,
    stmt::kBulkDayRecord,
};

// Whether no number keys two statements: every statement that is not
// transaction control has a number of its own, which no other statement
// (transaction control included) uses.
constexpr bool NumbersUnique(std::span<const Statement> table) {
  for (size_t i = 0; i < table.size(); ++i) {
    for (size_t j = 0; j < table.size(); ++j) {
      if (i == j || table[i].no != table[j].no) continue;
      if (table[i].kind != StatementKind::kTransaction) return false;
    }
  }
  return true;
}
static_assert(NumbersUnique(kStatements), "two statements share a number");

}  // namespace plom
