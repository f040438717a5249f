#include "config/config_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "platform/files.h"
#include "tests/test_util.h"

namespace plom {
namespace {

using test::IniEntry;

class ConfigFileTest : public ::testing::Test {
 protected:
  ConfigFileTest() : dir_(test::TempDir()), path_(dir_ + "/korvantis.ini") {}
  ~ConfigFileTest() override { std::filesystem::remove_all(dir_); }

  // The run driver's lookup: empty group, number 0.
  ConfigEntry Driver(const std::string& key) { return ConfigLookup("", key, 0, path_); }
  std::vector<std::string> Keys() {
    std::vector<ConfigEntry> all;
    EXPECT_TRUE(ConfigReadAll(path_, &all));
    std::vector<std::string> keys;
    for (const ConfigEntry& e : all) keys.push_back(e.key);
    return keys;
  }

  std::string dir_, path_;
};

void ExpectEmpty(const ConfigEntry& e) {
  EXPECT_EQ(e.number, 0);
  EXPECT_EQ(e.group, "");
  EXPECT_EQ(e.key, "");
  EXPECT_EQ(e.value, "");
}

TEST(ConfigStringTest, NthCharPos) {
  struct {
    const char* text;
    int n;
    int want;
  } cases[] = {
      {"", 1, -1},     {"abc", 1, -1},  {";", 1, 0},   {";", 2, 0},     {"a;b;c", 1, 1},
      {"a;b;c", 2, 3}, {"a;b;c", 3, 3}, {"a;;", 2, 2}, {"a;b;c", 0, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NthCharPos(c.text, ';', c.n), c.want) << c.text << " " << c.n;
  }
}

TEST(ConfigStringTest, SubstrCopy) {
  struct {
    int start, length;
    const char* want;
  } cases[] = {
      {1, 3, "bcd"}, {1, 0, "bcdef"}, {0, 0, "abcdef"}, {1, -1, ""},
      {4, 9, "ef"},  {6, 0, ""},      {9, 2, ""},       {-1, 2, "ab"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SubstrCopy("abcdef", c.start, c.length), c.want) << c.start << "," << c.length;
  }
}

TEST_F(ConfigFileTest, MissingFileGivesEmptyEntry) {
  ExpectEmpty(Driver("LOGIN"));
  std::vector<ConfigEntry> all;
  EXPECT_FALSE(ConfigReadAll(path_, &all));
}

TEST_F(ConfigFileTest, FindsByKeyGroupOrNumber) {
  test::WriteFile(path_, IniEntry("G1", 1, "LOGIN", "sa") +
                             IniEntry("G2", 2, "PASS", "geheim", "\r\n") +
                             IniEntry("G3", 3, "SCHEMA", "ZrSystem."));
  struct {
    const char* group;
    const char* key;
    int number;
    int want;
    const char* value;
  } cases[] =
      {
          {"", "LOGIN", 0, 1, "sa"},    {"", "SCHEMA", 0, 3, "ZrSystem."},
          {"G2", "", -1, 2, "geheim"},  {"x", "y", 3, 3, "ZrSystem."},
          {"G2", "SCHEMA", 1, 1, "sa"},  // the first entry that matches wins
          {"", "NET8", 0, 0, ""},       {"g1", "login", 9, 0, ""},
      };
  for (const auto& c : cases) {
    ConfigEntry e = ConfigLookup(c.group, c.key, c.number, path_);
    EXPECT_EQ(e.number, c.want) << c.key;
    EXPECT_EQ(e.value, c.value) << c.key;
  }
  ConfigEntry e = Driver("PASS");
  EXPECT_EQ(e.group, "G2");
  EXPECT_EQ(e.key, "PASS");
  // The backslashed form of the path opens the same file.
  EXPECT_EQ(ConfigLookup("", "PASS", 0, dir_ + "\\korvantis.ini").value, "geheim");
}

TEST_F(ConfigFileTest, DuplicateKeyFirstWins) {
  test::WriteFile(path_, IniEntry("G", 1, "PASS", "first") + IniEntry("G", 2, "PASS", "second"));
  EXPECT_EQ(Driver("PASS").value, "first");
}

TEST_F(ConfigFileTest, CatchAllEntries) {
  // Entries with an empty group or the number 0 stand before the wanted one.
  // The run driver's lookups go by key and pass over them; a lookup by a
  // group or a non-zero number still takes them by that field.
  const std::string tail = IniEntry("G", 5, "SCHEMA", "wanted");
  struct {
    std::string head;
    int number;
    std::string value;
  } cases[] = {
      // A blank first line: empty group.
      {"\n1;PASS;" + EncipherValue("blank") + "\n", 1, "blank"},
      // One ';' in the first line: empty group.
      {"DB;G\n2;PASS;" + EncipherValue("one") + "\n", 2, "one"},
      // Number 0, or no number at all.
      {"DB;G;\n0;PASS;" + EncipherValue("zero") + "\n", 0, "zero"},
      {"DB;G;\n;PASS;" + EncipherValue("none") + "\n", 0, "none"},
      {"DB;G;\nx7;PASS;" + EncipherValue("text") + "\n", 0, "text"},
      // No ';' at all in the second line: empty key, number 0.
      {"\nstray line\n", 0, ""},
  };
  for (const auto& c : cases) {
    test::WriteFile(path_, IniEntry("G", 9, "LOGIN", "sa") + c.head + tail);
    ConfigEntry schema = Driver("SCHEMA");
    EXPECT_EQ(schema.value, "wanted") << c.head;
    EXPECT_EQ(schema.number, 5) << c.head;
    EXPECT_EQ(schema.group, "G") << c.head;
    EXPECT_EQ(Driver("LOGIN").value, "sa") << c.head;
    ExpectEmpty(Driver("SQLSERVER"));  // no such key: nothing answers for it
    EXPECT_EQ(ConfigLookup("nomatch", "SCHEMA", -1, path_).value, "wanted");
    if (c.number != 0) {
      EXPECT_EQ(ConfigLookup("", "X", c.number, path_).value, c.value) << c.head;
    }
  }
  // The empty key is compared like any other: the stray entry has it.
  test::WriteFile(path_, IniEntry("G", 1, "LOGIN", "sa") + "\nstray\n" + tail);
  EXPECT_EQ(Driver("").key, "");
  EXPECT_EQ(Driver("").group, "");
  EXPECT_EQ(Driver("SCHEMA").value, "wanted");
}

TEST_F(ConfigFileTest, GroupAndNumberStillMatchWhenGiven) {
  test::WriteFile(path_, IniEntry("A", 1, "LOGIN", "sa") + IniEntry("B", 2, "PASS", "pw") +
                             IniEntry("C", 3, "SCHEMA", "s."));
  struct {
    const char* group;
    const char* key;
    int number;
    const char* value;
  } cases[] = {
      {"", "PASS", 0, "pw"},    {"C", "nomatch", 0, "s."}, {"", "nomatch", 2, "pw"},
      {"B", "SCHEMA", 0, "pw"}, {"", "SCHEMA", 1, "sa"},   {"", "nomatch", 0, ""},
      {"", "nomatch", -1, ""},  {"Z", "nomatch", 4, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConfigLookup(c.group, c.key, c.number, path_).value, c.value)
        << c.group << "/" << c.key << "/" << c.number;
  }
}

TEST_F(ConfigFileTest, AdjacentSeparatorsGiveRestOfLine) {
  test::WriteFile(path_, "DB;;rest\n1;;X\n" + IniEntry("G", 2, "PASS", "pw"));
  EXPECT_EQ(Driver("PASS").value, "pw");  // entry 1 matches neither "" nor 0
  ConfigEntry e = ConfigLookup("", "", 1, path_);
  EXPECT_EQ(e.group, ";rest\n");
  EXPECT_EQ(e.key, ";X\n");
  // CR LF reads as LF; a lone CR stays.
  test::WriteFile(path_, "DB;;rest\r\r\n1;;X\r\n");
  EXPECT_EQ(ConfigLookup("", "", 1, path_).group, ";rest\r\n");
  EXPECT_EQ(ConfigLookup("", "", 1, path_).key, ";X\n");
}

TEST_F(ConfigFileTest, ValueForms) {
  struct {
    std::string second;
    std::string value;
  } cases[] = {
      {"1;PASS;\n", ""},    // line end alone
      {"1;PASS;\r\n", ""},  // CR LF reads as LF
      {"1;PASS;" + EncipherValue("pw") + "\r\n", "pw"},
      {"1;PASS;" + EncipherValue("pw"), "pw"},               // no line end at the end
      {"1;PASS;" + EncipherValue("pw") + ";" + "\n", "pw"},  // 20 digits, then ";"
      {"1;PASS", ""},                                        // only one ';': key ""
  };
  for (const auto& c : cases) {
    test::WriteFile(path_, "DB;G;\r\n" + c.second);
    ConfigEntry e = ConfigLookup("G", "", -1, path_);
    EXPECT_EQ(e.group, "G") << c.second;
    EXPECT_EQ(e.value, c.value) << c.second;
  }
  // A value field is cut at 200 digits (40 characters).
  const std::string plain44(44, 'v');
  test::WriteFile(path_, "DB;G;\n1;PASS;" + EncipherValue(plain44) + "\n");
  EXPECT_EQ(Driver("PASS").value, std::string(40, 'v'));
}

TEST_F(ConfigFileTest, SecondLineWithoutSeparator) {
  test::WriteFile(path_, "DB;G;\n" + EncipherValue("abcd") + "\n");
  ConfigEntry e = ConfigLookup("", "", 0, path_);
  EXPECT_EQ(e.number, 0);
  EXPECT_EQ(e.key, "");
  EXPECT_EQ(e.value, "abcd");  // the whole line; the line end is past the last group
}

TEST_F(ConfigFileTest, OverlongLinesShiftEntries) {
  // Lengths with line end: a first line holds 199, a second line 399.
  auto first = [](size_t len) { return "DB;G;" + std::string(len - 6, 'y') + "\n"; };
  auto second = [](size_t len) { return "1;K;" + std::string(len - 5, 'z') + "\n"; };
  const std::string next = IniEntry("G", 2, "PASS", "pw");
  struct {
    std::string text;
    std::vector<std::string> keys;
  } cases[] = {
      {first(199) + "1;K;\n" + next, {"K", "PASS"}},
      {first(200) + "1;K;\n" + next, {"", "G"}},
      {second(399).insert(0, "DB;G;\n") + next, {"K", "PASS"}},
      {second(400).insert(0, "DB;G;\n") + next, {"K", "G"}},
  };
  for (const auto& c : cases) {
    test::WriteFile(path_, c.text);
    EXPECT_EQ(Keys(), c.keys) << c.text.size();
  }
  // Shifted, the remainder "\n" of a cut second line is a blank first line.
  test::WriteFile(path_, "DB;G;\n" + second(400) + next);
  ConfigEntry shifted = Driver("G");
  EXPECT_EQ(shifted.key, "G");
  EXPECT_EQ(shifted.group, "");
  EXPECT_EQ(shifted.number, 0);
}

TEST_F(ConfigFileTest, OddNumberOfLines) {
  test::WriteFile(path_, IniEntry("G", 1, "LOGIN", "sa") + "2;PASS;" + EncipherValue("pw") + "\n");
  ExpectEmpty(Driver("PASS"));
  EXPECT_EQ(Keys(), std::vector<std::string>{"LOGIN"});
}

}  // namespace
}  // namespace plom
