// VQDNL60P records on embedded databases laid out for each case.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/generator_fixture.h"

namespace plom {
namespace {

using test::BadgeRow;
using test::Blanks;
using test::Counts;
using test::Field;
using test::GenDb;

// Badge, valid from, time flag, access flag, balance: positions 1 to 30.
std::string Head(const std::string& badge, const std::string& from, const char* flags,
                 const std::string& balance = Blanks(7)) {
  return Field(badge, 13) + from + flags + balance;
}

// The reader groups list readers 1 to 3 that the terminal has, each with the
// class, as soon as the class is permitted on one reader up to 3.
TEST(VQDNL60P, ReaderGroups) {
  struct Case {
    const char* name;
    std::vector<int> readers;
    int permitted_on;
    std::string tail;  // positions 22-23 and 31-45
  } cases[] = {
      {"readers 1 and 3, class on 3", {1, 3}, 3, "11015       035  "},
      {"readers 1 to 4, class on 2", {1, 2, 3, 4}, 2, "11015  025  035  "},
      // Reader 4 is beyond what this layout looks at.
      {"class only on reader 4", {1, 2, 3, 4}, 4, "10" + Blanks(15)},
      {"no readers", {}, 0, "10" + Blanks(15)},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    GenDb db;
    db.AddBadge(BadgeRow("4711").Pnr("P1"));
    for (int n : k.readers) db.AddReader(n, "R" + std::to_string(n));
    if (k.permitted_on != 0) db.Permit("5", "R" + std::to_string(k.permitted_on));
    db.AddBalance("P1", 6000);
    auto r = db.Run(GenerateVQDNL60P);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0],
              Field("4711", 13) + "20060101" + k.tail.substr(0, 2) + "100,00 " + k.tail.substr(2));
    EXPECT_EQ(r.lines[0].size(), 45u);
    EXPECT_EQ(r.out, Counts(1, 1));
  }
}

TEST(VQDNL60P, ClassZeroWithAndWithoutAccessRight) {
  GenDb db;
  db.AddBadge(BadgeRow("B1").Class("0").Group("G1"));
  db.AddBadge(BadgeRow("B2").Class("0").Group("G2"));
  db.AddBadge(BadgeRow("B3").Class("0").Group("G3"));
  db.AddGroupRight("G1", "7", "2010-05-01 00:00:00");
  db.AddReader(1, "R1");
  db.Permit("7", "R1");
  // Class 0 is permitted, but an unresolved badge never asks the readers.
  db.Permit("0", "R1");
  db.Permit("0", "R1", 3);
  db.AddGroupRight("G3", "9", "2010-05-01 00:00:00", test::DateTime(-1));
  auto r = db.Run(GenerateVQDNL60P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], Head("B1", "20100501", "11") + "017  " + Blanks(10));
  EXPECT_EQ(r.out,
            "Ausweis B2 ohne Zeit-/Zutrittsberechtigung auf Terminal TERM1\n"
            "Ausweis B3 ohne Zeit-/Zutrittsberechtigung auf Terminal TERM1\n" +
                Counts(3, 1));
}

TEST(VQDNL60P, EmptyValidFromAndSameBadgeTwice) {
  GenDb db;
  db.AddBadge(BadgeRow("B1").From(std::nullopt).To(test::DateTime(3)));
  db.AddBadge(BadgeRow("B2").Pnr("P2"));
  db.AddBadge(BadgeRow("B2").From("2007-01-01 00:00:00").Pnr("P2"));
  db.AddBalance("P2", -59);
  auto r = db.Run(GenerateVQDNL60P);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0], Head("B1", "00000000", "10") + Blanks(15));
  EXPECT_EQ(r.lines[1], Head("B2", "20060101", "10", "  0,59-") + Blanks(15));
  EXPECT_EQ(r.lines[2], Head("B2", "20070101", "10", "  0,59-") + Blanks(15));
  EXPECT_EQ(r.out, Counts(3, 3));
}

// No row and an overflowing sum alike leave the balance blank, without a
// message.
TEST(VQDNL60P, BalanceBlankWhenNotRead) {
  for (bool overflow : {false, true}) {
    SCOPED_TRACE(overflow ? "overflow" : "no row");
    GenDb db;
    db.AddBadge(BadgeRow("B1").Pnr("P1"));
    if (overflow) db.AddBalance("P1", 2147483647, 1);
    auto r = db.Run(GenerateVQDNL60P);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], Head("B1", "20060101", "10") + Blanks(15));
    EXPECT_EQ(r.out, Counts(1, 1));
  }
}

TEST(VQDNL60P, BadgeNumberOrClassTooLongIsLeftOut) {
  GenDb db;
  db.AddBadge(BadgeRow("12345678901234"));
  db.AddBadge(BadgeRow("B2").Class("12345"));
  db.AddBadge(BadgeRow("1234567890123").Class("XYZ"));
  db.AddReader(3, "R3");
  db.Permit("12345", "R3");
  db.Permit("XYZ", "R3");
  auto r = db.Run(GenerateVQDNL60P);
  ASSERT_EQ(r.lines.size(), 1u);
  // The widest class in the last group ends exactly at position 45.
  EXPECT_EQ(r.lines[0], Head("1234567890123", "20060101", "11") + Blanks(10) + "03XYZ");
  EXPECT_EQ(r.out,
            "Ausweis 12345678901234: Ausweisnummer laenger als 13 Zeichen, nicht in Datei "
            "gestellt\n"
            "Ausweis B2: Berechtigungsklasse 12345 laenger als 3 Zeichen, nicht in Datei "
            "gestellt\n" +
                Counts(3, 1));
}

// Only a record with reader groups shows the class: without access a badge
// is stored whatever the length of its class.
TEST(VQDNL60P, LongClassWithoutAccessIsStored) {
  struct Case {
    const char* name;
    int permitted_on;  // 0: nowhere
    bool stored;
  } cases[] = {
      {"not permitted", 0, true},
      {"permitted beyond reader 3 only", 4, true},
      {"permitted on reader 2", 2, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    GenDb db;
    db.AddBadge(BadgeRow("L1").Class("LONG"));
    for (int n = 1; n <= 4; ++n) db.AddReader(n, "R" + std::to_string(n));
    if (k.permitted_on != 0) db.Permit("LONG", "R" + std::to_string(k.permitted_on));
    auto r = db.Run(GenerateVQDNL60P);
    if (k.stored) {
      ASSERT_EQ(r.lines.size(), 1u);
      EXPECT_EQ(r.lines[0], Head("L1", "20060101", "10") + Blanks(15));
      EXPECT_EQ(r.out, Counts(1, 1));
    } else {
      EXPECT_TRUE(r.lines.empty());
      EXPECT_EQ(r.out,
                "Ausweis L1: Berechtigungsklasse LONG laenger als 3 Zeichen, nicht in Datei "
                "gestellt\n" +
                    Counts(1, 0));
    }
  }
}

}  // namespace
}  // namespace plom
