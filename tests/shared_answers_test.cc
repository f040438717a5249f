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
  std::unique_ptr<Connection> Connect(const std::string& = "MND1") { return db_.db().Connect(); }
  // The kept badge rows of the schema, read on a connection of their own.
  std::shared_ptr<const SchemaBadges> Rows(const std::string& schema = "MND1") {
    auto c = Connect(schema);
    std::shared_ptr<const SchemaBadges> rows;
    EXPECT_TRUE(shared_.GetBadgeRows(*c, schema, &rows).ok());
    return rows;
  }
  BadgeRecord Row(const SchemaBadges& rows, size_t i) {
    BadgeRecord r;
    rows.Get(i, &r);
    return r;
  }

  GenDb db_;
  SharedAnswers shared_;
};

TEST_F(Shared, BadgeRowsAsTheCursorDeliversThem) {
  db_.AddBadge(BadgeRow("3").Pnr("P3").Location("7").Group("G").Atp(2));
  db_.AddBadge(BadgeRow("1").Pnr("P1").To(test::DateTime(30)));
  db_.AddBadge(BadgeRow("2").Pnr("P2").Class("0"));
  auto c = Connect();
  std::vector<BadgeRecord> direct;
  BadgeRecord r;
  OpenBadgeCursor(*c, "MND1").sqlcode();
  while (FetchBadge(*c, &r).sqlcode() == 0) {
    direct.push_back(r);
    r.Clear();
  }
  CloseBadgeCursor(*c);
  ASSERT_EQ(direct.size(), 3u);

  auto rows = Rows();
  ASSERT_EQ(rows->size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    BadgeRecord kept = Row(*rows, i);
    EXPECT_EQ(kept.badge_number, direct[i].badge_number);
    EXPECT_EQ(kept.personnel_number, direct[i].personnel_number);
    EXPECT_EQ(kept.access_class, direct[i].access_class);
    EXPECT_EQ(kept.valid_from, direct[i].valid_from);
    EXPECT_EQ(kept.valid_to, direct[i].valid_to);
    EXPECT_EQ(kept.location_number, direct[i].location_number);
    EXPECT_EQ(kept.badge_group, direct[i].badge_group);
    EXPECT_EQ(kept.asw_atp, direct[i].asw_atp);
    EXPECT_EQ(kept.reader_slot, direct[i].reader_slot);
  }
  // Kept: a badge added later is not seen within the batch.
  db_.AddBadge(BadgeRow("4").Pnr("P4"));
  auto other = Connect();
  std::shared_ptr<const SchemaBadges> again;
  EXPECT_TRUE(shared_.GetBadgeRows(*other, "MND1", &again).ok());
  EXPECT_EQ(again.get(), rows.get());
  EXPECT_EQ(other->statements_sent(), 0);
}

TEST_F(Shared, BadgeRowsOfAFailedReadAreNotKept) {
  db_.AddBadge(BadgeRow("1").Pnr("P1"));
  db_.Exec("ALTER TABLE \"ZrSystem.Zrt301Asw\" RENAME TO hidden");
  auto c = Connect();
  std::shared_ptr<const SchemaBadges> rows;
  EXPECT_TRUE(shared_.GetBadgeRows(*c, "MND1", &rows).failed());
  EXPECT_EQ(rows, nullptr);
  db_.Exec("ALTER TABLE hidden RENAME TO \"ZrSystem.Zrt301Asw\"");
  EXPECT_TRUE(shared_.GetBadgeRows(*c, "MND1", &rows).ok());
  EXPECT_EQ(rows->size(), 1u);
}

TEST_F(Shared, BalancesAreAskedOncePerPerson) {
  db_.AddBadge(BadgeRow("1").Pnr("P1"));
  db_.AddBadge(BadgeRow("2").Pnr("P1"));  // a second badge of the person
  db_.AddBadge(BadgeRow("3").Pnr("P2"));
  db_.AddBalance("P1", 90);
  auto rows = Rows();
  ASSERT_EQ(rows->size(), 3u);
  auto c = Connect();
  BadgeRecord r = Row(*rows, 0);
  EXPECT_EQ(GetBalances(*c, &r, &rows->answers(0)).sqlcode(), 0);
  EXPECT_EQ(r.balance[0], "  1,30 ");
  EXPECT_GT(c->statements_sent(), 0);

  db_.Exec("UPDATE Zrt320Tgb SET TgbVt1 = 120");
  auto other = Connect();
  for (size_t i : {0u, 1u}) {
    BadgeRecord again = Row(*rows, i);
    EXPECT_EQ(GetBalances(*other, &again, &rows->answers(i)).sqlcode(), 0);
    EXPECT_EQ(again.balance, r.balance);
  }
  EXPECT_EQ(other->statements_sent(), 0);
  // The database would now say otherwise: the answers came from what was kept.
  BadgeRecord direct = Row(*rows, 0);
  EXPECT_EQ(GetBalances(*other, &direct, nullptr).sqlcode(), 0);
  EXPECT_EQ(direct.balance[0], "  2,00 ");

  // Another person is asked.
  BadgeRecord p2 = Row(*rows, 2);
  int64_t sent = other->statements_sent();
  EXPECT_EQ(GetBalances(*other, &p2, &rows->answers(2)).sqlcode(), 100);
  EXPECT_EQ(p2.balance[0], "  0,00 ");
  EXPECT_GT(other->statements_sent(), sent);
}

TEST_F(Shared, FoundNoneIsKeptLikeAnAnswer) {
  db_.AddBadge(BadgeRow("1").Pnr("P1"));
  auto rows = Rows();
  auto c = Connect();
  BadgeRecord r = Row(*rows, 0);
  EXPECT_EQ(GetPersonSprSal(*c, "MND1", &r, &rows->answers(0)).sqlcode(), 100);
  EXPECT_EQ(r.pnr_sal, "");
  db_.AddPerson("P1", 3, "Frau");
  BadgeRecord again = Row(*rows, 0);
  EXPECT_EQ(GetPersonSprSal(*c, "MND1", &again, &rows->answers(0)).sqlcode(), 100);
  EXPECT_EQ(again.pnr_sal, "");
  EXPECT_EQ(again.pnr_spr, "");
}

TEST_F(Shared, PersonDataAndLocationTextsKept) {
  db_.AddPerson("P1", 3, "Frau");
  db_.AddBadge(BadgeRow("B1").Pnr("P1").Location("12"));
  db_.AddLocation("12", "Halle");
  auto rows = Rows();
  auto c = Connect();
  BadgeRecord r = Row(*rows, 0);
  EXPECT_EQ(GetPersonSprSal(*c, "MND1", &r, &rows->answers(0)).sqlcode(), 0);
  EXPECT_EQ(GetLocationShortText(*c, &r, &rows->answers(0)).sqlcode(), 0);
  EXPECT_EQ(r.pnr_spr, "3");
  EXPECT_EQ(r.pnr_sal, "Frau");
  EXPECT_EQ(r.location_short, "Hal");
  int64_t sent = c->statements_sent();
  db_.Exec("DELETE FROM \"ZrSystem.Zrt113Sto\"");
  BadgeRecord again = Row(*rows, 0);
  EXPECT_EQ(GetPersonSprSal(*c, "MND1", &again, &rows->answers(0)).sqlcode(), 0);
  EXPECT_EQ(GetLocationShortText(*c, &again, &rows->answers(0)).sqlcode(), 0);
  EXPECT_EQ(c->statements_sent(), sent);
  EXPECT_EQ(again.pnr_spr, "3");
  EXPECT_EQ(again.pnr_sal, "Frau");
  EXPECT_EQ(again.location_short, "Hal");
}

// The same personnel number in two clients is two persons.
TEST_F(Shared, PersonsAreKeptPerClientSchema) {
  db_.AddClient(2, "MND2");
  db_.db().AddClientTables("MND2");
  db_.AddBadge(BadgeRow("1").Pnr("P1"));
  db_.AddBadge(BadgeRow("2").Pnr("P1").Client(2));
  db_.AddPerson("P1", 3, "Frau", "MND1");
  db_.AddPerson("P1", 4, "Herr", "MND2");
  auto rows1 = Rows("MND1");
  auto rows2 = Rows("MND2");
  ASSERT_EQ(rows1->size(), 1u);
  ASSERT_EQ(rows2->size(), 1u);
  auto c = Connect("MND1");
  BadgeRecord r = Row(*rows1, 0);
  EXPECT_EQ(GetPersonSprSal(*c, "MND1", &r, &rows1->answers(0)).sqlcode(), 0);
  BadgeRecord other = Row(*rows2, 0);
  EXPECT_EQ(GetPersonSprSal(*c, "MND2", &other, &rows2->answers(0)).sqlcode(), 0);
  EXPECT_EQ(r.pnr_sal, "Frau");
  EXPECT_EQ(other.pnr_sal, "Herr");
}

TEST_F(Shared, AFailedLookupIsAskedAgain) {
  db_.AddBadge(BadgeRow("1").Pnr("P1"));
  db_.AddVacation("P1", 30, 2, 1, 20, 10);
  auto rows = Rows();
  db_.Exec("ALTER TABLE \"MND1.Zrt332Urv\" RENAME TO hidden");
  auto c = Connect();
  BadgeRecord r = Row(*rows, 0);
  EXPECT_LT(GetVacation(*c, "MND1", &r, &rows->answers(0)).sqlcode(), 0);
  db_.Exec("ALTER TABLE hidden RENAME TO \"MND1.Zrt332Urv\"");
  BadgeRecord again = Row(*rows, 0);
  EXPECT_EQ(GetVacation(*c, "MND1", &again, &rows->answers(0)).sqlcode(), 0);
  EXPECT_EQ(again.vacation[0], " 30,00 ");
  EXPECT_EQ(again.vacation[1], " 10,00 ");
}

TEST_F(Shared, VacationKeptWithItsResult) {
  db_.AddBadge(BadgeRow("1").Pnr("P1"));
  auto rows = Rows();
  auto c = Connect();
  BadgeRecord r = Row(*rows, 0);
  EXPECT_EQ(GetVacation(*c, "MND1", &r, &rows->answers(0)).sqlcode(), 200);
  db_.AddVacation("P1", 30, 2, 1, 20, 10);
  BadgeRecord again = Row(*rows, 0);
  EXPECT_EQ(GetVacation(*c, "MND1", &again, &rows->answers(0)).sqlcode(), 200);
  EXPECT_EQ(again.vacation, r.vacation);
  EXPECT_EQ(again.vacation[0], "  0,00 ");
}

TEST_F(Shared, ManyThreadsReadAClientsBadgesOnce) {
  for (int i = 0; i < 200; ++i) db_.AddBadge(BadgeRow(std::to_string(1000 + i)).Pnr("P"));
  constexpr int kThreads = 8;
  std::vector<std::unique_ptr<Connection>> conns;
  for (int i = 0; i < kThreads; ++i) conns.push_back(Connect());
  std::vector<std::shared_ptr<const SchemaBadges>> got(kThreads);
  std::vector<Status> rc(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] { rc[i] = shared_.GetBadgeRows(*conns[i], "MND1", &got[i]); });
  }
  for (auto& t : threads) t.join();
  int readers = 0;
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_TRUE(rc[i].ok());
    EXPECT_EQ(got[i].get(), got[0].get());
    readers += conns[i]->statements_sent() > 0;
  }
  EXPECT_EQ(got[0]->size(), 200u);
  EXPECT_EQ(readers, 1);
}

// Several threads asking the same person's balance at once all get the one
// answer, asked once.
TEST_F(Shared, ManyThreadsAskOnePerson) {
  for (int i = 0; i < 50; ++i) db_.AddBadge(BadgeRow(std::to_string(1000 + i)).Pnr("P"));
  db_.AddBalance("P", -75);
  auto rows = Rows();
  constexpr int kThreads = 6;
  std::vector<std::unique_ptr<Connection>> conns;
  for (int i = 0; i < kThreads; ++i) conns.push_back(Connect());
  std::vector<std::string> texts(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < rows->size(); ++i) {
        BadgeRecord r = Row(*rows, i);
        if (GetBalances(*conns[t], &r, &rows->answers(i)).sqlcode() != 0) texts[t] += "!";
        if (r.balance[0] != "  1,15-") texts[t] += r.balance[0];
      }
    });
  }
  for (auto& t : threads) t.join();
  int64_t sent = 0;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(texts[t], "") << t;
    sent += conns[t]->statements_sent();
  }
  EXPECT_EQ(sent, 1);  // the others waited for the first one's answer
}

TEST_F(Shared, LabelsReadOnce) {
  db_.AddLabels({"Saldo", "Urlaub"});
  auto c = Connect();
  LabelSlots first;
  ASSERT_TRUE(shared_.Labels(*c, &first).ok());
  EXPECT_EQ(first[0], "Saldo        ");
  EXPECT_EQ(first[1], "Urlaub       ");
  EXPECT_EQ(first[2], std::string(13, ' '));
  int64_t sent = c->statements_sent();
  db_.Exec("DELETE FROM \"ZrSystem.O2001SALTEXTE\"");
  LabelSlots again;
  ASSERT_TRUE(shared_.Labels(*c, &again).ok());
  EXPECT_EQ(again, first);
  EXPECT_EQ(c->statements_sent(), sent);
}

// The access-right answers of the batch: one query per client schema and
// badge group, whichever run asks.
TEST_F(Shared, AccessRightsAskedOncePerGroup) {
  db_.AddGroupRight("G1", "7", test::kJan2006);
  auto c = Connect();
  auto other = Connect();
  BadgeRecord a;
  a.personnel_number = "P1";
  a.access_class = "0  ";
  a.badge_group = "G1";
  BadgeRecord b = a;
  bool resolved_a = false, resolved_b = false;
  EXPECT_TRUE(ResolveAccessClass(*c, "MND1", &a, &resolved_a, shared_.access_rights()).ok());
  EXPECT_TRUE(ResolveAccessClass(*other, "MND1", &b, &resolved_b, shared_.access_rights()).ok());
  EXPECT_TRUE(resolved_a && resolved_b);
  EXPECT_EQ(a.access_class, "7  ");
  EXPECT_EQ(b.access_class, "7  ");
  EXPECT_GT(c->statements_sent(), 0);
  EXPECT_EQ(other->statements_sent(), 0);
}

}  // namespace
}  // namespace plom
