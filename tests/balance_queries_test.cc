// Balance and vacation texts, labels, and the person, balance and vacation
// queries against embedded client schemas.
#include "installation/balance_queries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "installation/access_rights.h"
#include "tests/test_util.h"

namespace plom {
namespace {

using test::DateTime;
using test::TestDb;

const char kZero[] = "  0,00 ";

TEST(BalanceTextTest, MinutesAsHoursCommaMinutesAndSign) {
  struct Case {
    int32_t minutes;
    const char* text;
  } cases[] = {
      {0, "  0,00 "},         {59, "  0,59 "},        {60, "  1,00 "},    {-1, "  0,01-"},
      {-75, "  1,15-"},       {599, "  9,59 "},       {-599, "  9,59-"},  {600, " 10,00 "},
      {-600, " 10,00-"},      {5999, " 99,59 "},      {-5999, " 99,59-"}, {6000, "100,00 "},
      {-6000, "100,00-"},     {59999, "999,59 "},     {60000, "1000,00"}, {-60000, "1000,00"},
      {INT32_MAX, "3579139"}, {INT32_MIN, "3579139"},
  };
  for (const Case& k : cases) EXPECT_EQ(BalanceText(k.minutes), k.text) << k.minutes;
}

TEST(BalanceTextTest, VacationDaysWithDecimalComma) {
  struct Case {
    double days;
    const char* text;
  } cases[] = {
      {0.0, "  0,00 "},    {2.5, "  2,50 "},    {-2.5, "  2,50-"},   {10, " 10,00 "},
      {-10, " 10,00-"},    {99.5, " 99,50 "},   {100, "100,00 "},    {-100, "100,00-"},
      {9.999, "  10,00"},  {1234.5, "1234,50"}, {-0.004, "  0,00-"}, {0.005, "  0,01 "},
      {99.999, " 100,00"}, {-9.5, "  9,50-"},   {1e9, "1000000"},
  };
  for (const Case& k : cases) EXPECT_EQ(VacationText(k.days), k.text) << k.days;
}

class BalanceQueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.AddClientTables("MND1");
    conn_ = db_.Connect();
  }

  BadgeRecord Badge(const char* pnr) {
    BadgeRecord r;
    r.personnel_number = pnr;
    return r;
  }

  TestDb db_;
  std::unique_ptr<Connection> conn_;
  std::string schema_ = "MND1";
};

TEST_F(BalanceQueriesTest, BalancesOfThePreviousDay) {
  const std::string yesterday = DateTime(-1), today = DateTime(0), before = DateTime(-2);
  db_.Exec(
      "INSERT INTO Zrt320Tgb (TgbPnr, TgbZtr, TgbDtm, TgbVt1, TgbSa1, TgbVt2, TgbSa2, TgbVt3, "
      "TgbSa3, TgbVt4, TgbSa4, TgbVt5, TgbSa5, TgbVt6, TgbSa6, TgbVt7, TgbSa7) VALUES "
      "('P1', 1, '" +
      yesterday +
      "', 60, 15, -100, 25, NULL, -1, 6000, NULL, 300, 300, "
      "NULL, NULL, 599, 1), "
      "('P1', 1, '" +
      today +
      "', 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1), "
      "('P1', 1, '" +
      before +
      "', 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2), "
      "('P1', 2, '" +
      yesterday +
      "', 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3), "
      "('P2', 1, '" +
      yesterday +
      "', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
      "NULL, NULL, NULL, NULL, NULL);");
  BadgeRecord r = Badge("P1");
  EXPECT_EQ(GetBalances(*conn_, &r).sqlcode(), 0);
  const char* want[8] = {"  1,15 ", "  1,15-", "  0,01-", "100,00 ",
                         " 10,00 ", kZero,     " 10,00 ", "  0,00 "};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(r.balance[i], want[i]) << "balance " << i + 1;

  BadgeRecord s = Badge("P2");  // every column missing
  EXPECT_EQ(GetBalances(*conn_, &s).sqlcode(), 0);
  for (const std::string& t : s.balance) EXPECT_EQ(t, kZero);
}

// SQL Server adds the int columns left to right: a partial sum beyond 32
// bits fails the statement as one person's bad value, even where the whole
// sum would fit again. Sums that stay within the range come back whole.
TEST_F(BalanceQueriesTest, PartialSumBeyond32BitsIsAnOverflow) {
  const struct {
    const char* vt1;
    const char* sa1;
    const char* vt2;
    const char* sa2;
    bool overflow;
  } cases[] = {
      {"2147483000", "0", "1000", "-1000", true},   // (vt1 + sa1) + vt2 leaves the range
      {"2147483000", "647", "0", "0", false},       // exactly the largest int
      {"-2147483648", "0", "0", "0", false},        // exactly the smallest
      {"-2147483648", "-1", "0", "1", true},        // the first sum already
      {"1000", "-1000", "2147483000", "0", false},  // in this order it fits
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.vt1) + " " + k.sa1 + " " + k.vt2 + " " + k.sa2);
    db_.Exec("DELETE FROM Zrt320Tgb; INSERT INTO Zrt320Tgb (TgbPnr, TgbZtr, TgbDtm, TgbVt1, "
             "TgbSa1, TgbVt2, TgbSa2) VALUES ('P1', 1, '" + DateTime(-1) + "', " + k.vt1 + ", " +
             k.sa1 + ", " + k.vt2 + ", " + k.sa2 + ");");
    BadgeRecord r = Badge("P1");
    Status s = GetBalances(*conn_, &r);
    if (k.overflow) {
      EXPECT_TRUE(s.bad_value()) << s.reason();
      EXPECT_EQ(s.sqlcode(), kSqlIntOverflow);
      for (const std::string& t : r.balance) EXPECT_EQ(t, kZero);
    } else {
      EXPECT_TRUE(s.ok()) << s.reason();
    }
  }
}

TEST_F(BalanceQueriesTest, NoBalanceRowShowsZeroNotThePreviousBadge) {
  db_.Exec(
      "INSERT INTO Zrt320Tgb (TgbPnr, TgbZtr, TgbDtm, TgbVt1, TgbSa1, TgbVt2, TgbVt3, "
      "TgbVt4, TgbVt5, TgbVt6, TgbVt7) VALUES ('P1', 1, '" +
      DateTime(-1) + "', 100, 20, 30, 40, 50, 60, 70, 80);");
  BadgeRecord r = Badge("P1");
  EXPECT_EQ(GetBalances(*conn_, &r).sqlcode(), 0);
  EXPECT_EQ(r.balance[0], "  2,00 ");
  // The next badge's person has no row: the texts show zero, and so they do
  // even when the record was not cleared in between.
  BadgeRecord s = Badge("P9");
  EXPECT_EQ(GetBalances(*conn_, &s).sqlcode(), kSqlNotFound);
  for (const std::string& t : s.balance) EXPECT_EQ(t, kZero);
  r.personnel_number = "P9";
  EXPECT_EQ(GetBalances(*conn_, &r).sqlcode(), kSqlNotFound);
  for (const std::string& t : r.balance) EXPECT_EQ(t, kZero);
  // An error, too.
  Connection dead;
  EXPECT_LT(GetBalances(dead, &r).sqlcode(), 0);
  for (const std::string& t : r.balance) EXPECT_EQ(t, kZero);
}

TEST_F(BalanceQueriesTest, LabelsPaddedOrCutToThirteen) {
  db_.Exec(
      "INSERT INTO \"ZrSystem.O2001SALTEXTE\" (StxNum, StxTxt) VALUES "
      "(300, 'too low'), (309, 'too high'), "
      "(303, 'Saldo'), (301, 'Zwoelf_Zeich'), (302, 'Dreizehn_Zeic'), "
      "(304, 'Fuenfzehn_Zeich'), (305, ''), (306, NULL), (307, 'Urlaub   \t');");
  LabelSlots slots;
  slots.fill("prepared");
  EXPECT_TRUE(ReadLabels(*conn_, &slots).ok());
  const char* want[] = {"Zwoelf_Zeich ", "Dreizehn_Zeic", "Saldo        ", "Fuenfzehn_Zei",
                        "             ", "             ", "Urlaub       ",
                        "prepared"};  // 308 is missing
  for (size_t i = 0; i < slots.size(); ++i) EXPECT_EQ(slots[i], want[i]) << i;
  Connection dead;
  EXPECT_TRUE(ReadLabels(dead, &slots).failed());
}

TEST_F(BalanceQueriesTest, PersonSprSalOrUntouched) {
  db_.Exec(
      "INSERT INTO \"MND1.Zrt300Pnr\" (PnrNum, PnrSpr, PnrSal) VALUES "
      "('P1', 42, 'Herr   '), ('P2', -7, 'Frau Doktor Prof'), ('P3', NULL, NULL), "
      "('O''N', 3, 'Herr'), ('X', 9, 'Wrong');");
  struct Case {
    const char* pnr;
    int rc;
    const char* spr;
    const char* sal;
  } cases[] = {
      {"P1", 0, "42", "Herr"}, {"P2", 0, "-7", "Frau Dokto"}, {"P3", 0, "0", ""},
      {"O'N", 0, "3", "Herr"}, {"P9", kSqlNotFound, "", ""},  {"' OR 'X'='X", kSqlNotFound, "", ""},
  };
  for (const Case& k : cases) {
    BadgeRecord r = Badge(k.pnr);
    EXPECT_EQ(GetPersonSprSal(*conn_, schema_, &r).sqlcode(), k.rc) << k.pnr;
    EXPECT_EQ(r.pnr_spr, k.spr) << k.pnr;
    EXPECT_EQ(r.pnr_sal, k.sal) << k.pnr;
  }
  // Not found leaves what the record holds.
  BadgeRecord r = Badge("P1");
  EXPECT_EQ(GetPersonSprSal(*conn_, schema_, &r).sqlcode(), 0);
  r.personnel_number = "P9";
  EXPECT_EQ(GetPersonSprSal(*conn_, schema_, &r).sqlcode(), kSqlNotFound);
  EXPECT_EQ(r.pnr_spr, "42");
  EXPECT_EQ(r.pnr_sal, "Herr");
}

class BalanceVacationTest : public BalanceQueriesTest {
 protected:
  int Year(int offset) {
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    return tm.tm_year + 1900 + offset;
  }
  void AddYear(const char* pnr, int year, const char* gur, const char* vjr) {
    db_.Exec("INSERT INTO \"MND1.Zrt332Urv\" (UrvPnr, UrvJhr, UrvGur, UrvVjr) VALUES ('" +
             std::string(pnr) + "', " + std::to_string(year) + ", " + gur + ", " + vjr + ");");
  }
  void AddDay(const char* pnr, int offset, const char* vtg, const char* rtg, const char* gut) {
    db_.Exec("INSERT INTO \"MND1.Zrt332Utg\" (UtgPnr, UtgDtm, UtgVtg, UtgRtg, UtgGut) VALUES ('" +
             std::string(pnr) + "', '" + DateTime(offset) + "', " + vtg + ", " + rtg + ", " + gut +
             ");");
  }
  static std::string Texts(const BadgeRecord& r) {
    std::string s;
    for (const std::string& t : r.vacation) s += "[" + t + "]";
    return s;
  }
};

TEST_F(BalanceVacationTest, TextsFromTheYearAndTheLatestDayRecord) {
  AddYear("P1", Year(0), "30", "2.5");
  AddYear("P1", Year(-1), "99", "99");
  AddDay("P1", -10, "1", "1", "1");
  AddDay("P1", -3, "12.5", "-1.25", "100");  // latest up to today
  AddDay("P1", 1, "7", "7", "7");            // tomorrow: not yet
  BadgeRecord r = Badge("P1");
  EXPECT_EQ(GetVacation(*conn_, schema_, &r).sqlcode(), 0);
  // URVGUR, UtgGut, UtgVtg, UtgRtg, URVVJR.
  EXPECT_EQ(Texts(r), "[ 30,00 ][100,00 ][ 12,50 ][  1,25-][  2,50 ]");
}

TEST_F(BalanceVacationTest, MissingRowsShowZeroAndAddUpTheirCodes) {
  AddYear("PY", Year(0), "30", "2.5");
  AddDay("PD", 0, "4", "5", "6");
  AddYear("PN", Year(0), "NULL", "NULL");
  AddDay("PN", 0, "NULL", "NULL", "NULL");
  AddYear("PO", Year(1), "8", "8");  // another year only
  struct Case {
    const char* pnr;
    int rc;
    const char* texts;
  } cases[] = {
      {"PY", kSqlNotFound, "[ 30,00 ][  0,00 ][  0,00 ][  0,00 ][  2,50 ]"},
      {"PD", kSqlNotFound, "[  0,00 ][  6,00 ][  4,00 ][  5,00 ][  0,00 ]"},
      {"PN", 0, "[  0,00 ][  0,00 ][  0,00 ][  0,00 ][  0,00 ]"},
      {"PO", 200, "[  0,00 ][  0,00 ][  0,00 ][  0,00 ][  0,00 ]"},
      {"P9", 200, "[  0,00 ][  0,00 ][  0,00 ][  0,00 ][  0,00 ]"},
  };
  for (const Case& k : cases) {
    BadgeRecord r = Badge(k.pnr);
    EXPECT_EQ(GetVacation(*conn_, schema_, &r).sqlcode(), k.rc) << k.pnr;
    EXPECT_EQ(Texts(r), k.texts) << k.pnr;
  }
}

TEST_F(BalanceVacationTest, NoFiguresCarriedToTheNextBadge) {
  AddYear("P1", Year(0), "30", "2.5");
  AddDay("P1", 0, "4", "5", "6");
  BadgeRecord r = Badge("P1");
  EXPECT_EQ(GetVacation(*conn_, schema_, &r).sqlcode(), 0);
  // Same record reused for a person with nothing, then one with only a day.
  r.personnel_number = "P2";
  EXPECT_EQ(GetVacation(*conn_, schema_, &r).sqlcode(), 200);
  EXPECT_EQ(Texts(r), "[  0,00 ][  0,00 ][  0,00 ][  0,00 ][  0,00 ]");
  AddDay("P3", -1, "1", "NULL", "2");
  r.personnel_number = "P3";
  EXPECT_EQ(GetVacation(*conn_, schema_, &r).sqlcode(), kSqlNotFound);
  EXPECT_EQ(Texts(r), "[  0,00 ][  2,00 ][  1,00 ][  0,00 ][  0,00 ]");
}

TEST_F(BalanceVacationTest, KeyWithQuoteSelectsOnlyItsOwnRows) {
  AddYear("O''N", Year(0), "11", "1");
  AddYear("P1", Year(0), "22", "2");
  BadgeRecord r = Badge("O'N");
  EXPECT_EQ(GetVacation(*conn_, schema_, &r).sqlcode(), kSqlNotFound);
  EXPECT_EQ(r.vacation[0], " 11,00 ");
  BadgeRecord s = Badge("' OR ''='");
  EXPECT_EQ(GetVacation(*conn_, schema_, &s).sqlcode(), 200);
  EXPECT_EQ(s.vacation[0], kZero);
}

// A failing fetch is reported as the error it is, never added to the other
// fetch's "not found" (-1 + 100 would read as a positive code).
TEST_F(BalanceVacationTest, MissingTableIsAnErrorNotAMissingRow) {
  const std::pair<const char*, const char*> cases[] = {{"MND4", "Zrt332Urv"},
                                                       {"MND5", "Zrt332Utg"}};
  for (const auto& [schema, table] : cases) {
    SCOPED_TRACE(table);
    db_.AddClientTables(schema);
    db_.Exec(std::string("DROP TABLE \"") + schema + "." + table + "\";");
    BadgeRecord r = Badge("P1");
    EXPECT_LT(GetVacation(*conn_, schema, &r).sqlcode(), 0);
    EXPECT_EQ(Texts(r), "[  0,00 ][  0,00 ][  0,00 ][  0,00 ][  0,00 ]");
  }
}

TEST_F(BalanceVacationTest, RefusedSchemaRunsNothingAndShowsZero) {
  AddYear("P1", Year(0), "30", "2.5");
  BadgeRecord r = Badge("P1");
  r.vacation.fill("old");
  schema_ = "MND 1";
  int64_t before = conn_->statements_sent();
  EXPECT_EQ(GetVacation(*conn_, schema_, &r).sqlcode(), kInvalidSchema);
  EXPECT_EQ(GetPersonSprSal(*conn_, schema_, &r).sqlcode(), kInvalidSchema);
  EXPECT_EQ(conn_->statements_sent(), before);
  EXPECT_EQ(Texts(r), "[  0,00 ][  0,00 ][  0,00 ][  0,00 ][  0,00 ]");
  EXPECT_EQ(r.pnr_spr, "");
}

}  // namespace
}  // namespace plom

namespace plom {
namespace {

// The vacation text equals its printf form for every value: ties, values
// just beside them, large, negative and odd ones.
TEST(BalanceVacationTextTest, MatchesPrintfFormatting) {
  auto printf_form = [](double x) {
    const char* sign = x < 0 ? "-" : " ";
    double mag = x < 0 ? -x : x;
    const char* prefix = (x >= 100 || x <= -100) ? "" : (x >= 10 || x <= -10) ? " " : "  ";
    char buf[512];
    snprintf(buf, sizeof buf, "%s%.2f%s", prefix, mag, sign);
    std::string t = buf;
    size_t dot = t.find('.');
    if (dot != std::string::npos) t[dot] = ',';
    return t.substr(0, 7);
  };
  std::vector<double> values = {0.0,   -0.0,  0.005,  0.015,  0.125,   0.375,  2.675,
                                1.005, 9.995, 99.995, 0.0049, -0.004,  1e14,   1e16,
                                1e300, -2.5,  12.345, 0.625,  1.0 / 3, 2.0 / 3};
  uint64_t seed = 42;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    double v = static_cast<double>(seed >> 11) / static_cast<double>(1ULL << 53);
    values.push_back((v - 0.5) * 400);
    values.push_back(std::round(v * 4000) / 8 - 250);  // exact ties in binary
  }
  for (double v : values) EXPECT_EQ(VacationText(v), printf_form(v)) << v;
}

}  // namespace
}  // namespace plom
