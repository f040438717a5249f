// VQDNL18P records on embedded databases laid out for each case.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "generators/record_util.h"
#include "tests/generator_fixture.h"

namespace plom {
namespace {

using test::BadgeRow;
using test::Blanks;
using test::Counts;
using test::Field;
using test::GenDb;

const std::vector<std::string> kLabels = {"Datum",    "Saldo",    "frei",     "Urlaub VJ",
                                          "Anspruch", "Genommen", "Verplant", "Resturlaub"};

// A label slot: 12 characters and a blank, or the first 13 of a longer label.
std::string Slot(const std::string& label) {
  return label.size() > 12 ? label.substr(0, 13) : Field(label, 12) + " ";
}

// The values of the person of kFullData: balance of 600 minutes, vacation
// account 30 and 2.5 days, day record 1, 27.5 and 0.5 days.
constexpr const char* kValues[8] = {nullptr,   " 10,00 ", "       ", "  2,50 ",
                                    " 30,00 ", "  0,50 ", "  1,00 ", " 27,50 "};

// The record of a badge of that person, with the eight labels and the date.
std::string FullRecord(const std::string& badge, const std::vector<std::string>& labels) {
  std::string rec = Field(badge, 13) + Slot(labels[0]).substr(0, 12) + TodayAsDisplayed();
  for (int n = 1; n < 8; ++n) rec += Slot(labels[n]) + kValues[n];
  return rec;
}

void AddFullData(GenDb& db, const std::string& pnr) {
  db.AddBalance(pnr, 600);
  db.AddVacation(pnr, 30, 2.5, 1, 27.5, 0.5);
}

TEST(VQDNL18P, RecordOfDateBalanceAndVacation) {
  GenDb db;
  db.AddLabels(kLabels);
  db.SetTerminalType("7598-001");
  db.AddBadge(BadgeRow("4711").Pnr("P1"));
  AddFullData(db, "P1");
  auto r = db.Run(GenerateVQDNL18P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], FullRecord("4711", kLabels));
  EXPECT_EQ(r.lines[0].size(), 173u);
  EXPECT_EQ(r.out, Counts(1, 1));
}

TEST(VQDNL18P, TerminalType7598002ShowsFourGroups) {
  GenDb db;
  db.AddLabels(kLabels);
  db.SetTerminalType("7598-002");
  db.AddBadge(BadgeRow("4711").Pnr("P1"));
  AddFullData(db, "P1");
  auto r = db.Run(GenerateVQDNL18P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], FullRecord("4711", kLabels).substr(0, 93) + Blanks(80));
}

// Labels that do not exist show as blanks; the values behind them stay.
TEST(VQDNL18P, MissingLabelsAreBlankAndKeepTheValues) {
  GenDb db;
  std::vector<std::string> five(kLabels.begin(), kLabels.begin() + 5);
  db.AddLabels(five);
  db.AddBadge(BadgeRow("4711").Pnr("P1"));
  AddFullData(db, "P1");
  auto r = db.Run(GenerateVQDNL18P);
  ASSERT_EQ(r.lines.size(), 1u);
  std::vector<std::string> shown = five;
  shown.resize(8, "");
  EXPECT_EQ(r.lines[0], FullRecord("4711", shown));
  EXPECT_EQ(r.lines[0].size(), 173u);
}

TEST(VQDNL18P, MissingBalanceAndVacationRows) {
  GenDb db;
  db.AddLabels(kLabels);
  db.AddBadge(BadgeRow("4711").Pnr("P1"));
  auto r = db.Run(GenerateVQDNL18P);
  ASSERT_EQ(r.lines.size(), 1u);
  const std::string zero = "  0,00 ";
  // Without a balance the 13th character of label 1 stays before blanks.
  std::string want = Field("4711", 13) + Slot(kLabels[0]) + Blanks(7) + Slot(kLabels[1]) +
                     Blanks(7) + Slot(kLabels[2]) + Blanks(7);
  for (int n = 3; n < 8; ++n) want += Slot(kLabels[n]) + zero;
  EXPECT_EQ(r.lines[0], want);
  EXPECT_EQ(r.out,
            "Ausweis:4711 Person:P1 Saldodaten nicht gefunden! 100\n"
            "Ausweis:4711 Person:P1 Urlaubsdaten nicht gefunden! 200\n" +
                Counts(1, 1));
}

// Which badge rows give a record: one per badge, time recording permitted,
// with a personnel number.
TEST(VQDNL18P, OneRecordPerPermittedBadgeWithPerson) {
  GenDb db;
  db.AddLabels(kLabels);
  db.AddReader(1, "R1");
  db.Permit("1", "R1", 3);
  // Two rows of one badge, both permitted: one record.
  db.AddBadge(BadgeRow("A1").Pnr("P1"));
  db.AddBadge(BadgeRow("A1").From("2007-01-01 00:00:00").Pnr("P1"));
  // The first row blocked, the second permitted: the record of the second.
  db.AddBadge(BadgeRow("B1").Pnr("P2").Class("1"));
  db.AddBadge(BadgeRow("B1").From("2007-01-01 00:00:00").Pnr("P2").Class("2"));
  // No personnel number: counted, nothing said.
  db.AddBadge(BadgeRow("C1"));
  // Class 0 is not resolved here; without a block it records time.
  db.AddBadge(BadgeRow("E1").Pnr("P5").Class("0"));
  for (const char* p : {"P1", "P2", "P5"}) AddFullData(db, p);

  auto r = db.Run(GenerateVQDNL18P);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0], FullRecord("A1", kLabels));
  EXPECT_EQ(r.lines[1], FullRecord("B1", kLabels));
  EXPECT_EQ(r.lines[2], FullRecord("E1", kLabels));
  EXPECT_EQ(r.out, "Ausweis B1 auf Terminal TERM1 nicht zulaessig!\n" + Counts(6, 3));
}

TEST(VQDNL18P, UnresolvedClassZeroBlockedIsNotPermitted) {
  GenDb db;
  db.AddReader(1, "R1");
  db.Permit("0", "R1", 3);
  db.AddBadge(BadgeRow("D1").Pnr("P4").Class("0"));
  auto r = db.Run(GenerateVQDNL18P);
  EXPECT_TRUE(r.lines.empty());
  EXPECT_EQ(r.out, "Ausweis D1 auf Terminal TERM1 nicht zulaessig!\n" + Counts(1, 0));
}

TEST(VQDNL18P, BadgeNumberTooLongIsLeftOutOnce) {
  GenDb db;
  db.AddLabels(kLabels);
  db.AddBadge(BadgeRow("ABCDEFGHIJKLMN").Pnr("P1"));
  db.AddBadge(BadgeRow("ABCDEFGHIJKLMN").From("2007-01-01 00:00:00").Pnr("P1"));
  db.AddBadge(BadgeRow("ABCDEFGHIJKLM").Pnr("P1"));
  AddFullData(db, "P1");
  auto r = db.Run(GenerateVQDNL18P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], FullRecord("ABCDEFGHIJKLM", kLabels));
  EXPECT_EQ(r.out,
            "Ausweis ABCDEFGHIJKLMN: Ausweisnummer laenger als 13 Zeichen, nicht in Datei "
            "gestellt\n" +
                Counts(3, 1));
}

// A refused record still makes its badge the last one: the badge's second
// row is passed over.
TEST(VQDNL18P, RefusedRecordIsReportedAndBadgeNotRetried) {
  GenDb db;
  db.AddLabels(kLabels);
  db.AddBadge(BadgeRow("A1").Pnr("P1"));
  db.AddBadge(BadgeRow("A1").From("2007-01-01 00:00:00").Pnr("P1"));
  AddFullData(db, "P1");
  db.RefuseLinesStartingWith("A1");
  auto r = db.Run(GenerateVQDNL18P);
  EXPECT_TRUE(r.lines.empty());
  EXPECT_EQ(r.lines_lost, 1);
  std::string tail = "User: " + std::string(test::kGenPath) +
                     "  String: " + FullRecord("A1", kLabels) + Counts(2, 0);
  EXPECT_EQ(r.out.rfind("Insert-Error Zrt999Tmp! ErrNr: -", 0), 0u) << r.out;
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

}  // namespace
}  // namespace plom
