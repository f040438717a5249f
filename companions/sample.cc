// The embedded sample installation (see sample.h).
//
// Builds an embedded sample installation in FILE (an existing file is
// replaced). Without --badges it holds a small hand-made installation in
// which every feature of the download functions shows; with --badges N the
// hand-made badges are replaced by N generated ones spread over three client
// schemas (for benchmarks). The content is deterministic for a given N and a
// given day: every date is relative to today (local time), so the badges stay
// current whenever the file is built.
//
// Dates used (D = today at 00:00:00; a window is [start, end]):
//   badges:            start D-100, end D+100; badge 471 starts 2006-01-01;
//                      the duplicate badge 1010 has rows starting D-200 and
//                      D-100; not listed: end D-10, start D+10, no dates.
//   access rights:     start D-50, end D+50 (Zrt408Bzu); person assignments
//                      (Zrt311Zuo, Zrt310Bsv) start D-300 or end D+300;
//                      ended ones end D-10.
//   balances:          the previous day D-1, TgbZtr 1.
//   vacation:          Zrt332Urv of the current year (and one of the year
//                      before); Zrt332Utg dated D, D-1, D-3, D-20, and D+5
//                      (to be passed over).
//
// Clients (ZrSystem.Zrt112Mnd, all with MndLiz 1):
//   M01 (1), M02 (2), M99 (99, MndKon 1: left out, though it has a badge and
//   is assigned to TERM12); --badges adds M03 (3) and gives M99 no badge.
// Terminals:
//   TERM12  type 7598-001, readers 1-12 (codes Z1201..Z1212), clients M01, M02
//           (and M99; with --badges also M03)
//   TERM03  type 7598-002, readers 1-3 (Z0301..Z0303), client M01
//   TERM00  type 7598-001, readers 1, 2, 4 (Z0001, Z0002, Z0004), no client:
//           a run walks all clients
// Permissions (Zrt404Zbr), by access class:
//   5    TERM12 reader 3, TERM03 reader 3, TERM00 reader 4
//   12   TERM12 readers 1 and 2, TERM00 reader 1
//   ABC  TERM12 reader 7, TERM03 readers 1 and 2, TERM00 reader 2
//   7    TERM12 reader 1 with type 3 (access, but no time recording),
//        TERM12 reader 5
//   R12  TERM12 reader 12 only
//   99   nowhere
//   0    TERM03 reader 1 with type 3: an unresolved class-0 badge has neither
//        permission there
// Locations (Zrt113Sto): 12 "Halle Süd", 3 "Büro", 5 "EG", 100000 "Lager";
//   location 44 is assigned but has no row.
// Badges of M01 (number: what it shows):
//   471            class 5 from 2006-01-01, location 12, person 815
//   1002           class 12, start and end, location 3 ("Bür")
//   1003           class ABC, end only, location 5 (two-character text)
//   1004           class 7: access but no time recording; no person row,
//                  no balance
//   1005           class R12 (only reader 12 of TERM12), location 44 without
//                  text; balance row with every value missing
//   1006           class 99 (no permission), location 100000
//   1010           listed twice (classes 5 and 12), location 12
//   1011           empty personnel number
//   4711000000013  a 13-character badge number
//   1020 1021 1022 1024  not current: ended, future, no dates, end only past
//   2001  class 0 -> badge group GRP1 (class 12, no end), though its
//                    person's cost centre has a right too
//   2002  class 0 -> cost centre KST100 (class 5)
//   2003  class 0 -> cost-centre group VKS1 of KST200 (class ABC, end only)
//   2004  class 0 -> department ABT10 (class 12)
//   2005  class 0 -> department group VAB1 of ABT20 (class 5)
//   2006  class 0 -> Akr key AKR1 (class 5, held unpadded)
//   2009  class 0, unresolved: its group's right and its cost-centre
//         assignment have ended, its Akr assignment has ended
// Badges of M02: 3001 class 12; 3002 class 0 -> M02's group GRPB (ABC);
//   3003 class R12, end only; 3004 class 5, no vacation rows.
// Badge of M99: 9901 class 5 (never delivered).
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "db/sqlite_collation.h"
#include "installation/sqlite_ddl.h"
#include "companions/sample.h"

namespace {

constexpr int kExitCantCreate = 73;
constexpr int kExitSoftware = 70;

// A column value to insert.
using V = std::variant<std::monostate, long long, double, std::string>;
const V kNull{};

V Txt(const std::string& s) { return V(s); }
V Int(long long n) { return V(n); }
V Real(double d) { return V(d); }

[[noreturn]] void Fail(const std::string& what, sqlite3* db) {
  std::fprintf(stderr, "plomvarde-sample: %s: %s\n", what.c_str(),
               db ? sqlite3_errmsg(db) : "error");
  std::exit(kExitSoftware);
}

// Local date shifted by whole days, at midnight, as 'YYYY-MM-DD 00:00:00'.
// Taken from the clock once, so that one build sees one day.
std::string Day(int offset) {
  static const time_t now = time(nullptr);
  static std::map<int, std::string> cache;
  auto it = cache.find(offset);
  if (it != cache.end()) return it->second;
  struct tm tm;
  localtime_r(&now, &tm);
  tm.tm_mday += offset;
  tm.tm_hour = 12;  // away from a DST change while normalising
  tm.tm_min = tm.tm_sec = 0;
  tm.tm_isdst = -1;
  mktime(&tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d 00:00:00", &tm);
  return cache.emplace(offset, buf).first->second;
}

int CurrentYear() { return std::stoi(Day(0).substr(0, 4)); }

// A prepared INSERT into one table.
class Inserter {
 public:
  Inserter(sqlite3* db, const std::string& table, const std::vector<std::string>& cols)
      : db_(db), table_(table), ncols_(cols.size()) {
    std::string sql = "INSERT INTO \"" + table + "\" (";
    std::string vals;
    for (size_t i = 0; i < cols.size(); ++i) {
      sql += (i ? ", " : "") + cols[i];
      vals += i ? ", ?" : "?";
    }
    sql += ") VALUES (" + vals + ")";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
      Fail("prepare " + sql, db);
  }
  ~Inserter() { sqlite3_finalize(stmt_); }
  Inserter(const Inserter&) = delete;
  Inserter& operator=(const Inserter&) = delete;

  void operator()(const std::vector<V>& row) {
    if (row.size() != ncols_) {
      std::fprintf(stderr, "plomvarde-sample: %zu values for %zu columns of %s\n", row.size(),
                   ncols_, table_.c_str());
      std::exit(kExitSoftware);
    }
    for (size_t i = 0; i < row.size(); ++i) {
      int at = static_cast<int>(i) + 1;
      const V& v = row[i];
      if (std::holds_alternative<long long>(v)) {
        sqlite3_bind_int64(stmt_, at, std::get<long long>(v));
      } else if (std::holds_alternative<double>(v)) {
        sqlite3_bind_double(stmt_, at, std::get<double>(v));
      } else if (std::holds_alternative<std::string>(v)) {
        const std::string& s = std::get<std::string>(v);
        sqlite3_bind_text(stmt_, at, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(stmt_, at);
      }
    }
    if (sqlite3_step(stmt_) != SQLITE_DONE) Fail("insert into " + table_, db_);
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    ++rows_;
  }
  long rows() const { return rows_; }

 private:
  sqlite3* db_;
  std::string table_;
  size_t ncols_;
  sqlite3_stmt* stmt_ = nullptr;
  long rows_ = 0;
};

// The per-client tables of one client schema.
struct ClientTables {
  ClientTables(sqlite3* db, const std::string& s)
      : bzu(db, s + ".Zrt408Bzu",
            {"BzuZau", "BzuKst", "BzuVks", "BzuAbt", "BzuVab", "BzuAkr", "BzuBkl", "BzuGvo",
             "BzuGbi"}),
        zuo(db, s + ".Zrt311Zuo", {"ZuoPnr", "ZuoKst", "ZuoAbt", "ZuoGvo", "ZuoGbi"}),
        kst(db, s + ".O1003Kststelle", {"KstNum", "KstVws"}),
        abl(db, s + ".G1102AbtLst", {"AblAbt", "AblVab"}),
        bsv(db, s + ".Zrt310Bsv", {"BsvPnr", "BsvAkr", "BsvGvo", "BsvGbi"}),
        pnr(db, s + ".Zrt300Pnr", {"PnrNum", "PnrSpr", "PnrSal"}),
        utg(db, s + ".Zrt332Utg", {"UtgPnr", "UtgDtm", "UtgVtg", "UtgRtg", "UtgGut"}),
        urv(db, s + ".Zrt332Urv", {"UrvPnr", "UrvJhr", "UrvGur", "UrvVjr"}) {}
  Inserter bzu, zuo, kst, abl, bsv, pnr, utg, urv;

  // Access rights, one key column each.
  void RightForGroup(const std::string& k, const std::string& cls, V gvo, V gbi) {
    bzu({Txt(k), kNull, kNull, kNull, kNull, kNull, Txt(cls), gvo, gbi});
  }
  void RightForCostCentre(const std::string& k, const std::string& cls, V gvo, V gbi) {
    bzu({kNull, Txt(k), kNull, kNull, kNull, kNull, Txt(cls), gvo, gbi});
  }
  void RightForCostCentreGroup(const std::string& k, const std::string& cls, V gvo, V gbi) {
    bzu({kNull, kNull, Txt(k), kNull, kNull, kNull, Txt(cls), gvo, gbi});
  }
  void RightForDepartment(const std::string& k, const std::string& cls, V gvo, V gbi) {
    bzu({kNull, kNull, kNull, Txt(k), kNull, kNull, Txt(cls), gvo, gbi});
  }
  void RightForDepartmentGroup(const std::string& k, const std::string& cls, V gvo, V gbi) {
    bzu({kNull, kNull, kNull, kNull, Txt(k), kNull, Txt(cls), gvo, gbi});
  }
  void RightForAkr(const std::string& k, const std::string& cls, V gvo, V gbi) {
    bzu({kNull, kNull, kNull, kNull, kNull, Txt(k), Txt(cls), gvo, gbi});
  }
};

struct Client {
  std::string schema;
  int liz;
  int num;
};

class Sample {
 public:
  explicit Sample(sqlite3* db)
      : db_(db),
        mnd_(db, "ZrSystem.Zrt112Mnd", {"MndLiz", "MndNum", "MndSch", "MndKon"}),
        tfz_(db, "ZrSystem.Zrt115Tfz", {"TfzTrm", "TfzLiz", "TfzMnd"}),
        tsm_(db, "ZrSystem.Zrt114Tsm", {"TsmNam", "TsmTyp"}),
        zls_(db, "ZrSystem.Zrt401Zls", {"ZlsTrm", "ZlsLes", "ZlsZko"}),
        zbr_(db, "ZrSystem.Zrt404Zbr", {"ZbrZbk", "ZbrZko", "ZbrZtb"}),
        asw_(db, "ZrSystem.Zrt301Asw",
             {"AswNum", "AswGvo", "AswGbi", "AswPnr", "AswBkl", "AswGrp", "AswAan", "AswAtp",
              "AswLiz", "AswMnd"}),
        awv_(db, "ZrSystem.Zrt113Awv", {"AwvNum", "AwvSto"}),
        sto_(db, "ZrSystem.Zrt113Sto", {"StoNum", "StoKtx"}),
        stx_(db, "ZrSystem.O2001SALTEXTE", {"StxNum", "StxTxt"}),
        tgb_(db, "Zrt320Tgb",
             {"TgbPnr", "TgbZtr", "TgbDtm", "TgbVt1", "TgbSa1", "TgbVt2", "TgbSa2", "TgbVt3",
              "TgbSa3", "TgbVt4", "TgbSa4", "TgbVt5", "TgbSa5", "TgbVt6", "TgbSa6", "TgbVt7",
              "TgbSa7"}) {}

  // Clients, terminals, readers, permissions, locations and labels.
  void Structure(bool with_m03) {
    AddClient({"M01", 1, 1}, false);
    AddClient({"M02", 1, 2}, false);
    if (with_m03) AddClient({"M03", 1, 3}, false);
    AddClient({"M99", 1, 99}, true);

    tsm_({Txt("TERM12"), Txt("7598-001")});
    tsm_({Txt("TERM03"), Txt("7598-002")});
    tsm_({Txt("TERM00"), Txt("7598-001")});
    for (int n = 1; n <= 12; ++n) zls_({Txt("TERM12"), Int(n), Txt(ReaderCode(12, n))});
    for (int n = 1; n <= 3; ++n) zls_({Txt("TERM03"), Int(n), Txt(ReaderCode(3, n))});
    for (int n : {1, 2, 4}) zls_({Txt("TERM00"), Int(n), Txt(ReaderCode(0, n))});
    tfz_({Txt("TERM12"), Int(1), Int(1)});
    tfz_({Txt("TERM12"), Int(1), Int(2)});
    if (with_m03) tfz_({Txt("TERM12"), Int(1), Int(3)});
    tfz_({Txt("TERM12"), Int(1), Int(99)});
    tfz_({Txt("TERM03"), Int(1), Int(1)});

    Permit("5", ReaderCode(12, 3));
    Permit("5", ReaderCode(3, 3));
    Permit("5", ReaderCode(0, 4));
    Permit("12", ReaderCode(12, 1));
    Permit("12 ", ReaderCode(12, 2));  // stored with a trailing blank
    Permit("12", ReaderCode(0, 1));
    Permit("ABC", ReaderCode(12, 7));
    Permit("ABC", ReaderCode(3, 1));
    Permit("ABC", ReaderCode(3, 2));
    Permit("ABC", ReaderCode(0, 2));
    Permit("7", ReaderCode(12, 1), 3);
    Permit("7", ReaderCode(12, 5));
    Permit("R12", ReaderCode(12, 12));
    Permit("0", ReaderCode(3, 1), 3);

    sto_({Txt("12"), Txt("Halle Süd")});
    sto_({Txt("3"), Txt("Büro")});
    sto_({Txt("5"), Txt("EG")});
    sto_({Txt("100000"), Txt("Lager")});

    stx_({Int(300), Txt("Kopfzeile")});  // outside the display's range
    stx_({Int(301), Txt("Datum")});
    stx_({Int(302), Txt("Saldo Vortag")});
    stx_({Int(303), Txt("Zeitkonto")});
    stx_({Int(304), Txt("Urlaub Vorj.")});
    stx_({Int(305), Txt("Jahresurlaub gesamt")});
    stx_({Int(306), Txt("Gutschrift")});
    stx_({Int(307), Txt("Verfügt")});
    stx_({Int(308), Txt("Resturlaub")});
    stx_({Int(309), Txt("Reserve")});
  }

  // The hand-made badges of the default installation.
  void FeatureBadges() {
    OwnClassBadges();
    ClassZeroRights();
    ClassZeroBadges();
    OtherClientsBadges();
    PassedOverRows();
  }

  // M01: badges with their own access class.
  void OwnClassBadges() {
    const auto& [from, to, rfrom, rto, afrom, ended] = windows_;
    ClientTables& m01 = Tables("M01");
    Badge(1, "471", Txt("2006-01-01 00:00:00"), kNull, "815", "5", kNull, "Müller, Anna", 0);
    Location("471", Txt("12"));
    Person(m01, "815", 1, "Herr");
    Balance("815", 480, -15);
    Vacation(m01, "815", 30.0, 2.5, {{Day(0), 12.5, 17.5, 1.0}, {Day(-20), 10.0, 20.0, 0.0}});

    Badge(1, "1002", from, to, "1002", "12", kNull, "Schäfer, Jörg", 1);
    Location("1002", Txt("3"));
    Person(m01, "1002", 2, "Frau");
    Balance("1002", -75, std::nullopt);
    Vacation(m01, "1002", 28.0, -1.5, {});

    Badge(1, "1003", kNull, to, "1003", "ABC", kNull, "Weiß, Jürgen", 0);
    Location("1003", Txt("5"));
    Person(m01, "1003", 0, "Fräulein");
    Balance("1003", 5400, 600);
    Vacation(m01, "1003", std::nullopt, std::nullopt, {{Day(0), 3.0, 9.999, 100.0}});

    Badge(1, "1004", from, kNull, "1004", "7", kNull, kNull, 2);
    Location("1004", kNull);
    // 1004: no person row, no balance, no vacation.

    Badge(1, "1005", from, kNull, "1005", "R12", kNull, "Öztürk, Ayşe", 0);
    Location("1005", Txt("44"));
    Person(m01, "1005", 1, "Frau");
    BalanceRow("1005", 1, Day(-1), std::vector<std::optional<int>>(14));  // every value missing
    Vacation(m01, "1005", 25.0, 0.0, {{Day(-20), 4.0, 21.0, 0.5}, {Day(5), 1.0, 20.0, 0.0}});

    Badge(1, "1006", from, kNull, "1006", "99", kNull, kNull, 0);
    Location("1006", Txt("100000"));
    Person(m01, "1006", 2, "Herr");
    Balance("1006", 59, 0);

    Badge(1, "1010", Txt(Day(-200)), kNull, "1010", "5", kNull, kNull, 0);
    Badge(1, "1010", from, to, "1010", "12", kNull, kNull, 0);
    Location("1010", Txt("12"));
    Person(m01, "1010", 1, "Herr");
    Balance("1010", 6000, 0);
    Vacation(m01, "1010", 30.0, 5.0, {{Day(-1), 2.0, 28.0, 0.0}});

    Badge(1, "1011", from, kNull, "", "12", kNull, "Gast", 0);
    Location("1011", kNull);

    Badge(1, "4711000000013", from, to, "1013", "5", kNull, kNull, 1);
    Location("4711000000013", Txt("5"));
    Person(m01, "1013", 1, "Herr");
    Balance("1013", -600, -1);
    Vacation(m01, "1013", 30.0, 0.0, {{Day(0), 0.0, 30.0, 0.0}});

    // Not current: ended, not yet begun, no dates at all, ended without start.
    Badge(1, "1020", Txt(Day(-400)), ended, "1020", "5", kNull, kNull, 0);
    Location("1020", kNull);
    Badge(1, "1021", Txt(Day(10)), kNull, "1021", "5", kNull, kNull, 0);
    Location("1021", kNull);
    Badge(1, "1022", kNull, kNull, "1022", "5", kNull, kNull, 0);
    Location("1022", kNull);
    Badge(1, "1024", kNull, ended, "1024", "5", kNull, kNull, 0);
    Location("1024", kNull);
  }

  // M01's access rights for class 0, one per path from a person to a class.
  void ClassZeroRights() {
    const auto& [from, to, rfrom, rto, afrom, ended] = windows_;
    ClientTables& m01 = Tables("M01");
    m01.RightForGroup("GRP1", "12", rfrom, kNull);
    m01.RightForGroup("GRPALT", "ABC", Txt(Day(-400)), ended);
    m01.RightForCostCentre("KST100", "5", rfrom, rto);
    m01.RightForCostCentreGroup("VKS1", "ABC", kNull, rto);
    m01.kst({Txt("KST100"), Txt("VKS0")});
    m01.kst({Txt("KST200"), Txt("VKS1")});
    m01.kst({Txt("KST300"), Txt("VKS9")});
    m01.RightForDepartment("ABT10", "12", rfrom, rto);
    m01.RightForDepartmentGroup("VAB1", "5", rfrom, kNull);
    m01.abl({Txt("ABT10"), Txt("VAB0")});
    m01.abl({Txt("ABT20"), Txt("VAB1")});
    m01.abl({Txt("ABT30"), Txt("VAB9")});
    m01.RightForAkr("AKR1", "5", rfrom, rto);
  }

  // M01: badges of class 0, one per access-right path, and one unresolved.
  void ClassZeroBadges() {
    const auto& [from, to, rfrom, rto, afrom, ended] = windows_;
    ClientTables& m01 = Tables("M01");
    m01.RightForAkr("AKR2", "12", rfrom, rto);

    Badge(1, "2001", from, kNull, "2001", "0", Txt("GRP1"), kNull, 0);
    Location("2001", Txt("12"));
    Person(m01, "2001", 1, "Herr");
    m01.zuo({Txt("2001"), Txt("KST100"), Txt("ABT10"), afrom, kNull});
    Balance("2001", 125, 0);
    Vacation(m01, "2001", 30.0, 0.0, {{Day(0), 5.0, 25.0, 0.0}});

    Badge(1, "2002", from, kNull, "2002", "0", kNull, kNull, 0);
    Location("2002", Txt("3"));
    Person(m01, "2002", 2, "Frau");
    m01.zuo({Txt("2002"), Txt("KST100"), Txt("ABT30"), afrom, kNull});
    Balance("2002", 30, 15);

    Badge(1, "2003", from, kNull, "2003", "0", Txt("GRP9"), kNull, 0);
    Location("2003", kNull);
    Person(m01, "2003", 1, "Herr");
    m01.zuo({Txt("2003"), Txt("KST200"), Txt("ABT30"), afrom, kNull});
    Balance("2003", std::nullopt, -30);

    Badge(1, "2004", from, kNull, "2004", "0", kNull, kNull, 0);
    Location("2004", Txt("5"));
    Person(m01, "2004", 1, "Frau");
    m01.zuo({Txt("2004"), Txt("KST300"), Txt("ABT10"), afrom, Txt(Day(300))});
    Balance("2004", 0, 0);

    Badge(1, "2005", from, kNull, "2005", "0", kNull, kNull, 0);
    Location("2005", kNull);
    Person(m01, "2005", 1, "Herr");
    m01.zuo({Txt("2005"), Txt("KST300"), Txt("ABT20"), kNull, Txt(Day(300))});

    Badge(1, "2006", from, kNull, "2006", "0", kNull, kNull, 0);
    Location("2006", Txt("12"));
    Person(m01, "2006", 1, "Herr");
    m01.bsv({Txt("2006"), Txt("AKR1"), afrom, kNull});
    Balance("2006", 720, 0);

    Badge(1, "2009", from, kNull, "2009", "0", Txt("GRPALT"), kNull, 0);
    Location("2009", Txt("12"));
    Person(m01, "2009", 2, "Frau");
    m01.zuo({Txt("2009"), Txt("KST100"), Txt("ABT10"), Txt(Day(-400)), ended});
    m01.zuo({Txt("2009"), Txt("KST300"), Txt("ABT30"), Txt(Day(-9)), kNull});
    m01.bsv({Txt("2009"), Txt("AKR2"), Txt(Day(-400)), ended});
    Balance("2009", 15, 0);
  }

  // M02's badges, and M99's (left out): a current badge that must never appear.
  void OtherClientsBadges() {
    const auto& [from, to, rfrom, rto, afrom, ended] = windows_;
    ClientTables& m02 = Tables("M02");
    ClientTables& m99 = Tables("M99");
    m02.RightForGroup("GRPB", "ABC", rfrom, rto);
    Badge(2, "3001", from, kNull, "3001", "12", kNull, "Groß, Günter", 0);
    Location("3001", Txt("12"));
    Person(m02, "3001", 1, "Herr");
    Balance("3001", 600, 0);
    Vacation(m02, "3001", 30.0, 3.0, {{Day(0), 6.0, 27.0, 0.0}});

    Badge(2, "3002", from, kNull, "3002", "0", Txt("GRPB"), kNull, 0);
    Location("3002", Txt("3"));
    Person(m02, "3002", 2, "Frau");
    Balance("3002", -6000, 0);
    Vacation(m02, "3002", 20.0, 0.0, {{Day(-3), 1.0, 19.0, 0.0}});

    Badge(2, "3003", kNull, to, "3003", "R12", kNull, kNull, 0);
    Location("3003", Txt("100000"));
    Person(m02, "3003", 1, "Herr");
    Balance("3003", 90, 0);
    Vacation(m02, "3003", 30.0, 0.0, {{Day(0), 0.0, 30.0, 0.0}});

    Badge(2, "3004", from, to, "3004", "5", kNull, kNull, 0);
    Location("3004", Txt("5"));
    Person(m02, "3004", 1, "Frau");
    Balance("3004", 240, 0);

    Badge(99, "9901", from, kNull, "9901", "5", kNull, kNull, 0);
    Location("9901", Txt("12"));
    Person(m99, "9901", 1, "Herr");
    Balance("9901", 60, 0);
  }

  // Balance rows that must be passed over (another day, another TgbZtr) and
  // vacation rows of the previous year.
  void PassedOverRows() {
    BalanceRow("815", 1, Day(-2), Fill(14, 999));
    BalanceRow("815", 2, Day(-1), Fill(14, 888));
    BalanceRow("815", 1, Day(0), Fill(14, 777));
    Tables("M01").urv({Txt("815"), Int(CurrentYear() - 1), Real(99.0), Real(99.0)});
  }

  // N generated badges over M01, M02 and M03 (for benchmarks).
  void GeneratedBadges(long n) {
    for (const char* s : kGeneratedSchemas) GeneratedRights(Tables(s));
    for (long i = 0; i < n; ++i) GeneratedBadge(i);
  }

  std::string Summary() const {
    std::string s = std::to_string(active_clients_) + " clients";
    s += " (" + client_names_ + ") and " + std::to_string(left_out_clients_) +
         " left out, 3 terminals, " + std::to_string(asw_.rows()) + " badge rows, " +
         std::to_string(persons_) + " persons, " + std::to_string(tgb_.rows()) + " balance rows, " +
         std::to_string(access_rights_) + " access rights";
    return s;
  }

  void CountRights() {
    for (auto& [name, t] : clients_) {
      persons_ += t->pnr.rows();
      access_rights_ += t->bzu.rows();
    }
  }

 private:
  // A simple linear congruential generator: the same numbers on every host.
  struct Lcg {
    uint64_t state = 0x5eed2024u;
    uint32_t Next() {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      return static_cast<uint32_t>(state >> 33);
    }
    unsigned Below(unsigned n) { return Next() % n; }
  };

  static std::string ReaderCode(int terminal, int reader) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "Z%02d%02d", terminal, reader);
    return buf;
  }

  static std::vector<std::optional<int>> Fill(size_t n, int v) {
    return std::vector<std::optional<int>>(n, v);
  }

  // The validity windows the hand-made and generated rows share.
  struct Windows {
    V from = Txt(Day(-100)), to = Txt(Day(100));      // badges
    V rfrom = Txt(Day(-50)), rto = Txt(Day(50));      // access rights
    V afrom = Txt(Day(-300)), ended = Txt(Day(-10));  // assignments; ended ones
  };

  static constexpr const char* kGeneratedSchemas[] = {"M01", "M02", "M03"};
  static constexpr const char* kGeneratedClasses[] = {"5", "12", "ABC"};

  static V DayText(int offset) { return Txt(Day(offset)); }

  // Ten rights of each kind per client, with the cost centres and
  // departments that lead to them (keys G0.., KA0.., AA0.., AK0..; groups
  // VB0..VB4 and WB0..WB4 through KB0.. and AB0..).
  void GeneratedRights(ClientTables& t) {
    const auto& [from, to, rfrom, rto, afrom, ended] = windows_;
    for (int k = 0; k < 10; ++k) {
      std::string d = std::to_string(k);
      const std::string cls = kGeneratedClasses[k % 3];
      t.RightForGroup("G" + d, cls, rfrom, kNull);
      t.RightForCostCentre("KA" + d, cls, rfrom, rto);
      t.kst({Txt("KA" + d), Txt("VZ")});
      t.kst({Txt("KB" + d), Txt("VB" + std::to_string(k % 5))});
      t.RightForDepartment("AA" + d, cls, kNull, rto);
      t.abl({Txt("AA" + d), Txt("WZ")});
      t.abl({Txt("AB" + d), Txt("WB" + std::to_string(k % 5))});
      t.RightForAkr("AK" + d, cls, rfrom, rto);
    }
    for (int k = 0; k < 5; ++k) {
      std::string d = std::to_string(k);
      t.RightForCostCentreGroup("VB" + d, kGeneratedClasses[(k + 1) % 3], rfrom, rto);
      t.RightForDepartmentGroup("WB" + d, kGeneratedClasses[(k + 2) % 3], rfrom, kNull);
    }
  }

  // How a generated badge holds its access class.
  struct Assignment {
    std::string cls;
    V grp = kNull;
    V gvo = kNull, gbi = kNull;
  };

  // Badge i goes to client i % 3; one person in 200 has no personnel number.
  void GeneratedBadge(long i) {
    const int c = static_cast<int>(i % 3);
    ClientTables& t = Tables(kGeneratedSchemas[c]);
    const std::string num = std::to_string(10000001 + i);
    std::string pnr = std::to_string(50000001 + i);
    if (rng_.Below(200) == 0) pnr.clear();
    const Assignment a = DrawAssignment(t, pnr);
    asw_({Txt(num), a.gvo, a.gbi, Txt(pnr), Txt(a.cls), a.grp, kNull,
          Int(static_cast<long long>(rng_.Below(3))), Int(1), Int(c + 1)});
    const char* locations[] = {"12", "3", "5", "100000", "44"};
    const unsigned loc = rng_.Below(6);
    awv_({Txt(num), loc < 5 ? Txt(locations[loc]) : kNull});
    if (!pnr.empty()) GeneratedPersonRows(t, pnr);
  }

  // 10% class 0 resolved along the paths in turn, 2% class 0 unresolved,
  // 2% not current, the rest a class of their own.
  Assignment DrawAssignment(ClientTables& t, const std::string& pnr) {
    Assignment a;
    const unsigned kind = rng_.Below(100);
    DrawWindow(&a);
    if (kind < 10) {
      ResolvedClassZero(t, pnr, &a);
    } else if (kind < 12) {
      a.cls = "0";  // resolves nowhere
      a.grp = Txt("GX");
      t.zuo({Txt(pnr), Txt("KX"), Txt("AX"), windows_.afrom, kNull});
    } else if (kind < 14) {
      NotCurrent(&a);
    } else {
      const unsigned w = rng_.Below(100);
      a.cls = w < 35 ? "5" : w < 65 ? "12" : w < 85 ? "ABC" : w < 90 ? "7" : w < 95 ? "R12" : "99";
      if (rng_.Below(4) == 0) a.grp = Txt("GX");
    }
    return a;
  }

  // 60% start only, 20% start and end, 20% end only.
  void DrawWindow(Assignment* a) {
    const unsigned shape = rng_.Below(10);
    if (shape < 6) {
      a->gvo = DayText(-1 - static_cast<int>(rng_.Below(2000)));
    } else if (shape < 8) {
      a->gvo = DayText(-1 - static_cast<int>(rng_.Below(2000)));
      a->gbi = DayText(1 + static_cast<int>(rng_.Below(1000)));
    } else {
      a->gbi = DayText(1 + static_cast<int>(rng_.Below(1000)));
    }
  }

  // Class 0, resolved in turn through a badge group, a cost centre, a
  // cost-centre group, a department, a department group and an Akr key.
  void ResolvedClassZero(ClientTables& t, const std::string& pnr, Assignment* a) {
    const V& afrom = windows_.afrom;
    a->cls = "0";
    const std::string d = std::to_string(zero_count_ % 10);
    switch (zero_count_ % 6) {
      case 0:
        a->grp = Txt("G" + d);
        break;
      case 1:
        t.zuo({Txt(pnr), Txt("KA" + d), Txt("AX"), afrom, kNull});
        break;
      case 2:
        t.zuo({Txt(pnr), Txt("KB" + d), Txt("AX"), afrom, kNull});
        break;
      case 3:
        t.zuo({Txt(pnr), Txt("KX"), Txt("AA" + d), afrom, kNull});
        break;
      case 4:
        t.zuo({Txt(pnr), Txt("KX"), Txt("AB" + d), afrom, kNull});
        break;
      default:
        t.zuo({Txt(pnr), Txt("KX"), Txt("AX"), afrom, kNull});
        t.bsv({Txt(pnr), Txt("AK" + d), afrom, kNull});
        break;
    }
    ++zero_count_;
  }

  // Class 5 outside its window: ended, not yet begun, or without dates.
  void NotCurrent(Assignment* a) {
    a->cls = "5";
    switch (rng_.Below(3)) {
      case 0:
        a->gvo = DayText(-400);
        a->gbi = DayText(-1 - static_cast<int>(rng_.Below(300)));
        break;
      case 1:
        a->gvo = DayText(1 + static_cast<int>(rng_.Below(300)));
        a->gbi = kNull;
        break;
      default:
        a->gvo = kNull;
        a->gbi = kNull;
        break;
    }
  }

  // The person row (95%), the previous day's balance (85%, a value in ten
  // missing), this year's vacation (80%) and one to three vacation days
  // (70%; a third day lies ahead).
  void GeneratedPersonRows(ClientTables& t, const std::string& pnr) {
    const char* salutations[] = {"Herr", "Frau", "Fräulein", "Dr."};
    if (rng_.Below(100) < 95)
      t.pnr(
          {Txt(pnr), Int(static_cast<long long>(rng_.Below(3))), Txt(salutations[rng_.Below(4)])});
    if (rng_.Below(100) < 85) {
      std::vector<std::optional<int>> v(14);
      for (auto& x : v) {
        if (rng_.Below(10) != 0) x = static_cast<int>(rng_.Below(3600)) - 600;
      }
      BalanceRow(pnr, 1, Day(-1), v);
    }
    if (rng_.Below(100) < 80)
      t.urv({Txt(pnr), Int(CurrentYear()), Real(20 + rng_.Below(21)),
             Real(rng_.Below(41) / 4.0 - 2)});
    if (rng_.Below(100) < 70) {
      const int rows = 1 + static_cast<int>(rng_.Below(3));
      for (int r = 0; r < rows; ++r) {
        const int off =
            r == 2 ? 1 + static_cast<int>(rng_.Below(30)) : -static_cast<int>(rng_.Below(300));
        t.utg({Txt(pnr), DayText(off), Real(rng_.Below(61) / 2.0), Real(rng_.Below(61) / 2.0),
               Real(rng_.Below(5) / 2.0)});
      }
    }
  }

  void AddClient(const Client& c, bool left_out) {
    mnd_({Int(c.liz), Int(c.num), Txt(c.schema), Int(left_out ? 1 : 0)});
    const std::string ddl = plom::ClientDdl(c.schema);
    if (sqlite3_exec(db_, ddl.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      Fail("tables of " + c.schema, db_);
    clients_.emplace(c.schema, std::make_unique<ClientTables>(db_, c.schema));
    if (left_out) {
      ++left_out_clients_;
    } else {
      ++active_clients_;
      client_names_ += (client_names_.empty() ? "" : ", ") + c.schema;
    }
  }

  ClientTables& Tables(const std::string& schema) { return *clients_.at(schema); }

  void Permit(const std::string& cls, const std::string& reader_code, int type = 0) {
    zbr_({Txt(cls), Txt(reader_code), Int(type)});
  }

  void Badge(int client, const std::string& num, V gvo, V gbi, const std::string& pnr,
             const std::string& cls, V grp, V aan, int atp) {
    asw_({Txt(num), gvo, gbi, Txt(pnr), Txt(cls), grp, aan, Int(atp), Int(1), Int(client)});
  }

  void Location(const std::string& num, V sto) { awv_({Txt(num), sto}); }

  void Person(ClientTables& t, const std::string& pnr, int spr, const std::string& sal) {
    t.pnr({Txt(pnr), Int(spr), Txt(sal)});
  }

  // The previous day's balance row with VT1 and SA1 as given (nullopt:
  // missing); VT2 60, SA2
  // missing, VT3..7 and SA3..7 0 (only VT1 + SA1 reaches the records).
  void Balance(const std::string& pnr, std::optional<int> vt1, std::optional<int> sa1) {
    std::vector<std::optional<int>> v(14, 0);
    v[0] = vt1;
    v[1] = sa1;
    v[2] = 60;
    v[3] = std::nullopt;
    BalanceRow(pnr, 1, Day(-1), v);
  }

  // One balance row; v holds VT1, SA1, VT2, SA2, ... VT7, SA7.
  void BalanceRow(const std::string& pnr, int ztr, const std::string& date,
                  const std::vector<std::optional<int>>& v) {
    std::vector<V> row{Txt(pnr), Int(ztr), Txt(date)};
    for (const auto& x : v) row.push_back(x ? Int(*x) : kNull);
    tgb_(row);
  }

  struct DayRecord {
    std::string date;
    double vtg, rtg, gut;
  };
  void Vacation(ClientTables& t, const std::string& pnr, std::optional<double> gur,
                std::optional<double> vjr, const std::vector<DayRecord>& days) {
    if (gur || vjr)
      t.urv({Txt(pnr), Int(CurrentYear()), gur ? Real(*gur) : kNull, vjr ? Real(*vjr) : kNull});
    for (const auto& d : days)
      t.utg({Txt(pnr), Txt(d.date), Real(d.vtg), Real(d.rtg), Real(d.gut)});
  }

  sqlite3* db_;
  Inserter mnd_, tfz_, tsm_, zls_, zbr_, asw_, awv_, sto_, stx_, tgb_;
  std::map<std::string, std::unique_ptr<ClientTables>> clients_;
  Lcg rng_;
  const Windows windows_;
  long zero_count_ = 0;
  int active_clients_ = 0;
  int left_out_clients_ = 0;
  std::string client_names_;
  long persons_ = 0;
  long access_rights_ = 0;
};

// Removes an earlier database at file with its journal files. Returns false
// (and says why) when one of them cannot be removed.
bool RemoveEarlierDatabase(const std::string& file) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::string p = file + suffix;
    if (unlink(p.c_str()) != 0 && errno != ENOENT) {
      std::fprintf(stderr, "plomvarde-sample: cannot replace %s: %s\n", p.c_str(),
                   std::strerror(errno));
      return false;
    }
  }
  return true;
}

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

// Creates an empty database at file; null (and says why) when it cannot.
Database CreateDatabase(const std::string& file) {
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  Database db(raw);
  // The line store's lines sort by the collation the tool registers too.
  if (rc == SQLITE_OK && plom::RegisterCp1252Collation(raw) == SQLITE_OK) return db;
  std::fprintf(stderr, "plomvarde-sample: cannot create %s: %s\n", file.c_str(),
               raw ? sqlite3_errmsg(raw) : "out of memory");
  return nullptr;
}

void Exec(sqlite3* db, const std::string& sql, const std::string& what) {
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail(what, db);
}

// One big transaction without a journal (a failed build leaves a file that
// is rebuilt anyway).
void BeginBulkLoad(sqlite3* db) {
  Exec(db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", "journal mode");
  Exec(db, "BEGIN", "begin");
}

// Commits the load; the file goes back to the WAL journal.
void EndBulkLoad(sqlite3* db) {
  Exec(db, "COMMIT", "commit");
  Exec(db, "PRAGMA journal_mode = WAL", "journal mode");
}

// Fills every table; returns the summary line's counts.
std::string FillTables(sqlite3* db, long badges) {
  Sample sample(db);
  sample.Structure(badges > 0);
  if (badges > 0) {
    sample.GeneratedBadges(badges);
  } else {
    sample.FeatureBadges();
  }
  sample.CountRights();
  return sample.Summary();
}

}  // namespace

namespace plom {

int WriteSampleDatabase(const std::string& file, long badges, std::string* summary) {
  if (!RemoveEarlierDatabase(file)) return kExitCantCreate;
  Database db = CreateDatabase(file);
  if (!db) return kExitCantCreate;
  Exec(db.get(), plom::CentralDdl(), "central tables");
  BeginBulkLoad(db.get());
  *summary = FillTables(db.get(), badges);
  EndBulkLoad(db.get());
  if (sqlite3_close(db.get()) != SQLITE_OK) Fail("close", db.get());
  db.release();
  return 0;
}

}  // namespace plom
