// Access-right queries and the access-right resolution against embedded
// client schemas.
#include "installation/access_rights.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_util.h"

namespace plom {
namespace {

using test::DateTime;
using test::Lit;
using test::TestDb;
using test::Ymd;

class AccessRightsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.AddClientTables("MND1");
    conn_ = db_.Connect();
    past_ = DateTime(-30);
    future_ = DateTime(30);
  }

  void Exec(const std::string& sql) { db_.Exec(sql); }

  // An access right; columns not given stay NULL.
  void AddRight(const std::string& column, const std::string& key, const char* bkl, const char* gvo,
                const char* gbi, const std::string& schema = "MND1") {
    Exec("INSERT INTO \"" + schema + ".Zrt408Bzu\" (" + column + ", BzuBkl, BzuGvo, BzuGbi) " +
         "VALUES (" + Lit(key) + ", " + Lit(bkl) + ", " + Lit(gvo) + ", " + Lit(gbi) + ");");
  }
  void AddAssignment(const char* pnr, const char* kst, const char* abt, const char* gvo,
                     const char* gbi) {
    Exec("INSERT INTO \"MND1.Zrt311Zuo\" (ZuoPnr, ZuoKst, ZuoAbt, ZuoGvo, ZuoGbi) VALUES (" +
         Lit(pnr) + ", " + Lit(kst) + ", " + Lit(abt) + ", " + Lit(gvo) + ", " + Lit(gbi) + ");");
  }

  // A badge of class "0" with its own validity, as the badge fetch leaves it.
  BadgeRecord Badge(const char* group, const char* pnr) {
    BadgeRecord r;
    r.badge_number = "B1";
    r.access_class = "0  ";
    r.valid_from = "20000101";
    r.valid_to = "20991231";
    r.badge_group = group;
    r.personnel_number = pnr;
    return r;
  }

  TestDb db_;
  std::unique_ptr<Connection> conn_;
  std::string schema_ = "MND1";
  std::string past_, future_;
};

// The resolution on a database that answers: whether the class is resolved.
bool Resolves(Connection& c, const std::string& schema, BadgeRecord* r,
              AccessRightCache* cache = nullptr) {
  bool resolved = false;
  Status s = ResolveAccessClass(c, schema, r, &resolved, cache);
  EXPECT_TRUE(s.ok()) << s.reason();
  return resolved;
}

TEST_F(AccessRightsTest, RightWindowsDecideTheBadgeGroupHit) {
  const std::string p2 = DateTime(-2), f2 = DateTime(2);
  struct Case {
    const char* group;
    const char* gvo;
    const char* gbi;
    bool found;
  } cases[] = {
      {"G1", past_.c_str(), nullptr, true},         {"G2", future_.c_str(), nullptr, false},
      {"G3", nullptr, future_.c_str(), true},       {"G4", nullptr, past_.c_str(), false},
      {"G5", past_.c_str(), future_.c_str(), true}, {"G6", past_.c_str(), p2.c_str(), false},
      {"G7", f2.c_str(), future_.c_str(), false},   {"G8", nullptr, nullptr, false},
  };
  for (const Case& k : cases) AddRight("BzuZau", std::string(k.group) + "  ", "7", k.gvo, k.gbi);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.group);
    BadgeRecord r = Badge(k.group, "P1");
    int rc = BZU_SelAwsGrp(*conn_, schema_, &r);
    if (k.found) {
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(r.access_class, "7  ");
      EXPECT_EQ(r.badge_group, k.group);  // BzuZau, trimmed
      EXPECT_EQ(r.valid_from, k.gvo ? Ymd(-30) : "");
      EXPECT_EQ(r.valid_to, k.gbi ? Ymd(30) : "");
    } else {
      EXPECT_EQ(rc, kSqlNotFound);
      EXPECT_EQ(r.access_class, "0  ");
      EXPECT_EQ(r.valid_from, "20000101");
      EXPECT_EQ(r.valid_to, "20991231");
    }
  }
}

TEST_F(AccessRightsTest, EachQueryWritesItsFields) {
  // Person P1: cost centre K1 (group V1), department A1 (group W1), Akr R1.
  AddAssignment("P1", "K1   ", "A1   ", past_.c_str(), nullptr);
  Exec(
      "INSERT INTO \"MND1.O1003Kststelle\" (KstNum, KstVws) VALUES ('K1', 'V1');"
      "INSERT INTO \"MND1.G1102AbtLst\" (AblAbt, AblVab) VALUES ('A1', 'W1');"
      "INSERT INTO \"MND1.Zrt310Bsv\" (BsvPnr, BsvAkr, BsvGvo, BsvGbi) VALUES "
      "('P1', 'R1', NULL, '" +
      future_ + "');");
  AddRight("BzuKst", "K1", "11", past_.c_str(), future_.c_str());
  AddRight("BzuVks", "V1", "12", past_.c_str(), nullptr);
  AddRight("BzuAbt", "A1", "13", nullptr, future_.c_str());
  AddRight("BzuVab", "W1", "14", past_.c_str(), future_.c_str());
  AddRight("BzuAkr", "R1", "5", past_.c_str(), nullptr);

  struct Case {
    const char* name;
    int (*query)(Connection&, const std::string&, BadgeRecord*);
    const char* cls;
    const char* from;
    const char* to;
    const char* kst;
    const char* abt;
  } cases[] = {
      {"Kst", BZU_SelKst, "11 ", "F", "T", "K1", ""},
      {"KstGrp", BZU_SelKstGrp, "12 ", "F", "", "", ""},
      {"Abt", BZU_SelAbt, "13 ", "", "T", "", "A1"},
      {"AbtGrp", BZU_SelAbtGrp, "14 ", "F", "T", "", ""},
      {"Akr", BZU_SelAkr, "5", "F", "", "", ""},  // class as fetched: not padded
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    BadgeRecord r = Badge("G0", "P1");
    EXPECT_EQ(k.query(*conn_, schema_, &r), 0);
    EXPECT_EQ(r.access_class, k.cls);
    EXPECT_EQ(r.valid_from, *k.from ? Ymd(-30) : "");
    EXPECT_EQ(r.valid_to, *k.to ? Ymd(30) : "");
    EXPECT_EQ(r.cost_centre, k.kst);
    EXPECT_EQ(r.department, k.abt);
    EXPECT_EQ(r.badge_group, "G0");
  }
  // Another person finds none of them.
  for (const Case& k : cases) {
    BadgeRecord r = Badge("G0", "P2");
    EXPECT_EQ(k.query(*conn_, schema_, &r), kSqlNotFound) << k.name;
    EXPECT_EQ(r.access_class, "0  ");
  }
}

TEST_F(AccessRightsTest, EndedPersonAssignmentHidesTheRight) {
  // The right itself is current in every case; only the assignment differs.
  AddRight("BzuKst", "K1", "11", past_.c_str(), nullptr);
  AddRight("BzuAbt", "A1", "13", past_.c_str(), nullptr);
  AddRight("BzuAkr", "R1", "14", past_.c_str(), nullptr);
  const std::string ended = DateTime(-1);
  AddAssignment("P1", "K1", "A1", past_.c_str(), ended.c_str());
  AddAssignment("P2", "K1", "A1", future_.c_str(), nullptr);  // not begun
  AddAssignment("P3", "K1", "A1", nullptr, nullptr);          // no window at all
  Exec(
      "INSERT INTO \"MND1.Zrt310Bsv\" (BsvPnr, BsvAkr, BsvGvo, BsvGbi) VALUES "
      "('P1', 'R1', '" +
      past_ + "', '" + ended + "');");
  for (const char* pnr : {"P1", "P2", "P3"}) {
    BadgeRecord r = Badge("G0", pnr);
    EXPECT_EQ(BZU_SelKst(*conn_, schema_, &r), kSqlNotFound) << pnr;
    EXPECT_EQ(BZU_SelAbt(*conn_, schema_, &r), kSqlNotFound) << pnr;
    EXPECT_EQ(BZU_SelAkr(*conn_, schema_, &r), kSqlNotFound) << pnr;
    EXPECT_EQ(r.access_class, "0  ");
    EXPECT_EQ(r.cost_centre, "");
  }
}

TEST_F(AccessRightsTest, ResolutionTakesTheGroupBeforeTheCostCentre) {
  AddRight("BzuZau", "G1", "21", past_.c_str(), nullptr);
  AddAssignment("P1", "K1", "A1", past_.c_str(), nullptr);
  AddRight("BzuKst", "K1", "22", past_.c_str(), future_.c_str());
  BadgeRecord r = Badge("G1", "P1");
  int64_t before = conn_->statements_sent();
  EXPECT_TRUE(Resolves(*conn_, schema_, &r));
  EXPECT_EQ(conn_->statements_sent() - before, 1);  // only the group query ran
  EXPECT_EQ(r.access_class, "21 ");
  EXPECT_EQ(r.valid_from, Ymd(-30));
  EXPECT_EQ(r.valid_to, "");
  EXPECT_EQ(r.cost_centre, "");
}

TEST_F(AccessRightsTest, ResolutionReachesTheDepartmentGroup) {
  AddAssignment("P1", "K1", "A1", past_.c_str(), nullptr);
  Exec(
      "INSERT INTO \"MND1.O1003Kststelle\" (KstNum, KstVws) VALUES ('K1', 'V1');"
      "INSERT INTO \"MND1.G1102AbtLst\" (AblAbt, AblVab) VALUES ('A1', 'W1');");
  AddRight("BzuZau", "G1", "20", past_.c_str(), DateTime(-1).c_str());  // ended
  AddRight("BzuKst", "K2", "21", past_.c_str(), nullptr);               // other centre
  AddRight("BzuVks", "V1", "22", future_.c_str(), nullptr);             // not yet
  AddRight("BzuAbt", "A2", "23", past_.c_str(), nullptr);               // other department
  AddRight("BzuVab", "W1", "24", nullptr, future_.c_str());
  AddRight("BzuAkr", "R1", "25", past_.c_str(), nullptr);
  Exec("INSERT INTO \"MND1.Zrt310Bsv\" (BsvPnr, BsvAkr, BsvGvo) VALUES ('P1', 'R1', '" + past_ +
       "');");
  BadgeRecord r = Badge("G1", "P1");
  EXPECT_TRUE(Resolves(*conn_, schema_, &r));
  EXPECT_EQ(r.access_class, "24 ");
  EXPECT_EQ(r.valid_from, "");
  EXPECT_EQ(r.valid_to, Ymd(30));
  EXPECT_EQ(r.badge_group, "G1");
  EXPECT_EQ(r.department, "");

  // Without the department group's right the Akr key decides, unpadded.
  Exec("DELETE FROM \"MND1.Zrt408Bzu\" WHERE BzuVab = 'W1';");
  r = Badge("G1", "P1");
  EXPECT_TRUE(Resolves(*conn_, schema_, &r));
  EXPECT_EQ(r.access_class, "25");
}

TEST_F(AccessRightsTest, OnlyClassZeroIsResolved) {
  AddRight("BzuZau", "G1", "21", past_.c_str(), nullptr);
  for (const char* cls : {"05 ", "0", "00 ", "5  ", " 0 "}) {
    BadgeRecord r = Badge("G1", "P1");
    r.access_class = cls;
    int64_t before = conn_->statements_sent();
    EXPECT_TRUE(Resolves(*conn_, schema_, &r)) << cls;
    EXPECT_EQ(conn_->statements_sent(), before) << cls;
    EXPECT_EQ(r.access_class, cls);
    EXPECT_EQ(r.valid_from, "20000101");
  }
}

TEST_F(AccessRightsTest, UnresolvedClassKeepsTheBadgesOwnFields) {
  BadgeRecord r = Badge("G1", "P1");
  int64_t before = conn_->statements_sent();
  EXPECT_FALSE(Resolves(*conn_, schema_, &r));
  EXPECT_EQ(conn_->statements_sent() - before, 6);
  EXPECT_EQ(r.access_class, "0  ");
  EXPECT_EQ(r.valid_from, "20000101");
  EXPECT_EQ(r.valid_to, "20991231");
  EXPECT_EQ(r.badge_group, "G1");
}

TEST_F(AccessRightsTest, KeyWithQuoteIsBoundAsData) {
  AddRight("BzuZau", "A'B", "31", past_.c_str(), nullptr);
  AddRight("BzuZau", "G1", "32", past_.c_str(), nullptr);
  AddAssignment("O'N", "K1", "A1", past_.c_str(), nullptr);
  AddAssignment("P1", "K2", "A2", past_.c_str(), nullptr);
  AddRight("BzuKst", "K1", "33", past_.c_str(), nullptr);
  AddRight("BzuKst", "K2", "34", past_.c_str(), nullptr);

  BadgeRecord r = Badge("A'B", "O'N");
  EXPECT_EQ(BZU_SelAwsGrp(*conn_, schema_, &r), 0);
  EXPECT_EQ(r.access_class, "31 ");
  EXPECT_EQ(r.badge_group, "A'B");
  EXPECT_EQ(BZU_SelKst(*conn_, schema_, &r), 0);
  EXPECT_EQ(r.access_class, "33 ");
  EXPECT_EQ(r.cost_centre, "K1");

  // Keys that would widen the selection if pasted into the text.
  for (const char* key : {"'OR'1", "x' OR", "'", "''"}) {
    BadgeRecord s = Badge(key, key);
    EXPECT_FALSE(Resolves(*conn_, schema_, &s)) << key;
    EXPECT_EQ(s.access_class, "0  ");
  }
}

TEST_F(AccessRightsTest, KeysAreCutToTheirBufferWidth) {
  AddRight("BzuZau", "ABCDE", "41", past_.c_str(), nullptr);
  AddAssignment("12345678", "K1", "A1", past_.c_str(), nullptr);
  AddRight("BzuKst", "K1", "42", past_.c_str(), nullptr);
  BadgeRecord r = Badge("ABCDEFG", "123456789");
  EXPECT_EQ(BZU_SelAwsGrp(*conn_, schema_, &r), 0);
  EXPECT_EQ(r.access_class, "41 ");
  EXPECT_EQ(BZU_SelKst(*conn_, schema_, &r), 0);
  EXPECT_EQ(r.access_class, "42 ");
}

TEST_F(AccessRightsTest, CurrentSchemaSelectsTheClientTables) {
  db_.AddClientTables("MND2");
  AddRight("BzuZau", "G1", "51", past_.c_str(), nullptr, "MND1");
  AddRight("BzuZau", "G1", "52", past_.c_str(), nullptr, "MND2");
  BadgeRecord r = Badge("G1", "P1");
  EXPECT_EQ(BZU_SelAwsGrp(*conn_, schema_, &r), 0);
  EXPECT_EQ(r.access_class, "51 ");
  schema_ = "MND2";
  EXPECT_EQ(BZU_SelAwsGrp(*conn_, schema_, &r), 0);
  EXPECT_EQ(r.access_class, "52 ");
  // A schema without its tables: an error, the record stays.
  schema_ = "MND3";
  r = Badge("G1", "P1");
  EXPECT_LT(BZU_SelAwsGrp(*conn_, schema_, &r), 0);
  EXPECT_EQ(r.access_class, "0  ");
  bool resolved = true;
  EXPECT_TRUE(ResolveAccessClass(*conn_, schema_, &r, &resolved).failed());
  EXPECT_EQ(r.valid_from, "20000101");
}

TEST_F(AccessRightsTest, RefusedSchemaRunsNothing) {
  AddRight("BzuZau", "G1", "51", past_.c_str(), nullptr);
  for (const char* schema : {"MND 1", "", "MND1;", "MND1.x", "ABCDEFGHIJKLMNOPQRSTU"}) {
    schema_ = schema;
    BadgeRecord r = Badge("G1", "P1");
    int64_t before = conn_->statements_sent();
    EXPECT_EQ(BZU_SelAwsGrp(*conn_, schema_, &r), kInvalidSchema) << schema;
    EXPECT_EQ(BZU_SelAkr(*conn_, schema_, &r), kInvalidSchema) << schema;
    bool resolved = true;
    EXPECT_TRUE(ResolveAccessClass(*conn_, schema_, &r, &resolved).failed()) << schema;
    EXPECT_EQ(conn_->statements_sent(), before) << schema;
    EXPECT_EQ(r.access_class, "0  ");
  }
}

TEST(AccessSchemaNameTest, LettersDigitsAndUnderscoreUpToTwenty) {
  struct Case {
    const char* name;
    bool valid;
  } cases[] = {
      {"MND1", true},
      {"mnd_1", true},
      {"_", true},
      {"ABCDEFGHIJKLMNOPQRST", true},
      {"ABCDEFGHIJKLMNOPQRSTU", false},
      {"", false},
      {"MND 1", false},
      {"MND1 ", false},
      {"MND-1", false},
      {"MND'1", false},
      {"a.b", false},
      {"M\xC4ND", false},  // non-ASCII letter
      {"1MND", false},     // starts with a digit
  };
  for (const Case& k : cases) EXPECT_EQ(IsValidSchemaName(k.name), k.valid) << k.name;
}

}  // namespace
}  // namespace plom

namespace plom {
namespace {

// Kept answers resolve exactly as the queries do, per schema and key, and a
// badge group shared by many badges is asked once.
TEST_F(AccessRightsTest, KeptAnswersResolveAsTheQueriesDo) {
  db_.AddClientTables("MND2");
  AddRight("BzuZau", "G1", "5", past_.c_str(), nullptr);
  AddRight("BzuZau", "G1", "7", past_.c_str(), nullptr, "MND2");
  AddRight("BzuKst", "K1", "12", past_.c_str(), nullptr);
  AddAssignment("P1", "K1", nullptr, past_.c_str(), nullptr);

  AccessRightCache cache;
  struct Case {
    const char* schema;
    const char* group;
    const char* pnr;
  } cases[] = {{"MND1", "G1", "P9"}, {"MND1", "G1", "P8"}, {"MND1", "G9", "P1"},
               {"MND1", "G9", "P1"}, {"MND2", "G1", "P1"}, {"MND1", "G9", "P7"}};
  for (const Case& k : cases) {
    schema_ = k.schema;
    BadgeRecord plain = Badge(k.group, k.pnr);
    BadgeRecord kept = plain;
    bool a = Resolves(*conn_, schema_, &plain);
    bool b = Resolves(*conn_, schema_, &kept, &cache);
    EXPECT_EQ(a, b) << k.schema << k.group << k.pnr;
    EXPECT_EQ(plain.access_class, kept.access_class);
    EXPECT_EQ(plain.valid_from, kept.valid_from);
    EXPECT_EQ(plain.valid_to, kept.valid_to);
    EXPECT_EQ(plain.badge_group, kept.badge_group);
    EXPECT_EQ(plain.cost_centre, kept.cost_centre);
  }
  // A repeated badge group sends nothing more.
  schema_ = "MND1";
  BadgeRecord again = Badge("G1", "P5");
  int64_t before = conn_->statements_sent();
  EXPECT_TRUE(Resolves(*conn_, schema_, &again, &cache));
  EXPECT_EQ(conn_->statements_sent(), before);
  EXPECT_EQ(again.access_class, "5  ");
  // Switched off, every query runs.
  AccessRightCache off(false);
  BadgeRecord fresh = Badge("G1", "P5");
  EXPECT_TRUE(Resolves(*conn_, schema_, &fresh, &off));
  EXPECT_GT(conn_->statements_sent(), before);
  EXPECT_TRUE(off.answers.empty());
}

}  // namespace
}  // namespace plom
