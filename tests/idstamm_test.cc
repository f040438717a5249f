// IDSTAMM lines on embedded databases laid out for each case.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/generator_fixture.h"

namespace plom {
namespace {

using test::BadgeRow;
using test::Counts;
using test::GenDb;

// The line of 13 quoted values.
std::string Line(const std::vector<std::string>& v) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ",\"" : "\"") + v[i] + "\"";
  return s + "\n";
}

TEST(IDSTAMM, LineOfBadge471) {
  GenDb db;
  db.AddBadge(BadgeRow("471").Pnr("815").Location("12"));
  db.AddPerson("815", 1, "A");
  db.AddReader(1, "R1");
  db.Permit("5", "R1");
  auto r = db.Run(GenerateIDSTAMM);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0],
            "\"471\",\"20060101\",\"\",\"00012\",\"1\",\"1\",\"1\",\"A\",\"001\","
            "\"5  \",\"\",\"815\",\"0\"\n");
  EXPECT_EQ(r.out, Counts(1, 1));
}

TEST(IDSTAMM, FieldsFollowTheBadge) {
  struct Case {
    const char* name;
    BadgeRow badge;
    bool permit;      // class permitted on reader 1
    bool block_time;  // type-3 row for class "0" on reader 1
    std::string line;
  } cases[] = {
      {"location 100000 shows empty",
       BadgeRow("B1").To("2030-06-30 00:00:00").Pnr("9").Atp(12).Location("100000"), true, false,
       Line({"B1", "20060101", "20300630", "", "1", "1", "", "", "001", "5  ", "", "9", "12"})},
      {"no location, no person", BadgeRow("B2").From(std::nullopt).To("2030-06-30 00:00:00"), true,
       false, Line({"B2", "", "20300630", "", "1", "1", "", "", "001", "5  ", "", "", "0"})},
      {"unresolved class 0, time only", BadgeRow("B3").Class("0").Location("99999"), false, false,
       Line({"B3", "20060101", "", "99999", "1", "0", "", "", "001", "0", "", "", "0"})},
      // A class-0 row on reader 1 counts for access; being type 3 it
      // takes time recording away.
      {"unresolved class 0, access only", BadgeRow("B4").Class("0"), false, true,
       Line({"B4", "20060101", "", "", "0", "1", "", "", "001", "0", "", "", "0"})},
  };
  for (Case& k : cases) {
    SCOPED_TRACE(k.name);
    GenDb db;
    db.AddBadge(k.badge);
    db.AddReader(1, "R1");
    if (k.permit) db.Permit("5", "R1");
    if (k.block_time) db.Permit("0", "R1", 3);
    auto r = db.Run(GenerateIDSTAMM);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], k.line);
    EXPECT_EQ(r.out, Counts(1, 1));
  }
}

TEST(IDSTAMM, ClassZeroTakesTheAccessRight) {
  GenDb db;
  db.AddBadge(BadgeRow("B1").Pnr("7").Class("0").Group("G1"));
  db.AddGroupRight("G1", "42", "2010-05-01 00:00:00", "2030-01-31 00:00:00");
  db.AddReader(30, "R30");
  db.Permit("42", "R30");
  auto r = db.Run(GenerateIDSTAMM);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0],
            Line({"B1", "20100501", "20300131", "", "1", "1", "", "", "001", "42 ", "", "7", "0"}));
}

TEST(IDSTAMM, SameBadgeTwiceGivesTwoLines) {
  GenDb db;
  db.AddBadge(BadgeRow("B1"));
  db.AddBadge(BadgeRow("B1").From("2007-01-01 00:00:00"));
  auto r = db.Run(GenerateIDSTAMM);
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[1],
            Line({"B1", "20070101", "", "", "1", "0", "", "", "001", "5  ", "", "", "0"}));
  EXPECT_EQ(r.out, Counts(2, 2));
}

// Values are not escaped: a quote or a comma would shift the fields.
TEST(IDSTAMM, QuoteOrCommaLeavesTheBadgeOut) {
  GenDb db;
  db.AddBadge(BadgeRow("A\"1"));
  db.AddBadge(BadgeRow("B,1"));
  db.AddBadge(BadgeRow("C1").Pnr("P3"));
  db.AddBadge(BadgeRow("D1").Pnr("P4"));
  db.AddBadge(BadgeRow("E\n1"));
  db.AddPerson("P3", 2, "Dr, med");
  db.AddPerson("P4", 2, "Herr");
  auto r = db.Run(GenerateIDSTAMM);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0],
            Line({"D1", "20060101", "", "", "1", "0", "2", "Herr", "001", "5  ", "", "P4", "0"}));
  EXPECT_EQ(r.out,
            "Ausweis A\"1: Stammdaten mit Anfuehrungszeichen, Komma oder Steuerzeichen, nicht in "
            "Datei gestellt\n"
            "Ausweis B,1: Stammdaten mit Anfuehrungszeichen, Komma oder Steuerzeichen, nicht in "
            "Datei gestellt\n"
            "Ausweis C1: Stammdaten mit Anfuehrungszeichen, Komma oder Steuerzeichen, nicht in "
            "Datei gestellt\n"
            "Ausweis E\n1: Stammdaten mit Anfuehrungszeichen, Komma oder Steuerzeichen, nicht in "
            "Datei gestellt\n" +
                Counts(5, 1));
}

TEST(IDSTAMM, RefusedLineIsReportedWithItsOwnLineFeed) {
  GenDb db;
  db.AddBadge(BadgeRow("B1"));
  db.RefuseLinesStartingWith("\"B1");
  auto r = db.Run(GenerateIDSTAMM);
  EXPECT_TRUE(r.lines.empty());
  EXPECT_EQ(r.lines_lost, 1);
  std::string tail = "User: " + std::string(test::kGenPath) + "  String: " +
                     Line({"B1", "20060101", "", "", "1", "0", "", "", "001", "5  ", "", "", "0"}) +
                     Counts(1, 0);
  EXPECT_EQ(r.out.rfind("Insert-Error Zrt999Tmp! ErrNr: -", 0), 0u) << r.out;
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

}  // namespace
}  // namespace plom
