// Storing a run's lines at once: every line arrives exactly once, in as few
// statements as the chunks need, and a failure stores nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installation/line_store.h"
#include "tests/generator_fixture.h"

namespace plom {
namespace {

using test::GenDb;

std::vector<std::string> Lines(size_t n) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < n; ++i) lines.push_back("line " + std::to_string(1000 + i) + "  ");
  return lines;
}

TEST(LinesAtOnce, ChunkBoundaries) {
  for (size_t n : {0u, 1u, 99u, 100u, 101u, 250u}) {
    GenDb db;
    auto c = db.db().Connect();
    LineStore store(*c);
    std::vector<std::string> lines = Lines(n);
    ASSERT_EQ(store.InsertAtOnce("p", lines), 0) << n;
    EXPECT_EQ(db.StoredLines("p"), lines) << n;
    // Begin, one INSERT per full chunk, one per line left over, commit.
    int64_t expected = n == 0 ? 0 : 2 + n / kLinesPerInsert + n % kLinesPerInsert;
    EXPECT_EQ(c->statements_sent(), expected) << n;
  }
}

TEST(LinesAtOnce, AnotherPathStaysApart) {
  GenDb db;
  auto c = db.db().Connect();
  LineStore store(*c);
  ASSERT_EQ(store.InsertAtOnce("a", Lines(150)), 0);
  ASSERT_EQ(store.InsertAtOnce("b", {"x"}), 0);
  EXPECT_EQ(db.StoredLines("a").size(), 150u);
  EXPECT_EQ(db.StoredLines("b"), std::vector<std::string>{"x"});
}

TEST(LinesAtOnce, ARefusedLineStoresNothing) {
  for (const char* refused : {"line 1000", "line 1150", "line 1201"}) {
    GenDb db;
    db.RefuseLinesStartingWith(refused);
    auto c = db.db().Connect();
    LineStore store(*c);
    EXPECT_LT(store.InsertAtOnce("p", Lines(202)), 0) << refused;
    EXPECT_TRUE(db.StoredLines("p").empty()) << refused;
    // The connection is usable afterwards, outside any transaction.
    EXPECT_EQ(store.Insert("q", "after"), 0);
    EXPECT_EQ(store.Flush(), 0);
    EXPECT_EQ(db.StoredLines("q"), std::vector<std::string>{"after"});
  }
}

TEST(LinesAtOnce, TooLongRefusedBeforeAnythingIsSent) {
  GenDb db;
  auto c = db.db().Connect();
  LineStore store(*c);
  std::vector<std::string> lines = Lines(5);
  lines.push_back(std::string(kMaxLineLen + 1, 'x'));
  EXPECT_LT(store.InsertAtOnce("p", lines), 0);
  EXPECT_LT(store.InsertAtOnce(std::string(kMaxPathLen + 1, 'p'), Lines(3)), 0);
  EXPECT_EQ(c->statements_sent(), 0);
  lines.back() = std::string(kMaxLineLen, 'x');
  EXPECT_EQ(store.InsertAtOnce("p", lines), 0);
  EXPECT_EQ(db.StoredLines("p").size(), 6u);
}

}  // namespace
}  // namespace plom
