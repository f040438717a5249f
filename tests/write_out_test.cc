// Counting, guarding and comparing download files at the write-out.
#include "driver/write_out.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace plom {
namespace {

using Records = std::vector<std::string>;

TEST(SplitRecords, FixedWidthPiecesWithAShortLastOne) {
  EXPECT_EQ(SplitRecords("", 3), Records{});
  EXPECT_EQ(SplitRecords("abcdef", 3), (Records{"abc", "def"}));
  EXPECT_EQ(SplitRecords("abcdefg", 3), (Records{"abc", "def", "g"}));
  // A line end inside a fixed-width file is just a byte of a record.
  EXPECT_EQ(SplitRecords("a\r\nbcd", 3), (Records{"a\r\n", "bcd"}));
}

TEST(SplitRecords, LinesEndingInCrLf) {
  EXPECT_EQ(SplitRecords("", 0), Records{});
  EXPECT_EQ(SplitRecords("\"1\",\"x\"\r\n\"2\"\r\n", 0), (Records{"\"1\",\"x\"", "\"2\""}));
  EXPECT_EQ(SplitRecords("a\r\nb", 0), (Records{"a", "b"}));
  // A bare line feed does not end a record; an empty line is a record.
  EXPECT_EQ(SplitRecords("a\nb\r\n\r\n", 0), (Records{"a\nb", ""}));
}

TEST(CountRecords, AsManyAsSplitGives) {
  for (int width : {0, 1, 3, 45}) {
    for (const char* data :
         {"", "a", "abc", "abcd", "a\r\n", "a\r\nb", "\r\n\r\n", "a\nb\r\nc\r\n"}) {
      EXPECT_EQ(CountRecords(data, width), SplitRecords(data, width).size())
          << width << " [" << data << "]";
    }
  }
}

TEST(CountFileRecords, ByteSizeForFixedWidthLinesForLineFiles) {
  std::string dir = ::testing::TempDir();
  std::string path = dir + "/count_records.dnl";
  std::remove(path.c_str());
  EXPECT_EQ(CountFileRecords(path, 45), 0u);
  EXPECT_EQ(CountFileRecords(path, 0), 0u);
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(90, 'x') << "yy";
  }
  EXPECT_EQ(CountFileRecords(path, 45), 3u);
  EXPECT_EQ(CountFileRecords(path, 46), 2u);
  {
    std::ofstream out(path, std::ios::binary);
    out << "\"1\"\r\n\"2\"\r\n\"3\"\r\n";
  }
  EXPECT_EQ(CountFileRecords(path, 0), 3u);
  std::remove(path.c_str());
}

TEST(GuardTrips, Boundaries) {
  struct Case {
    size_t old_records, new_records;
    int pct;
    bool trips;
  } cases[] = {
      {20, 1, 10, true},   // 1 of 20 is 5 %
      {20, 2, 10, false},  // exactly 10 % is enough
      {19, 0, 10, false},  // a file of fewer than 20 records is never guarded
      {20, 0, 10, true},      {160, 16, 10, false},  // 16 of 160 is 10 %
      {161, 16, 10, true},    {1000, 499, 50, true},
      {1000, 500, 50, false}, {1000, 0, 0, false},  // 0 switches the guard off
      {100, 99, 100, true},   {100, 100, 100, false},
      {100, 200, 10, false},  {4000000000u, 1, 10, true},  // no overflow with large counts
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GuardTrips(c.old_records, c.new_records, c.pct, 20), c.trips)
        << c.old_records << " -> " << c.new_records << " at " << c.pct << " %";
  }
}

TEST(CompareRecords, AddedRemovedChangedByBadgeNumber) {
  struct Case {
    Records old_records, new_records;
    int width;
    int64_t added, removed, changed;
  } cases[] = {
      {{}, {}, 20, 0, 0, 0},
      {{}, {"1001         aaaaaaa"}, 20, 1, 0, 0},
      {{"1001         aaaaaaa"}, {}, 20, 0, 1, 0},
      {{"1001         aaaaaaa"}, {"1001         aaaaaaa"}, 20, 0, 0, 0},
      {{"1001         aaaaaaa"}, {"1001         bbbbbbb"}, 20, 0, 0, 1},
      // Same tail, other badge: one removed, one added.
      {{"1001         aaaaaaa"}, {"1002         aaaaaaa"}, 20, 1, 1, 0},
      {{"1001         a", "1002         b", "1003         c"},
       {"1001         a", "1002         X", "1004         d", "1005         e"},
       14,
       2,
       1,
       1},
      // A badge twice in the new file, once in the old: one change, one addition.
      {{"1001         a"}, {"1001         b", "1001         c"}, 14, 1, 0, 1},
      // Line files: the badge number is the first field.
      {{"\"1\",\"a\"", "\"2\",\"b\""}, {"\"1\",\"z\"", "\"3\",\"b\""}, 0, 1, 1, 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    RecordChanges r = CompareRecords(c.old_records, c.new_records, c.width);
    EXPECT_EQ(r.added, c.added) << "case " << n;
    EXPECT_EQ(r.removed, c.removed) << "case " << n;
    EXPECT_EQ(r.changed, c.changed) << "case " << n;
    ++n;
  }
}

}  // namespace
}  // namespace plom
