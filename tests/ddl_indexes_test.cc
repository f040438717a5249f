// Both database layouts: every lookup the tool makes seeks, because the
// columns it filters on lead an index of its table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "installation/statements.h"
#include "tests/test_util.h"

namespace plom {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n\"[]");
  size_t e = s.find_last_not_of(" \t\r\n\"[]");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// A table's name without its schema, in lower case.
std::string TableName(std::string qualified) {
  qualified = Trim(qualified);
  size_t dot = qualified.rfind('.');
  return Lower(dot == std::string::npos ? qualified : qualified.substr(dot + 1));
}

std::vector<std::string> Columns(const std::string& list) {
  std::vector<std::string> cols;
  size_t i = 0;
  while (i <= list.size()) {
    size_t comma = list.find(',', i);
    if (comma == std::string::npos) comma = list.size();
    std::string c = Trim(list.substr(i, comma - i));
    size_t blank = c.find(' ');  // "col DESC"
    if (blank != std::string::npos) c = c.substr(0, blank);
    if (!c.empty()) cols.push_back(Lower(c));
    i = comma + 1;
  }
  return cols;
}

struct Index {
  std::vector<std::string> columns;
  bool unique = false;
  bool clustered = false;
};

// The indexes of a DDL text per table: CREATE INDEX statements and primary
// keys (of a column or of the table).
std::map<std::string, std::vector<Index>> IndexesOf(const std::string& ddl) {
  std::map<std::string, std::vector<Index>> out;
  std::regex create(
      R"(CREATE\s+(UNIQUE\s+)?(CLUSTERED\s+|NONCLUSTERED\s+)?INDEX\s+(IF\s+NOT\s+EXISTS\s+)?\S+\s+ON\s+(\S+)\s*\(([^)]*)\))",
      std::regex::icase);
  for (auto it = std::sregex_iterator(ddl.begin(), ddl.end(), create); it != std::sregex_iterator();
       ++it) {
    const std::smatch& m = *it;
    out[TableName(m[4])].push_back(
        Index{Columns(m[5]), m[1].matched, Lower(m[2].str()).rfind("clustered", 0) == 0});
  }
  std::regex table(R"(CREATE\s+TABLE\s+(IF\s+NOT\s+EXISTS\s+)?(\S+)\s*\(([\s\S]*?)\n\);)",
                   std::regex::icase);
  std::regex column_key(R"(\s*(\w+)\s.*PRIMARY\s+KEY\s*,?\s*)", std::regex::icase);
  std::regex table_key(R"(PRIMARY\s+KEY\s*\(([^)]*)\))", std::regex::icase);
  for (auto it = std::sregex_iterator(ddl.begin(), ddl.end(), table); it != std::sregex_iterator();
       ++it) {
    std::string name = TableName((*it)[2]);
    std::string body = (*it)[3];
    std::smatch k;
    for (size_t at = 0; at < body.size();) {
      size_t end = body.find('\n', at);
      if (end == std::string::npos) end = body.size();
      std::string line = body.substr(at, end - at);
      if (std::regex_match(line, k, column_key)) {
        out[name].push_back(Index{{Lower(k[1])}, true, false});
      }
      at = end + 1;
    }
    if (std::regex_search(body, k, table_key))
      out[name].push_back(Index{Columns(k[1]), true, false});
  }
  return out;
}

// Whether the columns lead one of the indexes (in any order among
// themselves).
bool Led(const std::vector<Index>& indexes, std::vector<std::string> filtered) {
  for (auto& f : filtered) f = Lower(f);
  std::sort(filtered.begin(), filtered.end());
  for (const Index& ix : indexes) {
    if (ix.columns.size() < filtered.size()) continue;
    std::vector<std::string> lead(ix.columns.begin(), ix.columns.begin() + filtered.size());
    std::sort(lead.begin(), lead.end());
    if (lead == filtered) return true;
  }
  return false;
}

// Each lookup: the table and the columns it filters or joins on with
// equality (a range column after them is not needed to seek).
struct Lookup {
  const char* table;
  std::vector<std::string> columns;
};
const Lookup kLookups[] = {
    {"Zrt112Mnd", {"MndSch"}},            // badge cursor: the client of a schema
    {"Zrt112Mnd", {"MndLiz", "MndNum"}},  // terminal schema cursor: clients of a terminal
    {"Zrt115Tfz", {"TfzTrm"}},
    {"Zrt301Asw", {"AswLiz", "AswMnd"}},  // badges of a client
    {"Zrt113Awv", {"AwvNum"}},            // badge cursor, location text
    {"Zrt113Sto", {"StoNum"}},
    {"Zrt401Zls", {"ZlsTrm"}},            // readers of a terminal
    {"Zrt404Zbr", {"ZbrZbk", "ZbrZko"}},  // permission counts
    {"Zrt114Tsm", {"TsmNam"}},
    {"O2001SALTEXTE", {"StxNum"}},
    {"Zrt999Tmp", {"TmpUsr"}},  // line store of a path
    {"Zrt320Tgb", {"TgbPnr", "TgbZtr", "TgbDtm"}},
    {"Zrt408Bzu", {"BzuZau"}},
    {"Zrt408Bzu", {"BzuKst"}},
    {"Zrt408Bzu", {"BzuVks"}},
    {"Zrt408Bzu", {"BzuAbt"}},
    {"Zrt408Bzu", {"BzuVab"}},
    {"Zrt408Bzu", {"BzuAkr"}},
    {"Zrt311Zuo", {"ZuoPnr"}},
    {"O1003Kststelle", {"KstNum"}},
    {"G1102AbtLst", {"AblAbt"}},
    {"Zrt310Bsv", {"BsvPnr"}},
    {"Zrt300Pnr", {"PnrNum"}},
    {"Zrt332Utg", {"UtgPnr"}},
    {"Zrt332Urv", {"UrvPnr", "UrvJhr"}},
};

std::string Ddl(const char* name) {
  std::string text = test::ReadFile(std::string(PLOM_SOURCE_DIR) + "/sql/" + name);
  EXPECT_FALSE(text.empty()) << name;
  return text;
}

TEST(DdlIndexes, EveryLookupIsLedByAnIndexInBothLayouts) {
  for (const char* file : {"sqlserver.sql", "sqlite.sql"}) {
    auto indexes = IndexesOf(Ddl(file));
    for (const Lookup& l : kLookups) {
      std::string joined;
      for (const auto& c : l.columns) joined += c + " ";
      EXPECT_TRUE(Led(indexes[TableName(l.table)], l.columns))
          << file << ": no index of " << l.table << " led by " << joined;
    }
  }
}

// Column name (lower case) -> table name, from the CREATE TABLE bodies.
std::map<std::string, std::string> ColumnTables(const std::string& ddl) {
  std::map<std::string, std::string> out;
  std::regex table(R"(CREATE\s+TABLE\s+(IF\s+NOT\s+EXISTS\s+)?(\S+)\s*\(([\s\S]*?)\n\);)",
                   std::regex::icase);
  std::regex column(R"(\n\s*(\w+)\s+(int|varchar|datetime|float|TEXT|INTEGER|REAL))",
                    std::regex::icase);
  for (auto it = std::sregex_iterator(ddl.begin(), ddl.end(), table); it != std::sregex_iterator();
       ++it) {
    std::string body = "\n" + (*it)[3].str();
    for (auto c = std::sregex_iterator(body.begin(), body.end(), column);
         c != std::sregex_iterator(); ++c) {
      out[Lower((*c)[1])] = TableName((*it)[2]);
    }
  }
  return out;
}

// The columns a statement compares with "=", per table.
std::map<std::string, std::set<std::string>> EqualityColumns(
    const std::string& text, const std::map<std::string, std::string>& tables) {
  std::map<std::string, std::set<std::string>> out;
  auto is_word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  for (size_t i = 0; i < text.size();) {
    if (!is_word(text[i]) || (i > 0 && (is_word(text[i - 1]) || text[i - 1] == '@'))) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < text.size() && is_word(text[j])) ++j;
    std::string word = Lower(text.substr(i, j - i));
    auto t = tables.find(word);
    if (t != tables.end()) {
      size_t after = text.find_first_not_of(' ', j);
      size_t before = text.find_last_not_of(' ', i - 1);
      bool eq_after = after != std::string::npos && text[after] == '=';
      bool eq_before = i > 0 && before != std::string::npos && text[before] == '=' && before > 0 &&
                       std::string("<>!").find(text[before - 1]) == std::string::npos;
      if (eq_after || eq_before) out[t->second].insert(word);
    }
    i = j;
  }
  return out;
}

// Every statement of the tool: each table it filters with "=" has an index
// whose first column is one of those it filters on.
TEST(DdlIndexes, EveryStatementOfTheToolSeeks) {
  for (const char* file : {"sqlserver.sql", "sqlite.sql"}) {
    std::string ddl = Ddl(file);
    auto indexes = IndexesOf(ddl);
    auto tables = ColumnTables(ddl);
    ASSERT_GT(tables.size(), 50u) << file;
    size_t checked = 0;
    for (const Statement& st : kStatements) {
      if (st.kind == StatementKind::kTransaction || st.kind == StatementKind::kChange) continue;
      for (const auto& [table, cols] : EqualityColumns(st.text, tables)) {
        bool served = false;
        for (const Index& ix : indexes[table]) served = served || cols.count(ix.columns[0]) > 0;
        EXPECT_TRUE(served) << file << ": statement " << st.no << " filters " << table
                            << " without an index";
        ++checked;
      }
    }
    EXPECT_GE(checked, 25u) << file;
  }
}

TEST(DdlIndexes, SqlServerLayout) {
  auto indexes = IndexesOf(Ddl("sqlserver.sql"));
  auto has = [&](const char* table, std::vector<std::string> cols, bool unique, bool clustered) {
    for (auto& c : cols) c = Lower(c);
    for (const Index& ix : indexes[TableName(table)]) {
      if (ix.columns == cols && ix.unique >= unique && ix.clustered >= clustered) return true;
    }
    return false;
  };
  EXPECT_TRUE(has("Zrt999Tmp", {"TmpUsr", "TmpStr"}, false, true));
  EXPECT_TRUE(has("Zrt320Tgb", {"TgbPnr", "TgbZtr", "TgbDtm"}, false, true));
  EXPECT_TRUE(has("Zrt112Mnd", {"MndSch"}, true, false));
  // The badge cursor's order after the client's keys: read without a sort.
  EXPECT_TRUE(has("Zrt301Asw", {"AswLiz", "AswMnd", "AswNum", "AswGvo", "AswBkl"}, false, false));
}

// The reader of the layouts finds what it must and nothing it must not.
TEST(DdlIndexes, ReaderOfTheLayouts) {
  auto ix = IndexesOf(
      "CREATE TABLE t (\n  a int NOT NULL CONSTRAINT PK PRIMARY KEY,\n  b int\n);\n"
      "CREATE TABLE IF NOT EXISTS \"S.u\" (\n  x int,\n  y int,\n  PRIMARY KEY (y, x)\n);\n"
      "CREATE UNIQUE CLUSTERED INDEX i ON dbo.v (p DESC, q);\n");
  EXPECT_TRUE(Led(ix["t"], {"a"}));
  EXPECT_FALSE(Led(ix["t"], {"b"}));
  EXPECT_TRUE(Led(ix["u"], {"x", "y"}));
  EXPECT_FALSE(Led(ix["u"], {"x"}));
  ASSERT_EQ(ix["v"].size(), 1u);
  EXPECT_TRUE(ix["v"][0].unique);
  EXPECT_TRUE(ix["v"][0].clustered);
  EXPECT_EQ(ix["v"][0].columns, (std::vector<std::string>{"p", "q"}));
}

}  // namespace
}  // namespace plom
