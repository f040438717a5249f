// Access and time-recording admission of an access class on a terminal,
// run literally and with the answers kept for the run.
#include "generators/admission.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace plom {
namespace {

using test::TestDb;

class AdmissionTest : public ::testing::Test {
 protected:
  void SetUp() override { conn_ = db_.Connect(); }

  void AddReaders(const std::string& terminal, std::initializer_list<int> numbers) {
    for (int n : numbers) {
      db_.Exec("INSERT INTO \"ZrSystem.Zrt401Zls\" (ZlsTrm, ZlsLes, ZlsZko) VALUES ('" + terminal +
               "', " + std::to_string(n) + ", '" + terminal + "R" + std::to_string(n) + "');");
    }
  }
  // A permission row of the class on the reader of the terminal.
  void Permit(const std::string& cls, const std::string& terminal, int reader, int type = 0) {
    db_.Exec("INSERT INTO \"ZrSystem.Zrt404Zbr\" (ZbrZbk, ZbrZko, ZbrZtb) VALUES ('" + cls +
             "', '" + terminal + "R" + std::to_string(reader) + "', " + std::to_string(type) +
             ");");
  }

  BadgeRecord Badge(const std::string& cls) {
    BadgeRecord r;
    r.access_class = cls;
    r.PresetReaderSlots();
    return r;
  }

  static std::string Slots(const BadgeRecord& r) {
    std::string s;
    for (const std::string& t : r.reader_slot) s += "[" + t + "]";
    return s;
  }

  TestDb db_;
  std::unique_ptr<Connection> conn_;
  AdmissionCache literal_{false};
};

// The answers of the checks on a database that answers.
bool Access(Connection& c, AdmissionCache& cache, BadgeRecord* r, const std::string& terminal,
            int highest, bool record) {
  bool permitted = false;
  Status s = HasAccessPermission(c, cache, r, terminal, highest, record, &permitted);
  EXPECT_TRUE(s.ok()) << s.reason();
  return permitted;
}
bool Time(Connection& c, AdmissionCache& cache, const BadgeRecord& r, const std::string& terminal) {
  bool permitted = false;
  Status s = HasTimePermission(c, cache, r, terminal, &permitted);
  EXPECT_TRUE(s.ok()) << s.reason();
  return permitted;
}

TEST_F(AdmissionTest, TerminalWithoutReaders) {
  Permit("5", "T1", 1);
  BadgeRecord r = Badge("5  ");
  EXPECT_FALSE(Access(*conn_, literal_, &r, "T1", 11, true));
  EXPECT_EQ(Slots(r), "[  ][  ][  ][  ][  ][  ][  ][  ][  ][  ][  ]");
  EXPECT_TRUE(Time(*conn_, literal_, r, "T1"));
}

TEST_F(AdmissionTest, ReadersAboveTheHighestNumberAreNotAsked) {
  AddReaders("T1", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  Permit("5", "T1", 12);
  struct Case {
    int highest;
    bool found;
  } cases[] = {{11, false}, {32, true}, {3, false}, {12, true}};
  for (const Case& k : cases) {
    BadgeRecord r = Badge("5  ");
    EXPECT_EQ(Access(*conn_, literal_, &r, "T1", k.highest, false), k.found)
        << k.highest;
  }
}

TEST_F(AdmissionTest, RecordsEveryReaderFetchedPermittedOrNot) {
  AddReaders("T1", {1, 3, 7});
  Permit("5", "T1", 7);
  BadgeRecord r = Badge("5  ");
  r.reader_slot[1] = "xx";  // slots of absent readers stay as they were
  EXPECT_TRUE(Access(*conn_, literal_, &r, "T1", 11, true));
  EXPECT_EQ(Slots(r), "[01][xx][03][  ][  ][  ][07][  ][  ][  ][  ]");

  // Not permitted anywhere: still every reader recorded.
  BadgeRecord s = Badge("6  ");
  EXPECT_FALSE(Access(*conn_, literal_, &s, "T1", 11, true));
  EXPECT_EQ(Slots(s), "[01][  ][03][  ][  ][  ][07][  ][  ][  ][  ]");

  // Recording off leaves the slots; highest 3 records only up to 3.
  BadgeRecord t = Badge("5  ");
  EXPECT_TRUE(Access(*conn_, literal_, &t, "T1", 11, false));
  EXPECT_EQ(Slots(t), "[  ][  ][  ][  ][  ][  ][  ][  ][  ][  ][  ]");
  EXPECT_FALSE(Access(*conn_, literal_, &t, "T1", 3, true));
  EXPECT_EQ(Slots(t), "[01][  ][03][  ][  ][  ][  ][  ][  ][  ][  ]");
}

TEST_F(AdmissionTest, ReaderZeroCountsForAccessButHasNoSlot) {
  AddReaders("T1", {0, 2, 12});
  Permit("5", "T1", 0);
  Permit("5", "T1", 0, 3);
  BadgeRecord r = Badge("5  ");
  EXPECT_TRUE(Access(*conn_, literal_, &r, "T1", 32, true));
  EXPECT_EQ(Slots(r), "[  ][02][  ][  ][  ][  ][  ][  ][  ][  ][  ]");
  EXPECT_TRUE(Time(*conn_, literal_, r, "T1"));
}

TEST_F(AdmissionTest, CountsStopAtTheFirstPermittedReader) {
  AddReaders("T1", {1, 2, 3, 4, 5});
  Permit("5", "T1", 2);
  Permit("5", "T1", 4);
  BadgeRecord r = Badge("5  ");
  int64_t before = conn_->statements_sent();
  EXPECT_TRUE(Access(*conn_, literal_, &r, "T1", 11, true));
  // The reader cursor, then counts on readers 1 and 2 only.
  EXPECT_EQ(conn_->statements_sent() - before, 3);
  EXPECT_EQ(Slots(r), "[01][02][03][04][05][  ][  ][  ][  ][  ][  ]");
}

TEST_F(AdmissionTest, TimeBlockedOnlyByTypeThreeOnReaderOne) {
  AddReaders("T1", {1, 2});
  AddReaders("T2", {1, 2});
  AddReaders("T3", {2, 3});
  Permit("5", "T1", 1, 3);
  Permit("5  ", "T1", 1, 3);  // two type-3 rows
  Permit("5", "T2", 2, 3);    // type 3 elsewhere
  Permit("5", "T2", 1, 1);    // another type on reader 1
  Permit("5", "T3", 2, 3);
  struct Case {
    const char* terminal;
    const char* cls;
    bool time;
  } cases[] = {
      {"T1", "5  ", false}, {"T1", "5", false},  {"T1", "6  ", true},
      {"T2", "5  ", true},  {"T3", "5  ", true}, {"T9", "5  ", true},
  };
  for (const Case& k : cases) {
    BadgeRecord r = Badge(k.cls);
    EXPECT_EQ(Time(*conn_, literal_, r, k.terminal), k.time)
        << k.terminal << "/" << k.cls;
  }
  // A type-3 row on reader 1 also counts as a permission for access.
  BadgeRecord r = Badge("5  ");
  EXPECT_TRUE(Access(*conn_, literal_, &r, "T1", 1, false));
}

// A database that fails answers neither check, and no answer is kept: the
// next badge asks again.
TEST_F(AdmissionTest, DatabaseFailureAnswersNothingAndKeepsNothing) {
  Connection dead;
  for (bool cached : {false, true}) {
    AdmissionCache cache(cached);
    BadgeRecord r = Badge("5  ");
    bool permitted = true;
    EXPECT_TRUE(HasAccessPermission(dead, cache, &r, "T1", 11, true, &permitted).failed());
    EXPECT_EQ(Slots(r), "[  ][  ][  ][  ][  ][  ][  ][  ][  ][  ][  ]");
    EXPECT_TRUE(HasTimePermission(dead, cache, r, "T1", &permitted).failed());
    EXPECT_TRUE(cache.access.empty());
    EXPECT_TRUE(cache.time.empty());
  }
}

// A run over many badges on varied data: the kept answers give exactly the
// results and slots of the literal run, with fewer statements.
TEST_F(AdmissionTest, CachedRunMatchesTheLiteralRun) {
  AddReaders("T1", {0, 1, 2, 3, 7, 11, 12, 20});
  AddReaders("T2", {1, 4});
  AddReaders("T3", {2, 3});
  Permit("1", "T1", 12);
  Permit("2", "T1", 3);
  Permit("2", "T1", 1, 3);
  Permit("3", "T1", 0);
  Permit("3", "T2", 1, 3);
  Permit("4", "T2", 4);
  Permit("4", "T3", 2, 3);
  Permit("5", "T1", 20);
  Permit("5", "T3", 3);
  Permit("12345", "T1", 11);

  const std::vector<std::string> classes = {"1  ", "2  ",   "3  ", "4  ", "5  ",
                                            "6  ", "12345", "0  ", "2"};
  const std::vector<std::string> terminals = {"T1", "T2", "T3", "T4"};
  const int highests[] = {11, 32, 3};

  struct Outcome {
    bool access;
    bool time;
    std::string slots;
    bool operator==(const Outcome&) const = default;
  };
  auto run = [&](AdmissionCache& cache, int64_t* sent) {
    std::vector<Outcome> out;
    int64_t before = conn_->statements_sent();
    for (int pass = 0; pass < 6; ++pass) {
      for (const std::string& t : terminals) {
        for (size_t i = 0; i < classes.size(); ++i) {
          int highest = highests[(i + pass) % 3];
          bool record = (i + pass) % 2 == 0;
          BadgeRecord r = Badge(classes[i]);
          if (pass % 3 == 2) r.reader_slot.fill("");  // a record not preset
          Outcome o;
          o.access = Access(*conn_, cache, &r, t, highest, record);
          o.time = Time(*conn_, cache, r, t);
          o.slots = Slots(r);
          out.push_back(o);
        }
      }
    }
    *sent = conn_->statements_sent() - before;
    return out;
  };

  int64_t literal_sent = 0, cached_sent = 0;
  AdmissionCache cache(true);
  std::vector<Outcome> literal = run(literal_, &literal_sent);
  std::vector<Outcome> cached = run(cache, &cached_sent);
  ASSERT_EQ(literal.size(), cached.size());
  for (size_t i = 0; i < literal.size(); ++i) {
    EXPECT_EQ(literal[i].access, cached[i].access) << i;
    EXPECT_EQ(literal[i].time, cached[i].time) << i;
    EXPECT_EQ(literal[i].slots, cached[i].slots) << i;
  }
  // Each (terminal, class, highest) and (terminal, class) is asked once.
  EXPECT_LT(cached_sent * 2, literal_sent);

  // Spot checks that the data decides something.
  BadgeRecord r = Badge("2  ");
  EXPECT_TRUE(Access(*conn_, cache, &r, "T1", 11, true));
  EXPECT_EQ(Slots(r), "[01][02][03][  ][  ][  ][07][  ][  ][  ][11]");
  EXPECT_FALSE(Time(*conn_, cache, r, "T1"));
  BadgeRecord s = Badge("1  ");
  EXPECT_FALSE(Access(*conn_, cache, &s, "T1", 11, false));
  EXPECT_TRUE(Access(*conn_, cache, &s, "T1", 32, false));
}

TEST_F(AdmissionTest, KeptAnswerReplaysTheReaderSlots) {
  AddReaders("T1", {1, 3, 7});
  Permit("5", "T1", 3);
  AdmissionCache cache(true);
  BadgeRecord first = Badge("5  ");
  EXPECT_TRUE(Access(*conn_, cache, &first, "T1", 11, false));  // no recording
  int64_t before = conn_->statements_sent();
  BadgeRecord second = Badge("5  ");
  EXPECT_TRUE(Access(*conn_, cache, &second, "T1", 11, true));
  EXPECT_EQ(conn_->statements_sent(), before);
  EXPECT_EQ(Slots(second), "[01][  ][03][  ][  ][  ][07][  ][  ][  ][  ]");
  EXPECT_EQ(Slots(first), "[  ][  ][  ][  ][  ][  ][  ][  ][  ][  ][  ]");
}

}  // namespace
}  // namespace plom
