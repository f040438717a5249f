// Badge cursor, reader cursor, permission counts, terminal type and
// location short text against embedded databases.
#include "installation/badge_queries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace plom {
namespace {

using test::DateTime;
using test::Lit;
using test::TestDb;
using test::Ymd;

class BadgeQueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.Exec(
        "INSERT INTO \"ZrSystem.Zrt112Mnd\" (MndLiz, MndNum, MndSch, MndKon) VALUES "
        "(1, 1, 'MND1', 0), (1, 2, 'MND2', 0);");
    conn_ = db_.Connect();
  }

  // A badge of client `mnd` with a location assignment (sto may be null).
  void AddBadge(const std::string& num, const char* gvo, const char* gbi, const char* bkl = "5",
                const char* sto = "1", int mnd = 1, const char* pnr = "P1", const char* grp = "G1",
                const char* atp = "3") {
    db_.Exec(
        "INSERT INTO \"ZrSystem.Zrt301Asw\" (AswNum, AswGvo, AswGbi, AswPnr, AswBkl, "
        "AswGrp, AswAan, AswAtp, AswLiz, AswMnd) VALUES (" +
        Lit(num) + ", " + Lit(gvo) + ", " + Lit(gbi) + ", " + Lit(pnr) + ", " + Lit(bkl) + ", " +
        Lit(grp) + ", 'aan', " + (atp ? atp : "NULL") + ", 1, " + std::to_string(mnd) + ");");
    db_.Exec("INSERT INTO \"ZrSystem.Zrt113Awv\" (AwvNum, AwvSto) VALUES (" + Lit(num) + ", " +
             Lit(sto) + ");");
  }

  std::vector<BadgeRecord> FetchAll(const std::string& schema) {
    std::vector<BadgeRecord> out;
    EXPECT_EQ(OpenBadgeCursor(*conn_, schema).sqlcode(), 0);
    BadgeRecord r;
    while (FetchBadge(*conn_, &r).sqlcode() == kSqlOk) {
      out.push_back(r);
      r.Clear();
    }
    CloseBadgeCursor(*conn_);
    return out;
  }

  TestDb db_;
  std::unique_ptr<Connection> conn_;
};

TEST_F(BadgeQueriesTest, ValidityWindowDecidesWhichBadgesAreListed) {
  const std::string past = DateTime(-10), future = DateTime(10);
  const std::string past2 = DateTime(-2), future2 = DateTime(2);
  struct Case {
    const char* num;
    const char* gvo;
    const char* gbi;
    bool listed;
  } cases[] = {
      {"A01", past.c_str(), nullptr, true},             // start only, past
      {"A02", future.c_str(), nullptr, false},          // start only, future
      {"A03", nullptr, future.c_str(), true},           // end only, future
      {"A04", nullptr, past.c_str(), false},            // end only, past
      {"A05", past.c_str(), future.c_str(), true},      // both around now
      {"A06", past.c_str(), past2.c_str(), false},      // both past
      {"A07", future2.c_str(), future.c_str(), false},  // both future
      {"A08", nullptr, nullptr, false},                 // neither
  };
  std::vector<std::string> expected;
  for (const Case& k : cases) {
    AddBadge(k.num, k.gvo, k.gbi);
    if (k.listed) expected.push_back(k.num);
  }
  std::vector<std::string> got;
  for (const BadgeRecord& r : FetchAll("MND1")) got.push_back(r.badge_number);
  EXPECT_EQ(got, expected);
}

TEST_F(BadgeQueriesTest, DatesArriveAsYyyymmddOrEmpty) {
  AddBadge("B1", DateTime(-3).c_str(), DateTime(4).c_str());
  AddBadge("B2", DateTime(-3).c_str(), nullptr);
  AddBadge("B3", nullptr, DateTime(4).c_str());
  auto rows = FetchAll("MND1");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].valid_from, Ymd(-3));
  EXPECT_EQ(rows[0].valid_to, Ymd(4));
  EXPECT_EQ(rows[1].valid_from, Ymd(-3));
  EXPECT_EQ(rows[1].valid_to, "");
  EXPECT_EQ(rows[2].valid_from, "");
  EXPECT_EQ(rows[2].valid_to, Ymd(4));
}

TEST_F(BadgeQueriesTest, FieldsAreTrimmedAndFormatted) {
  const std::string from = DateTime(-1);
  struct Case {
    const char* num;
    const char* bkl;
    const char* sto;
    const char* pnr;
    const char* grp;
    const char* atp;
    const char* want_num;
    const char* want_bkl;
    const char* want_sto;
    const char* want_pnr;
    const char* want_grp;
    const char* want_atp;
  } cases[] = {
      {"C1", "5", "12", "P1", "G1", "7", "C1", "5  ", "00000012", "P1", "G1", "7"},
      {"C2   ", "0", nullptr, "P2  ", "G2 \t", nullptr, "C2", "0  ", "00000000", "P2", "G2", "0"},
      {"C3", "123", "", "  P3", "GROUP", "12", "C3", "123", "00000000", "  P3", "GROUP", "12"},
      {"C4", "12345", "87654321", "12345678", "G", "-1", "C4", "12345", "87654321", "12345678", "G",
       "-1"},
      {"C5", "AB   ", "7   ", "P5", nullptr, "0", "C5", "AB ", "00000007", "P5", "", "0"},
      {"C6", nullptr, "123456789", "P6", "G6", "99", "C6", "   ", "12345678", "P6", "G6", "99"},
      {"C7", "5", "1", "P7", "G7", "100", "C7", "5  ", "00000001", "P7", "G7", "100"},
  };
  for (const Case& k : cases) {
    AddBadge(k.num, from.c_str(), nullptr, k.bkl, k.sto, 1, k.pnr, k.grp, k.atp);
  }
  auto rows = FetchAll("MND1");
  ASSERT_EQ(rows.size(), std::size(cases));
  for (size_t i = 0; i < rows.size(); ++i) {
    const Case& k = cases[i];
    SCOPED_TRACE(k.want_num);
    EXPECT_EQ(rows[i].badge_number, k.want_num);
    EXPECT_EQ(rows[i].access_class, k.want_bkl);
    EXPECT_EQ(rows[i].location_number, k.want_sto);
    EXPECT_EQ(rows[i].personnel_number, k.want_pnr);
    EXPECT_EQ(rows[i].badge_group, k.want_grp);
    EXPECT_EQ(rows[i].asw_atp, k.want_atp);
    EXPECT_EQ(rows[i].unfilled, "");
    EXPECT_EQ(rows[i].cost_centre, "");
  }
}

TEST_F(BadgeQueriesTest, OnlyTheClientsBadgesInOrderOncePerLocation) {
  const std::string early = DateTime(-9), late = DateTime(-2);
  AddBadge("B2", late.c_str(), nullptr, "7");
  AddBadge("B1", early.c_str(), nullptr, "9");
  AddBadge("B0", early.c_str(), nullptr, "1", "1", 2);  // other client
  // B2 a second time with an earlier start; and a second location for B1.
  AddBadge("B2", early.c_str(), nullptr, "8", "3");
  db_.Exec("DELETE FROM \"ZrSystem.Zrt113Awv\" WHERE AwvNum = 'B2' AND AwvSto = '3';");
  db_.Exec("INSERT INTO \"ZrSystem.Zrt113Awv\" (AwvNum, AwvSto) VALUES ('B1', '4');");
  std::vector<std::string> got;
  for (const BadgeRecord& r : FetchAll("MND1")) {
    got.push_back(r.badge_number + "/" + r.access_class + "/" + r.location_number);
  }
  // B1 has two locations, B2 two badge rows each joined to B2's one location.
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].substr(0, 7), "B1/9  /");
  EXPECT_EQ(got[1].substr(0, 7), "B1/9  /");
  EXPECT_EQ(got[2], "B2/8  /00000001");
  EXPECT_EQ(got[3], "B2/7  /00000001");
}

TEST_F(BadgeQueriesTest, SchemaWithoutBadgesGivesNotFoundAndLeavesRecord) {
  AddBadge("B1", DateTime(-1).c_str(), nullptr, "5", "1", 2);
  EXPECT_EQ(OpenBadgeCursor(*conn_, "MND1").sqlcode(), 0);
  BadgeRecord r;
  EXPECT_EQ(FetchBadge(*conn_, &r).sqlcode(), kSqlNotFound);
  EXPECT_EQ(r.badge_number, "");
  EXPECT_EQ(r.access_class, "");
  EXPECT_EQ(r.location_number, "");
  CloseBadgeCursor(*conn_);
  // A fetch on a cursor that is not open fails and leaves the record.
  r.badge_number = "keep";
  EXPECT_LT(FetchBadge(*conn_, &r).sqlcode(), 0);
  EXPECT_EQ(r.badge_number, "keep");
}

TEST_F(BadgeQueriesTest, ReadersUpToTheHighestInAscendingOrder) {
  db_.Exec(
      "INSERT INTO \"ZrSystem.Zrt401Zls\" (ZlsTrm, ZlsLes, ZlsZko) VALUES "
      "('T1', 12, 'Z12'), ('T1', 3, 'Z3  '), ('T1', 1, 'Z1'), ('T1', 0, NULL), "
      "('T1', 11, 'Z11'), ('T2', 2, 'X2');");
  struct Case {
    int highest;
    std::vector<std::string> want;
  } cases[] = {
      {11, {"0:", "1:Z1", "3:Z3", "11:Z11"}},
      {32, {"0:", "1:Z1", "3:Z3", "11:Z11", "12:Z12"}},
      {1, {"0:", "1:Z1"}},
      {-1, {}},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(OpenReaderCursor(*conn_, "T1", k.highest).sqlcode(), 0);
    std::vector<std::string> got;
    int n = -5;
    std::string code = "x";
    while (FetchReader(*conn_, &n, &code).sqlcode() == kSqlOk) got.push_back(std::to_string(n) + ":" + code);
    CloseReaderCursor(*conn_);
    EXPECT_EQ(got, k.want) << "highest " << k.highest;
  }
}

TEST_F(BadgeQueriesTest, CountsCompareTheHeldClassIgnoringTrailingBlanks) {
  db_.Exec(
      "INSERT INTO \"ZrSystem.Zrt404Zbr\" (ZbrZbk, ZbrZko, ZbrZtb) VALUES "
      "('5', 'Z1', 0), ('5', 'Z1', 3), ('5  ', 'Z1', 3), ('5', 'Z2', 1), "
      "('05', 'Z1', 0), ('123', 'Z1', 3);");
  struct Case {
    const char* cls;
    const char* code;
    int permissions;
    int blocks;
  } cases[] = {
      {"5  ", "Z1", 3, 2}, {"5", "Z1", 3, 2},   {"5  ", "Z2", 1, 0}, {"05 ", "Z1", 1, 0},
      {"123", "Z1", 1, 1}, {"5  ", "Z9", 0, 0}, {"6  ", "Z1", 0, 0},
  };
  for (const Case& k : cases) {
    int n = -1, m = -1;
    EXPECT_EQ(CountReaderPermissions(*conn_, k.code, k.cls, &n).sqlcode(), 0);
    EXPECT_EQ(CountReaderTimeBlocks(*conn_, k.code, k.cls, &m).sqlcode(), 0);
    EXPECT_EQ(n, k.permissions) << k.cls << "/" << k.code;
    EXPECT_EQ(m, k.blocks) << k.cls << "/" << k.code;
  }
}

TEST_F(BadgeQueriesTest, TerminalTypeTrimmedOrUntouched) {
  db_.Exec(
      "INSERT INTO \"ZrSystem.Zrt114Tsm\" (TsmNam, TsmTyp) VALUES "
      "('T1', 'KT300   '), ('T2', NULL);");
  std::string type = "old";
  EXPECT_EQ(GetTerminalType(*conn_, "T1", &type).sqlcode(), 0);
  EXPECT_EQ(type, "KT300");
  EXPECT_EQ(GetTerminalType(*conn_, "T2", &type).sqlcode(), 0);
  EXPECT_EQ(type, "");
  type = "old";
  EXPECT_EQ(GetTerminalType(*conn_, "T9", &type).sqlcode(), kSqlNotFound);
  EXPECT_EQ(type, "old");
}

TEST_F(BadgeQueriesTest, LocationShortTextKeepsAtMostThreeCharacters) {
  db_.Exec(
      "INSERT INTO \"ZrSystem.Zrt113Sto\" (StoNum, StoKtx) VALUES "
      "('1', 'AB'), ('2', 'ABCDE'), ('3', 'XYZ   '), ('4', 'A B  ');"
      "INSERT INTO \"ZrSystem.Zrt113Awv\" (AwvNum, AwvSto) VALUES "
      "('B1', '1'), ('B2', '2'), ('B3', '3'), ('B4', '4'), ('B5', '99');");
  struct Case {
    const char* badge;
    int rc;
    const char* want;
  } cases[] = {
      {"B1", 0, "AB"},
      {"B2", 0, "ABC"},
      {"B3", 0, "XYZ"},
      {"B4", 0, "A B"},
      {"B5", kSqlNotFound, "old"},  // location without a text row
      {"B6", kSqlNotFound, "old"},  // no location at all
  };
  for (const Case& k : cases) {
    BadgeRecord r;
    r.badge_number = k.badge;
    r.location_short = "old";
    EXPECT_EQ(GetLocationShortText(*conn_, &r).sqlcode(), k.rc) << k.badge;
    EXPECT_EQ(r.location_short, k.want) << k.badge;
  }
}

TEST(BadgeFailureTest, ErrorsLeaveEveryOutputUntouched) {
  Connection c;  // no backend: every statement fails
  BadgeRecord r;
  r.badge_number = "B1";
  r.location_short = "old";
  int n = 42;
  std::string s = "old";
  EXPECT_LT(CountReaderPermissions(c, "Z1", "5  ", &n).sqlcode(), 0);
  EXPECT_LT(CountReaderTimeBlocks(c, "Z1", "5  ", &n).sqlcode(), 0);
  EXPECT_EQ(n, 42);
  EXPECT_LT(GetTerminalType(c, "T1", &s).sqlcode(), 0);
  EXPECT_EQ(s, "old");
  EXPECT_LT(GetLocationShortText(c, &r).sqlcode(), 0);
  EXPECT_EQ(r.location_short, "old");
  EXPECT_LT(OpenReaderCursor(c, "T1", 11).sqlcode(), 0);
  EXPECT_LT(FetchReader(c, &n, &s).sqlcode(), 0);
  EXPECT_EQ(n, 42);
  EXPECT_EQ(s, "old");
}

TEST(BadgeFormatTest, PadClassAndZeroFill) {
  struct Case {
    const char* in;
    const char* pad;
    const char* fill;
  } cases[] = {
      {"", "   ", "00000000"},           {"5", "5  ", "00000005"},
      {"12", "12 ", "00000012"},         {"123", "123", "00000123"},
      {"1234", "1234", "00001234"},      {"12345", "12345", "00012345"},
      {"12345678", "12345", "12345678"},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(PadClass(k.in), k.pad) << k.in;
    EXPECT_EQ(ZeroFill8(k.in), k.fill) << k.in;
  }
}

}  // namespace
}  // namespace plom
