// A schema's answers read at once answer every badge as its own statements
// would: same texts, same sqlcode, for regular keys, missing rows,
// overflows, ties and keys the database compares otherwise.
#include "installation/bulk_answers.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "installation/badge_queries.h"
#include "installation/balance_queries.h"
#include "tests/test_util.h"

namespace plom {
namespace {

using test::DateTime;
using test::TestDb;

int Year() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm.tm_year + 1900;
}

struct Badge {
  const char* num;  // AswNum as stored
  const char* pnr;  // AswPnr as stored (nullptr: NULL)
  const char* key;  // the personnel number as the badge cursor reads it
};

// Regular persons, missing rows, a person with two badges, a key with a
// trailing blank, an empty key, and a tie of two day records.
const Badge kBadges[] = {
    {"B1", "P1", "P1"}, {"B2", "P2", "P2"},   {"B3", "P3", "P3"}, {"B3b", "P3", "P3"},
    {"B4", "P4 ", "P4"}, {"B5", "", ""},      {"B6", nullptr, ""}, {"B7", "P7", "P7"},
    {"B8", "P8", "P8"},
};

std::string Lit(const char* s) { return s == nullptr ? "NULL" : "'" + std::string(s) + "'"; }

class BulkAnswersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.AddClientTables("MND1");
    const std::string y = DateTime(-1), today = DateTime(0), before = DateTime(-5);
    const std::string year = std::to_string(Year());
    db_.Exec("INSERT INTO \"ZrSystem.Zrt112Mnd\" (MndLiz, MndNum, MndSch) VALUES (1, 1, 'MND1');");
    for (const Badge& b : kBadges) {
      db_.Exec(
          "INSERT INTO \"ZrSystem.Zrt301Asw\" (AswNum, AswPnr, AswBkl, AswLiz, AswMnd) VALUES (" +
          Lit(b.num) + ", " + Lit(b.pnr) + ", '5', 1, 1);");
    }
    auto tgb = [&](const char* pnr, const std::string& day, const std::string& values) {
      db_.Exec(
          "INSERT INTO Zrt320Tgb (TgbPnr, TgbZtr, TgbDtm, TgbVt1, TgbSa1, TgbVt2, TgbSa2, TgbVt3, "
          "TgbSa3, TgbVt4, TgbSa4, TgbVt5, TgbSa5, TgbVt6, TgbSa6, TgbVt7, TgbSa7) VALUES (" +
          Lit(pnr) + ", 1, '" + day + "', " + values + ");");
    };
    tgb("P1", y, "60, 15, -100, 25, NULL, -1, 6000, NULL, 300, 300, NULL, NULL, 599, 1");
    tgb("P1", today, "1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1");
    tgb("P3", y, "-7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5");
    tgb("P4", y, "1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14");
    tgb("", y, "9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9");
    db_.Exec(
        "INSERT INTO \"MND1.Zrt300Pnr\" VALUES ('P1', 7, 'Herr'), ('P3', -2, NULL), "
        "('P4', 0, 'Frau'), ('', 1, 'leer');"
        "INSERT INTO \"MND1.Zrt332Urv\" VALUES ('P1', " +
        year + ", 20.5, 3), ('P1', " + std::to_string(Year() - 1) + ", 99, 99), ('P3', " +
        year + ", NULL, 1.25), ('P7', " + year + ", 10, 0), ('', " + year +
        ", 1, 1);"
        "INSERT INTO \"MND1.Zrt332Utg\" VALUES ('P1', '" +
        before + "', 1, 2, 3), ('P1', '" + y + "', 4.5, NULL, 6), ('P1', '" + DateTime(3) +
        "', 7, 8, 9), ('P4', '" + y + "', 1, 1, 1), ('P7', '" + y + "', 1, 2, 3), ('P7', '" + y +
        "', 3, 2, 1), ('P8', '" + y + "', 5, 5, 5), ('P8', '" + y + "', 5, 5, 5);"
        "INSERT INTO \"ZrSystem.Zrt113Sto\" VALUES ('12', 'Halle Nord'), ('13', NULL);"
        "INSERT INTO \"ZrSystem.Zrt113Awv\" VALUES ('B1', '12'), ('B3', '13'), ('B4', '99'), "
        "('B7', '12'), ('B7', '13');");
    conn_ = db_.Connect();
  }

  std::vector<BadgeRecord> Records() const {
    std::vector<BadgeRecord> out;
    for (const Badge& b : kBadges) {
      BadgeRecord r;
      r.badge_number = b.num;
      r.personnel_number = b.key;
      r.pnr_spr = "old";
      r.pnr_sal = "old";
      r.location_short = "old";
      out.push_back(r);
    }
    return out;
  }

  // Every lookup of every badge through the answers read at once and
  // through its own statements: the same outcome and the same texts.
  void ExpectSameAnswers(BulkAnswers& bulk) {
    using Lookup = Status (*)(BulkAnswers&, Connection&, BadgeRecord*);
    using Own = Status (*)(Connection&, BadgeRecord*);
    struct Case {
      const char* name;
      Lookup bulk;
      Own own;
    } cases[] = {
        {"balances", [](BulkAnswers& b, Connection& c, BadgeRecord* r) { return b.Balances(c, "MND1", r); },
         [](Connection& c, BadgeRecord* r) { return GetBalances(c, r); }},
        {"person", [](BulkAnswers& b, Connection& c, BadgeRecord* r) { return b.Person(c, "MND1", r); },
         [](Connection& c, BadgeRecord* r) { return GetPersonSprSal(c, "MND1", r); }},
        {"location",
         [](BulkAnswers& b, Connection& c, BadgeRecord* r) { return b.LocationShortText(c, "MND1", r); },
         [](Connection& c, BadgeRecord* r) { return GetLocationShortText(c, r); }},
        {"vacation", [](BulkAnswers& b, Connection& c, BadgeRecord* r) { return b.Vacation(c, "MND1", r); },
         [](Connection& c, BadgeRecord* r) { return GetVacation(c, "MND1", r); }},
    };
    for (const Case& k : cases) {
      for (const BadgeRecord& r : Records()) {
        BadgeRecord got = r, want = r;
        Status g = k.bulk(bulk, *conn_, &got);
        Status w = k.own(*conn_, &want);
        std::string where = std::string(k.name) + " of badge " + r.badge_number;
        EXPECT_EQ(g.sqlcode(), w.sqlcode()) << where;
        EXPECT_EQ(g.outcome(), w.outcome()) << where;
        EXPECT_EQ(got.balance, want.balance) << where;
        EXPECT_EQ(got.vacation, want.vacation) << where;
        EXPECT_EQ(got.pnr_spr, want.pnr_spr) << where;
        EXPECT_EQ(got.pnr_sal, want.pnr_sal) << where;
        EXPECT_EQ(got.location_short, want.location_short) << where;
      }
    }
  }

  TestDb db_;
  std::unique_ptr<Connection> conn_;
};

TEST_F(BulkAnswersTest, AnswersAsTheBadgesOwnStatements) {
  BulkAnswers bulk(32u << 20);
  ExpectSameAnswers(bulk);
  EXPECT_GT(bulk.bytes(), 0u);
}

// Kept answers are asked no more: after the first badge read its schema's
// tables, a regular key costs no statement; an empty key, a tie of two
// different day records and a badge with two different location texts ask
// their own.
TEST_F(BulkAnswersTest, KeptAnswersCostNoStatement) {
  BulkAnswers bulk(32u << 20);
  BadgeRecord first = Records()[0];
  ASSERT_TRUE(bulk.Balances(*conn_, "MND1", &first).ok());
  ASSERT_TRUE(bulk.Person(*conn_, "MND1", &first).ok());
  ASSERT_TRUE(bulk.LocationShortText(*conn_, "MND1", &first).ok());
  ASSERT_TRUE(bulk.Vacation(*conn_, "MND1", &first).ok());
  EXPECT_EQ(conn_->statements_sent(), 5);
  struct Case {
    size_t badge;
    int64_t statements;  // for all four lookups
  } cases[] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 4}, {6, 4}, {7, 3}, {8, 0}};
  for (const Case& k : cases) {
    BadgeRecord r = Records()[k.badge];
    int64_t before = conn_->statements_sent();
    (void)bulk.Balances(*conn_, "MND1", &r);
    (void)bulk.Person(*conn_, "MND1", &r);
    (void)bulk.LocationShortText(*conn_, "MND1", &r);
    (void)bulk.Vacation(*conn_, "MND1", &r);
    EXPECT_EQ(conn_->statements_sent() - before, k.statements) << r.badge_number;
  }
  bulk.Forget("MND1");
  EXPECT_EQ(bulk.bytes(), 0u);
}

// Where a table's answers cannot be kept, every badge asks its own
// statements, with their own answers: over the memory bound; a sum beyond
// the 32-bit range and a number that does not fit (a bad value of one
// person's row); a key longer than the badge cursor reads it.
TEST_F(BulkAnswersTest, TablesNotKeptAnswerByTheBadgesStatements) {
  struct Case {
    const char* name;
    size_t bound;
    const char* sql;
    const char* undo;
  } cases[] = {
      {"over the bound", 0, "", ""},
      {"overflow", 32u << 20,
       "INSERT INTO Zrt320Tgb (TgbPnr, TgbZtr, TgbDtm, TgbVt1, TgbSa1) VALUES ('P2', 1, "
       "'{Y}', 2147483647, 1);"
       "INSERT INTO \"MND1.Zrt300Pnr\" VALUES ('P2', 4294967296, 'x');",
       "DELETE FROM Zrt320Tgb WHERE TgbPnr = 'P2';"
       "DELETE FROM \"MND1.Zrt300Pnr\" WHERE PnrNum = 'P2';"},
      {"long key", 32u << 20,
       "INSERT INTO \"ZrSystem.Zrt301Asw\" (AswNum, AswPnr, AswBkl, AswLiz, AswMnd) VALUES "
       "('B9', 'P1xxxxxxxx', '5', 1, 1);"
       "INSERT INTO Zrt320Tgb (TgbPnr, TgbZtr, TgbDtm) VALUES ('P1xxxxxxxx', 1, '{Y}');"
       "INSERT INTO \"MND1.Zrt300Pnr\" VALUES ('P1xxxxxxxx', 1, 'x');",
       "DELETE FROM \"ZrSystem.Zrt301Asw\" WHERE AswNum = 'B9';"
       "DELETE FROM Zrt320Tgb WHERE TgbPnr = 'P1xxxxxxxx';"
       "DELETE FROM \"MND1.Zrt300Pnr\" WHERE PnrNum = 'P1xxxxxxxx';"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::string sql = k.sql;
    if (size_t at = sql.find("{Y}"); at != std::string::npos) sql.replace(at, 3, DateTime(-1));
    db_.Exec(sql);
    BulkAnswers bulk(k.bound);
    ExpectSameAnswers(bulk);
    if (k.bound == 0) {
      EXPECT_EQ(bulk.bytes(), 0u);
    }
    db_.Exec(k.undo);
  }
}

// A table whose statement fails is the run's failure, not "no row"; it is
// not kept, so the next badge asks again.
TEST_F(BulkAnswersTest, AFailedTableIsNotAnAnswer) {
  BulkAnswers bulk(32u << 20);
  db_.Exec("ALTER TABLE \"MND1.Zrt300Pnr\" RENAME TO gone;");
  BadgeRecord r = Records()[0];
  Status s = bulk.Person(*conn_, "MND1", &r);
  EXPECT_TRUE(s.failed());
  EXPECT_STREQ(s.what(), "Zrt300Pnr");
  EXPECT_EQ(r.pnr_sal, "old");
  db_.Exec("ALTER TABLE gone RENAME TO \"MND1.Zrt300Pnr\";");
  EXPECT_TRUE(bulk.Person(*conn_, "MND1", &r).ok());
  EXPECT_EQ(r.pnr_sal, "Herr");
}

}  // namespace
}  // namespace plom
