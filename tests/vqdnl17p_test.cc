// VQDNL17P records on embedded databases laid out for each case.
#include <gtest/gtest.h>

#include <functional>
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

constexpr size_t kWidth = 85;

// Badge, valid from, time flag, access flag, balance: columns 1 to 30.
std::string Head(const std::string& badge, const std::string& from, const char* flags,
                 const std::string& balance = Blanks(7)) {
  return Field(badge, 13) + from + flags + balance;
}

TEST(VQDNL17P, ClassFiveOnReadersOneAndThree) {
  GenDb db;
  db.AddBadge(BadgeRow("4711").Pnr("P1"));
  db.AddReader(1, "R1");
  db.AddReader(3, "R3");
  db.Permit("5", "R3");
  db.AddBalance("P1", 60, 15);
  auto r = db.Run(GenerateVQDNL17P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0],
            Head("4711", "20060101", "11", "  1,15 ") + "015  " + Blanks(5) + "035  " + Blanks(40));
  EXPECT_EQ(r.lines[0].size(), kWidth);
  EXPECT_EQ(r.out, Counts(1, 1));
}

// How the two checks decide the flags and whether the badge is stored.
TEST(VQDNL17P, PermissionFlagsDecideTheRecord) {
  struct Case {
    const char* name;
    std::string bkl;
    bool permit_class;  // class permitted on reader 2
    bool block_time;    // type-3 row for the class on reader 1
    const char* flags;  // columns 22-23; nullptr: not stored
  } cases[] = {
      {"access and time", "5", true, false, "11"},
      {"access, time blocked", "5", true, true, "01"},
      {"time only", "5", false, false, "10"},
      // A type-3 row is a permission row too: it grants access on reader 1.
      {"type-3 row only", "5", false, true, "01"},
      // Class "0" without an access right: the readers are not asked, even
      // though class 0 is permitted on reader 2; time recording alone stores it.
      {"unresolved class 0", "0", true, false, "10"},
      {"unresolved class 0, time blocked", "0", true, true, nullptr},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    GenDb db;
    db.AddBadge(BadgeRow("B1").Pnr("P1").Class(k.bkl));
    db.AddReader(1, "R1");
    db.AddReader(2, "R2");
    if (k.permit_class) db.Permit(k.bkl, "R2");
    if (k.block_time) db.Permit(k.bkl, "R1", 3);
    auto r = db.Run(GenerateVQDNL17P);
    if (k.flags == nullptr) {
      EXPECT_TRUE(r.lines.empty());
      EXPECT_EQ(r.out,
                "Saldo Ermitteln. Saldo:  0,00 , SQLCode:100\n"
                "Ausweis B1 ohne Zeit-/Zutrittsberechtigung auf Terminal TERM1\n" +
                    Counts(1, 0));
      continue;
    }
    std::string entries = std::string(k.flags) == "11" || std::string(k.flags) == "01"
                              ? "01" + Field(k.bkl, 3) + "02" + Field(k.bkl, 3) + Blanks(45)
                              : Blanks(55);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], Head("B1", "20060101", k.flags) + entries);
    EXPECT_EQ(r.out, "Saldo Ermitteln. Saldo:  0,00 , SQLCode:100\n" + Counts(1, 1));
  }
}

TEST(VQDNL17P, ResolvedClassBringsItsValidity) {
  GenDb db;
  db.AddBadge(BadgeRow("B1").Pnr("P1").Class("0").Group("G1"));
  db.AddGroupRight("G1", "7", "2010-05-01 00:00:00");
  db.AddReader(11, "R11");
  db.Permit("7", "R11");
  db.AddBalance("P1", -75);
  auto r = db.Run(GenerateVQDNL17P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], Head("B1", "20100501", "11", "  1,15-") + Blanks(50) + "117  ");
}

TEST(VQDNL17P, LocationShortTextFillsEntrySeven) {
  struct Case {
    const char* name;
    std::string bkl;
    bool reader7;
    const char* short_text;
    std::string entry7;  // columns 61-65
  } cases[] = {
      // Written even without reader 7 and without access.
      {"no reader 7, no access", "5", false, "HALLE", "07HAL"},
      // Replaces reader 7's entry; a shorter text leaves the class behind it.
      {"over reader 7", "123", true, "A", "07A23"},
      {"no location", "123", true, nullptr, "07123"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    GenDb db;
    if (k.short_text != nullptr) {
      db.AddBadge(BadgeRow("B1").Class(k.bkl).Location("12"));
      db.AddLocation("12", k.short_text);
    } else {
      db.AddBadge(BadgeRow("B1").Class(k.bkl));
    }
    if (k.reader7) {
      db.AddReader(7, "R7");
      db.Permit(k.bkl, "R7");
    }
    auto r = db.Run(GenerateVQDNL17P);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].size(), kWidth);
    EXPECT_EQ(r.lines[0].substr(60, 5), k.entry7);
    EXPECT_EQ(r.lines[0].substr(30, 30), Blanks(30));
    EXPECT_EQ(r.lines[0].substr(65), Blanks(20));
  }
}

TEST(VQDNL17P, EmptyValidFromAndTwoRowsOfOneBadge) {
  GenDb db;
  db.AddBadge(BadgeRow("B1").From(std::nullopt).To(test::DateTime(30)));
  db.AddBadge(BadgeRow("B2").Location("1"));
  db.Exec("INSERT INTO \"ZrSystem.Zrt113Awv\" VALUES ('B2', '2');");
  auto r = db.Run(GenerateVQDNL17P);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(r.lines[0], Head("B1", "00000000", "10") + Blanks(55));
  EXPECT_EQ(r.lines[1], Head("B2", "20060101", "10") + Blanks(55));
  EXPECT_EQ(r.lines[2], r.lines[1]);
  EXPECT_NE(r.out.find(Counts(3, 3)), std::string::npos);
}

TEST(VQDNL17P, SchemaWithoutBadgesPrintsZeroCounts) {
  GenDb db;
  db.AddBadge(BadgeRow("OLD").From("2001-01-01 00:00:00").To("2002-01-01 00:00:00"));
  auto r = db.Run(GenerateVQDNL17P);
  EXPECT_TRUE(r.lines.empty());
  EXPECT_EQ(r.out, Counts(0, 0));
}

// A badge number or class that does not fit is reported and left out; the
// widest values that fit give records of exactly 85 characters.
TEST(VQDNL17P, BadgeNumberOrClassTooLongIsLeftOut) {
  GenDb db;
  db.AddBadge(BadgeRow("1234567890123").Class("ABC"));
  db.AddBadge(BadgeRow("12345678901234"));
  db.AddBadge(BadgeRow("X1").Class("ABCD"));
  db.AddReader(11, "R11");
  db.Permit("ABC", "R11");
  db.Permit("ABCD", "R11");
  auto r = db.Run(GenerateVQDNL17P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], Head("1234567890123", "20060101", "11") + Blanks(50) + "11ABC");
  EXPECT_NE(r.out.find("Ausweis 12345678901234: Ausweisnummer laenger als 13 Zeichen, nicht in "
                       "Datei gestellt\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Ausweis X1: Berechtigungsklasse ABCD laenger als 3 Zeichen, nicht in "
                       "Datei gestellt\n"),
            std::string::npos);
  EXPECT_NE(r.out.find(Counts(3, 1)), std::string::npos);
}

// The class stands only in the reader entries, which a badge without access
// does not have: such a badge is stored whatever the length of its class.
TEST(VQDNL17P, LongClassWithoutAccessIsStored) {
  GenDb db;
  db.AddBadge(BadgeRow("N1").Class("ABCD"));
  db.AddBadge(BadgeRow("N2").Class("ABCDEFGHIJ"));
  db.AddBadge(BadgeRow("Y1").Class("WXYZ"));
  db.AddReader(1, "R1");
  db.AddReader(2, "R2");
  db.Permit("WXYZ", "R2");
  auto r = db.Run(GenerateVQDNL17P);
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0], Head("N1", "20060101", "10") + Blanks(55));
  EXPECT_EQ(r.lines[1], Head("N2", "20060101", "10") + Blanks(55));
  EXPECT_EQ(r.lines[0].size(), 85u);
  EXPECT_EQ(r.out.find("Berechtigungsklasse ABCD"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Ausweis Y1: Berechtigungsklasse WXYZ laenger als 3 Zeichen, nicht in "
                       "Datei gestellt\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(Counts(3, 2)), std::string::npos) << r.out;
}

// A line feed or tab in the data would shift every record behind it in the
// file: such a badge is left out and named.
TEST(VQDNL17P, ControlCharacterLeavesTheBadgeOut) {
  GenDb db;
  db.AddBadge(BadgeRow("A\n1"));
  db.AddBadge(BadgeRow("B\t1"));
  db.AddBadge(BadgeRow("C1"));
  auto r = db.Run(GenerateVQDNL17P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0].substr(0, 2), "C1");
  EXPECT_NE(r.out.find("Ausweis A\n1: Steuerzeichen in den Daten, nicht in Datei gestellt\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Ausweis B\t1: Steuerzeichen in den Daten, nicht in Datei gestellt\n"),
            std::string::npos);
  EXPECT_NE(r.out.find(Counts(3, 1)), std::string::npos);
}

// A balance beyond the 32-bit range is an overflow error, as SQL Server's
// int sum is: the balance message with its sqlcode and 7 blanks, not a
// figure cut to 32 bits.
TEST(VQDNL17P, BalanceBeyond32BitsIsAnOverflowNotAWrappedFigure) {
  GenDb db;
  db.AddBadge(BadgeRow("B1").Pnr("P1"));
  db.AddBalance("P1", 2147483647, 1);
  auto r = db.Run(GenerateVQDNL17P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], Head("B1", "20060101", "10") + Blanks(55));
  EXPECT_EQ(r.out.rfind("Saldo Ermitteln. Saldo:  0,00 , SQLCode:-8115\n", 0), 0u) << r.out;
}

// A lookup whose table is missing is the database failing, not a badge
// without a row: the pass ends with no line and no count.
TEST(VQDNL17P, MissingTableOfALookupEndsThePass) {
  for (const char* drop : {"DROP TABLE Zrt320Tgb;", "DROP TABLE \"ZrSystem.Zrt113Sto\";"}) {
    SCOPED_TRACE(drop);
    GenDb db;
    db.AddBadge(BadgeRow("B1").Pnr("P1").Location("12"));
    db.Exec(drop);
    auto r = db.Run(GenerateVQDNL17P);
    EXPECT_TRUE(r.failed);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_EQ(r.out.find("Ausweise gesamt"), std::string::npos) << r.out;
  }
}

TEST(VQDNL17P, RefusedLineIsReportedCountedLostAndRunGoesOn) {
  GenDb db;
  db.AddBadge(BadgeRow("B1").Pnr("P1"));
  db.AddBadge(BadgeRow("B2").Pnr("P2"));
  db.AddBalance("P1", 0);
  db.AddBalance("P2", 0);
  db.RefuseLinesStartingWith("B1");
  auto r = db.Run(GenerateVQDNL17P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0].substr(0, 2), "B2");
  EXPECT_EQ(r.lines_lost, 1);
  std::string line = Head("B1", "20060101", "10", "  0,00 ") + Blanks(55);
  size_t at = r.out.find("Insert-Error Zrt999Tmp! ErrNr: -");
  ASSERT_NE(at, std::string::npos) << r.out;
  // Neither message has a line end of its own.
  std::string user = "User: " + std::string(test::kGenPath) + "  String: " + line;
  EXPECT_EQ(r.out.substr(r.out.find("User: "), user.size() + Counts(2, 1).size()),
            user + Counts(2, 1));
}

}  // namespace
}  // namespace plom
