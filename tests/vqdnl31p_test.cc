// VQDNL31P records on embedded databases laid out for each case.
#include <gtest/gtest.h>

#include <string>

#include "tests/generator_fixture.h"

namespace plom {
namespace {

using test::BadgeRow;
using test::Blanks;
using test::Counts;
using test::Field;
using test::GenDb;

// The whole 48-character record.
std::string Record(const std::string& badge, const std::string& from, const std::string& to,
                   const char* flags, const std::string& cls, const std::string& loc = "") {
  return Field(badge, 13) + from + to + flags + "XXXX,XX-" + "001" + Field(cls, 3) + Field(loc, 3);
}

TEST(VQDNL31P, RecordCarriesValidityWindowClassAndLocation) {
  GenDb db;
  db.AddBadge(BadgeRow("4711").To("2030-12-31 00:00:00").Location("12"));
  db.AddLocation("12", "HALLE");
  db.AddReader(1, "R1");
  db.Permit("5", "R1");
  auto r = db.Run(GenerateVQDNL31P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], Record("4711", "20060101", "20301231", "11", "5", "HAL"));
  EXPECT_EQ(r.lines[0].size(), 48u);
  EXPECT_EQ(r.out, Counts(1, 1));
}

TEST(VQDNL31P, ResolvedClassAndAccessDecide) {
  struct Case {
    const char* name;
    std::string bkl;
    int reader;          // the one reader of the terminal
    bool permit;         // class permitted on it
    bool block_time;     // type-3 row for the class on reader 1
    std::string record;  // empty: not stored
    std::string message;
  } cases[] = {
      // Beyond the 11 readers that VQDNL17P looks at.
      {"permitted on reader 20", "5", 20, true, false,
       Record("B1", "20060101", "00000000", "11", "5"), ""},
      {"time blocked on reader 1", "5", 1, true, true,
       Record("B1", "20060101", "00000000", "01", "5"), ""},
      {"time only", "5", 1, false, false, "",
       "Ausweis B1 ohne Zutrittsberechtigung auf Terminal TERM1\n"},
      // Class 0 without an access right is left out even when it could
      // record time and is permitted on a reader.
      {"unresolved class 0", "0", 1, true, false, "",
       "Ausweis B1 ohne g\xFCltige Berechtigungsklasse\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    GenDb db;
    db.AddBadge(BadgeRow("B1").Class(k.bkl));
    db.AddReader(k.reader, "RX");
    if (k.permit) db.Permit(k.bkl, "RX");
    if (k.block_time) db.Permit(k.bkl, "RX", 3);
    auto r = db.Run(GenerateVQDNL31P);
    if (k.record.empty()) {
      EXPECT_TRUE(r.lines.empty());
      EXPECT_EQ(r.out, k.message + Counts(1, 0));
    } else {
      ASSERT_EQ(r.lines.size(), 1u);
      EXPECT_EQ(r.lines[0], k.record);
      EXPECT_EQ(r.out, Counts(1, 1));
    }
  }
}

TEST(VQDNL31P, ClassZeroTakesTheAccessRight) {
  GenDb db;
  db.AddBadge(BadgeRow("B1").From(std::nullopt).To(test::DateTime(5)).Class("0").Group("G1"));
  db.AddGroupRight("G1", "12", "2010-05-01 00:00:00");
  db.AddReader(1, "R1");
  db.Permit("12", "R1");
  auto r = db.Run(GenerateVQDNL31P);
  ASSERT_EQ(r.lines.size(), 1u);
  // The right's window replaces the badge's own: no end, so "00000000".
  EXPECT_EQ(r.lines[0], Record("B1", "20100501", "00000000", "11", "12"));
}

TEST(VQDNL31P, EmptyDatesAndShortLocationText) {
  GenDb db;
  db.AddBadge(BadgeRow("B1").From(std::nullopt).To(test::DateTime(5)).Location("3"));
  db.AddBadge(BadgeRow("B2").Location("4"));
  db.AddLocation("3", "A");
  db.AddReader(1, "R1");
  db.Permit("5", "R1");
  auto r = db.Run(GenerateVQDNL31P);
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0], Record("B1", "00000000", test::Ymd(5), "11", "5", "A"));
  // A location number without a location row: blank, no message.
  EXPECT_EQ(r.lines[1], Record("B2", "20060101", "00000000", "11", "5"));
  EXPECT_EQ(r.out, Counts(2, 2));
}

TEST(VQDNL31P, BadgeNumberOrClassTooLongIsLeftOut) {
  GenDb db;
  db.AddBadge(BadgeRow("ABCDEFGHIJKLMN"));
  db.AddBadge(BadgeRow("B2").Class("1234"));
  db.AddBadge(BadgeRow("ABCDEFGHIJKLM").Class("123"));
  db.AddReader(1, "R1");
  db.Permit("5", "R1");
  db.Permit("1234", "R1");
  db.Permit("123", "R1");
  auto r = db.Run(GenerateVQDNL31P);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_EQ(r.lines[0], Record("ABCDEFGHIJKLM", "20060101", "00000000", "11", "123"));
  EXPECT_EQ(r.out,
            "Ausweis ABCDEFGHIJKLMN: Ausweisnummer laenger als 13 Zeichen, nicht in Datei "
            "gestellt\n"
            "Ausweis B2: Berechtigungsklasse 1234 laenger als 3 Zeichen, nicht in Datei "
            "gestellt\n" +
                Counts(3, 1));
}

}  // namespace
}  // namespace plom
