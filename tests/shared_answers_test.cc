// Answers kept for the runs of a batch: kept answers are what the database
// said the first time, failures are asked again, and runs on several
// threads read a client's badges once.
#include "installation/shared_answers.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "installation/badge_queries.h"
#include "installation/balance_queries.h"
#include "tests/generator_fixture.h"

namespace plom {
namespace {

using test::BadgeRow;
using test::GenDb;

class Shared : public ::testing::Test {
 protected:
  std::unique_ptr<Connection> Connect() {
    auto c = db_.db().Connect();
    SetCurrentSchema(*c, "MND1");
    return c;
  }
  static BadgeRecord Person(const std::string& pnr, const std::string& badge = "1") {
    BadgeRecord r;
    r.personnel_number = pnr;
    r.badge_number = badge;
    return r;
  }

  GenDb db_;
  SharedAnswers shared_;
};

TEST_F(Shared, BalancesAreAskedOncePerPerson) {
  db_.AddBalance("P1", 90);
  auto c = Connect();
  BadgeRecord r = Person("P1");
  EXPECT_EQ(shared_.Balances(*c, &r), 0);
  EXPECT_EQ(r.balance[0], "  1,30 ");
  int64_t after_first = c->statements_sent();
  EXPECT_GT(after_first, 0);

  db_.Exec("UPDATE Zrt320Tgb SET TgbVt1 = 120");
  auto other = Connect();
  BadgeRecord again = Person("P1");
  EXPECT_EQ(shared_.Balances(*other, &again), 0);
  EXPECT_EQ(again.balance, r.balance);
  EXPECT_EQ(other->statements_sent(), 0);
  // The database would now say otherwise: the answer came from what was kept.
  BadgeRecord direct = Person("P1");
  EXPECT_EQ(GetBalances(*other, &direct), 0);
  EXPECT_EQ(direct.balance[0], "  2,00 ");

  // Another person is asked.
  BadgeRecord p2 = Person("P2");
  EXPECT_EQ(shared_.Balances(*other, &p2), 100);
  EXPECT_EQ(p2.balance[0], "  0,00 ");
}

TEST_F(Shared, FoundNoneIsKeptLikeAnAnswer) {
  auto c = Connect();
  BadgeRecord r = Person("P1");
  EXPECT_EQ(shared_.PersonSprSal(*c, &r), 100);
  EXPECT_EQ(r.pnr_sal, "");
  db_.AddPerson("P1", 3, "Frau");
  BadgeRecord again = Person("P1");
  EXPECT_EQ(shared_.PersonSprSal(*c, &again), 100);
  EXPECT_EQ(again.pnr_sal, "");
  EXPECT_EQ(again.pnr_spr, "");
}

TEST_F(Shared, PersonDataAndLocationTextsKept) {
  db_.AddPerson("P1", 3, "Frau");
  db_.AddBadge(BadgeRow("B1").Pnr("P1").Location("12"));
  db_.AddLocation("12", "Halle");
  auto c = Connect();
  BadgeRecord r = Person("P1", "B1");
  EXPECT_EQ(shared_.PersonSprSal(*c, &r), 0);
  EXPECT_EQ(shared_.LocationShortText(*c, &r), 0);
  EXPECT_EQ(r.pnr_spr, "3");
  EXPECT_EQ(r.pnr_sal, "Frau");
  EXPECT_EQ(r.location_short, "Hal");
  int64_t sent = c->statements_sent();
  BadgeRecord again = Person("P1", "B1");
  EXPECT_EQ(shared_.PersonSprSal(*c, &again), 0);
  EXPECT_EQ(shared_.LocationShortText(*c, &again), 0);
  EXPECT_EQ(c->statements_sent(), sent);
  EXPECT_EQ(again.pnr_spr, "3");
  EXPECT_EQ(again.pnr_sal, "Frau");
  EXPECT_EQ(again.location_short, "Hal");
}

// The same personnel number in two clients is two persons.
TEST_F(Shared, PersonsAreKeptPerClientSchema) {
  db_.AddClient(2, "MND2");
  db_.db().AddClientTables("MND2");
  db_.AddPerson("P1", 3, "Frau", "MND1");
  db_.AddPerson("P1", 4, "Herr", "MND2");
  auto c = Connect();
  BadgeRecord r = Person("P1");
  EXPECT_EQ(shared_.PersonSprSal(*c, &r), 0);
  SetCurrentSchema(*c, "MND2");
  BadgeRecord other = Person("P1");
  EXPECT_EQ(shared_.PersonSprSal(*c, &other), 0);
  EXPECT_EQ(r.pnr_sal, "Frau");
  EXPECT_EQ(other.pnr_sal, "Herr");
}

TEST_F(Shared, AFailedLookupIsAskedAgain) {
  db_.AddVacation("P1", 30, 2, 1, 20, 10);
  db_.Exec("ALTER TABLE \"MND1.Zrt332Urv\" RENAME TO hidden");
  auto c = Connect();
  BadgeRecord r = Person("P1");
  int rc = shared_.Vacation(*c, &r);
  EXPECT_LT(rc, 0);
  db_.Exec("ALTER TABLE hidden RENAME TO \"MND1.Zrt332Urv\"");
  BadgeRecord again = Person("P1");
  EXPECT_EQ(shared_.Vacation(*c, &again), 0);
  EXPECT_EQ(again.vacation[0], " 30,00 ");
  EXPECT_EQ(again.vacation[1], " 10,00 ");
}

TEST_F(Shared, VacationKeptWithItsResult) {
  auto c = Connect();
  BadgeRecord r = Person("P1");
  EXPECT_EQ(shared_.Vacation(*c, &r), 200);
  db_.AddVacation("P1", 30, 2, 1, 20, 10);
  BadgeRecord again = Person("P1");
  EXPECT_EQ(shared_.Vacation(*c, &again), 200);
  EXPECT_EQ(again.vacation, r.vacation);
  EXPECT_EQ(again.vacation[0], "  0,00 ");
}

TEST_F(Shared, BadgeRowsAsTheCursorDeliversThem) {
  for (const char* n : {"3", "1", "2"}) db_.AddBadge(BadgeRow(n).Pnr(std::string("P") + n));
  auto c = Connect();
  std::vector<BadgeRecord> direct;
  BadgeRecord r;
  OpenBadgeCursor(*c, "MND1");
  while (FetchBadge(*c, &r) == 0) {
    direct.push_back(r);
    r.Clear();
  }
  CloseBadgeCursor(*c);
  ASSERT_EQ(direct.size(), 3u);

  std::shared_ptr<const SharedAnswers::BadgeRows> rows;
  EXPECT_EQ(shared_.GetBadgeRows(*c, "MND1", &rows), 100);
  ASSERT_EQ(rows->size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ((*rows)[i].badge_number, direct[i].badge_number);
    EXPECT_EQ((*rows)[i].personnel_number, direct[i].personnel_number);
    EXPECT_EQ((*rows)[i].access_class, direct[i].access_class);
    EXPECT_EQ((*rows)[i].valid_from, direct[i].valid_from);
  }
  // Kept: a badge added later is not seen within the batch.
  db_.AddBadge(BadgeRow("4").Pnr("P4"));
  auto other = Connect();
  std::shared_ptr<const SharedAnswers::BadgeRows> again;
  EXPECT_EQ(shared_.GetBadgeRows(*other, "MND1", &again), 100);
  EXPECT_EQ(again.get(), rows.get());
  EXPECT_EQ(other->statements_sent(), 0);
}

TEST_F(Shared, BadgeRowsOfAFailedReadAreNotKept) {
  db_.AddBadge(BadgeRow("1").Pnr("P1"));
  db_.Exec("ALTER TABLE \"ZrSystem.Zrt301Asw\" RENAME TO hidden");
  auto c = Connect();
  std::shared_ptr<const SharedAnswers::BadgeRows> rows;
  EXPECT_LT(shared_.GetBadgeRows(*c, "MND1", &rows), 0);
  EXPECT_TRUE(rows->empty());
  db_.Exec("ALTER TABLE hidden RENAME TO \"ZrSystem.Zrt301Asw\"");
  EXPECT_EQ(shared_.GetBadgeRows(*c, "MND1", &rows), 100);
  EXPECT_EQ(rows->size(), 1u);
}

TEST_F(Shared, ManyThreadsReadAClientsBadgesOnce) {
  for (int i = 0; i < 200; ++i) db_.AddBadge(BadgeRow(std::to_string(1000 + i)).Pnr("P"));
  constexpr int kThreads = 8;
  std::vector<std::unique_ptr<Connection>> conns;
  for (int i = 0; i < kThreads; ++i) conns.push_back(Connect());
  std::vector<std::shared_ptr<const SharedAnswers::BadgeRows>> got(kThreads);
  std::vector<int> rc(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] { rc[i] = shared_.GetBadgeRows(*conns[i], "MND1", &got[i]); });
  }
  for (auto& t : threads) t.join();
  int64_t sent = 0;
  int readers = 0;
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(rc[i], 100);
    EXPECT_EQ(got[i].get(), got[0].get());
    sent += conns[i]->statements_sent();
    readers += conns[i]->statements_sent() > 0;
  }
  EXPECT_EQ(got[0]->size(), 200u);
  EXPECT_EQ(readers, 1);
  EXPECT_GT(sent, 0);
}

TEST_F(Shared, LabelsReadOnce) {
  db_.AddLabels({"Saldo", "Urlaub"});
  auto c = Connect();
  LabelSlots first = shared_.Labels(*c);
  EXPECT_EQ(first[0], "Saldo        ");
  EXPECT_EQ(first[1], "Urlaub       ");
  EXPECT_EQ(first[2], std::string(13, ' '));
  int64_t sent = c->statements_sent();
  db_.Exec("DELETE FROM \"ZrSystem.O2001SALTEXTE\"");
  EXPECT_EQ(shared_.Labels(*c), first);
  EXPECT_EQ(c->statements_sent(), sent);
}

// The access-right answers of the batch: one query per client schema and
// badge group, whichever run asks.
TEST_F(Shared, AccessRightsAskedOncePerGroup) {
  db_.AddGroupRight("G1", "7", test::kJan2006);
  auto c = Connect();
  auto other = Connect();
  BadgeRecord a = Person("P1");
  a.access_class = "0  ";
  a.badge_group = "G1";
  BadgeRecord b = a;
  EXPECT_TRUE(ResolveAccessClass(*c, &a, shared_.access_rights()));
  EXPECT_TRUE(ResolveAccessClass(*other, &b, shared_.access_rights()));
  EXPECT_EQ(a.access_class, "7  ");
  EXPECT_EQ(b.access_class, "7  ");
  EXPECT_GT(c->statements_sent(), 0);
  EXPECT_EQ(other->statements_sent(), 0);
}

}  // namespace
}  // namespace plom
