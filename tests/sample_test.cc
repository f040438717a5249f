// The sample installation built by plomvarde-sample: every feature that the
// download functions show must have its data, and the scaled build must be
// deterministic.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/test_util.h"
#include "version.h"

namespace plom::test {
namespace {

const std::string kSample = PLOM_BINARY_DIR "/plomvarde-sample";

// Runs plomvarde-sample with the arguments; returns its exit status and
// leaves its standard output and error output in *out.
int RunSample(const std::string& args, std::string* out = nullptr) {
  int status;
  const std::string text = ShellOutput("'" + kSample + "' " + args + " 2>&1", &status);
  if (out) *out = text;
  return status;
}

// Read-only queries on a built file.
class Db {
 public:
  explicit Db(const std::string& path) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK)
        << path;
  }
  ~Db() { sqlite3_close(db_); }

  // The rows of a query, each as its columns joined by '|' (NULL as "~").
  std::vector<std::string> Rows(const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(db_) << "\nin: " << sql;
      return rows;
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        if (c) row += '|';
        const unsigned char* t = sqlite3_column_text(st, c);
        row += t ? reinterpret_cast<const char*>(t) : "~";
      }
      rows.push_back(row);
    }
    sqlite3_finalize(st);
    return rows;
  }
  std::string One(const std::string& sql) {
    auto rows = Rows(sql);
    return rows.empty() ? std::string("<no row>") : rows[0];
  }
  long long Count(const std::string& sql) { return std::atoll(One(sql).c_str()); }

  // Every table's rows in insertion order.
  std::string Dump() {
    std::string all;
    for (const std::string& t :
         Rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
      all += "[" + t + "]\n";
      for (const std::string& r : Rows("SELECT * FROM \"" + t + "\" ORDER BY rowid"))
        all += r + "\n";
    }
    return all;
  }

 private:
  sqlite3* db_ = nullptr;
};

// A row with start g and end b is current now (both bounds inclusive).
std::string Current(const std::string& g, const std::string& b) {
  const std::string now = "datetime('now','localtime')";
  return "((" + now + " >= " + g + " AND " + b + " IS NULL) OR (" + now + " <= " + b + " AND " + g +
         " IS NULL) OR (" + now + " >= " + g + " AND " + now + " <= " + b + "))";
}

// The current badge rows of the clients that runs deliver.
const std::string kCurrentBadges =
    " FROM \"ZrSystem.Zrt301Asw\" JOIN \"ZrSystem.Zrt112Mnd\" ON AswLiz = MndLiz AND AswMnd = "
    "MndNum JOIN \"ZrSystem.Zrt113Awv\" ON AwvNum = AswNum WHERE MndKon <> 1 AND " +
    Current("AswGvo", "AswGbi");

// The first of the six access-right paths that gives the badge a class
// (1 group, 2 cost centre, 3 cost-centre group, 4 department, 5 department
// group, 6 Akr key), 0 when none does.
int FirstPath(Db& db, const std::string& s, const std::string& grp, const std::string& pnr) {
  const std::string bzu = "\"" + s + ".Zrt408Bzu\"", zuo = "\"" + s + ".Zrt311Zuo\"";
  const std::string bz = Current("BzuGvo", "BzuGbi"), zu = Current("ZuoGvo", "ZuoGbi");
  const std::vector<std::string> paths = {
      "FROM " + bzu + " WHERE BzuZau = '" + grp + "' AND " + bz,
      "FROM " + zuo + ", " + bzu + " WHERE ZuoPnr = '" + pnr + "' AND ZuoKst = BzuKst AND " + zu +
          " AND " + bz,
      "FROM \"" + s + ".O1003Kststelle\", " + zuo + ", " + bzu + " WHERE ZuoPnr = '" + pnr +
          "' AND ZuoKst = KstNum AND KstVws = BzuVks AND " + zu + " AND " + bz,
      "FROM " + zuo + ", " + bzu + " WHERE ZuoPnr = '" + pnr + "' AND ZuoAbt = BzuAbt AND " + zu +
          " AND " + bz,
      "FROM \"" + s + ".G1102AbtLst\", " + zuo + ", " + bzu + " WHERE ZuoPnr = '" + pnr +
          "' AND ZuoAbt = AblAbt AND AblVab = BzuVab AND " + zu + " AND " + bz,
      "FROM \"" + s + ".Zrt310Bsv\", " + bzu + " WHERE BsvPnr = '" + pnr +
          "' AND BsvAkr = BzuAkr AND " + Current("BsvGvo", "BsvGbi") + " AND " + bz,
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    if (db.Count("SELECT COUNT(*) " + paths[i]) > 0) return static_cast<int>(i) + 1;
  }
  return 0;
}

// For every current class-0 badge row: how many resolve through each path
// (index 0: unresolved).
std::vector<int> PathCounts(Db& db) {
  std::vector<int> counts(7, 0);
  for (const std::string& row : db.Rows("SELECT MndSch, COALESCE(AswGrp, ''), AswPnr" +
                                        kCurrentBadges + " AND AswBkl = '0'")) {
    size_t a = row.find('|'), b = row.find('|', a + 1);
    ++counts[FirstPath(db, row.substr(0, a), row.substr(a + 1, b - a - 1), row.substr(b + 1))];
  }
  return counts;
}

class SampleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(TempDir());
    path_ = new std::string(*dir_ + "/sample.db");
    std::string out;
    ASSERT_EQ(RunSample("'" + *path_ + "'", &out), 0) << out;
    EXPECT_NE(out.find("plomvarde-sample:"), std::string::npos) << out;
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*dir_);
    delete dir_;
    delete path_;
  }
  static std::string* dir_;
  static std::string* path_;
};
std::string* SampleTest::dir_ = nullptr;
std::string* SampleTest::path_ = nullptr;

TEST_F(SampleTest, ClientsAndTerminals) {
  Db db(*path_);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt112Mnd\" WHERE MndKon <> 1"), 2);
  const std::string left_out = db.One("SELECT MndSch FROM \"ZrSystem.Zrt112Mnd\" WHERE MndKon = 1");
  ASSERT_NE(left_out, "<no row>");
  // The left-out client is complete: tables laid out and a current badge, so
  // only MndKon keeps it out of a run.
  EXPECT_EQ(
      db.Count("SELECT COUNT(*) FROM sqlite_master WHERE name = '" + left_out + ".Zrt408Bzu'"), 1);
  EXPECT_GE(db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt301Asw\" JOIN \"ZrSystem.Zrt112Mnd\" "
                     "ON AswLiz = MndLiz AND AswMnd = MndNum JOIN \"ZrSystem.Zrt113Awv\" ON "
                     "AwvNum = AswNum WHERE MndKon = 1 AND " +
                     Current("AswGvo", "AswGbi")),
            1);
  // Every active client has its per-client tables.
  for (const std::string& s :
       db.Rows("SELECT MndSch FROM \"ZrSystem.Zrt112Mnd\" WHERE MndKon <> 1")) {
    for (const char* t : {"Zrt408Bzu", "Zrt311Zuo", "O1003Kststelle", "G1102AbtLst", "Zrt310Bsv",
                          "Zrt300Pnr", "Zrt332Utg", "Zrt332Urv"}) {
      EXPECT_EQ(db.Count("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = '" +
                         s + "." + t + "'"),
                1)
          << s << "." << t;
    }
  }

  auto readers = [&](const std::string& t) {
    return db.Rows("SELECT ZlsLes FROM \"ZrSystem.Zrt401Zls\" WHERE ZlsTrm = '" + t +
                   "' ORDER BY ZlsLes");
  };
  auto active_clients = [&](const std::string& t) {
    return db.Count(
        "SELECT COUNT(*) FROM \"ZrSystem.Zrt115Tfz\" JOIN \"ZrSystem.Zrt112Mnd\" ON "
        "MndLiz = TfzLiz AND MndNum = TfzMnd WHERE MndKon <> 1 AND TfzTrm = '" +
        t + "'");
  };
  EXPECT_EQ(readers("TERM12"), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8",
                                                         "9", "10", "11", "12"}));
  EXPECT_EQ(active_clients("TERM12"), 2);
  EXPECT_EQ(readers("TERM03"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(active_clients("TERM03"), 1);
  EXPECT_FALSE(readers("TERM00").empty());
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt115Tfz\" WHERE TfzTrm = 'TERM00'"), 0);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt114Tsm\" WHERE TsmTyp = '7598-002'"), 1);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt114Tsm\" WHERE TsmTyp <> '7598-002'"), 2);
  EXPECT_EQ(db.Count("SELECT MAX(LENGTH(ZlsZko)) FROM \"ZrSystem.Zrt401Zls\""), 5);
}

TEST_F(SampleTest, PermissionsCoverEveryAdmissionCase) {
  Db db(*path_);
  const std::string classes = "SELECT DISTINCT AswBkl" + kCurrentBadges;
  const std::string on_term12 =
      " FROM \"ZrSystem.Zrt404Zbr\" JOIN \"ZrSystem.Zrt401Zls\" ON ZlsZko = ZbrZko WHERE "
      "ZlsTrm = 'TERM12'";
  // A class that a current badge holds, permitted on reader 12 of TERM12 and
  // on no other reader of it.
  EXPECT_GE(db.Count("SELECT COUNT(*) FROM (" + classes + ") c WHERE EXISTS (SELECT 1" + on_term12 +
                     " AND ZbrZbk = c.AswBkl AND ZlsLes = 12) AND NOT EXISTS (SELECT 1" +
                     on_term12 + " AND ZbrZbk = c.AswBkl AND ZlsLes <> 12)"),
            1);
  // A class that a current badge holds with a type-3 row on reader 1 of TERM12.
  EXPECT_GE(db.Count("SELECT COUNT(*) FROM (" + classes + ") c WHERE EXISTS (SELECT 1" + on_term12 +
                     " AND ZbrZbk = c.AswBkl AND ZlsLes = 1 AND ZbrZtb = 3)"),
            1);
  // A class that a current badge holds and that is permitted nowhere.
  EXPECT_GE(db.Count("SELECT COUNT(*) FROM (" + classes +
                     ") c WHERE c.AswBkl <> '0' AND NOT "
                     "EXISTS (SELECT 1 FROM \"ZrSystem.Zrt404Zbr\" WHERE ZbrZbk = c.AswBkl)"),
            1);
  // At least three classes with ordinary permissions on TERM12.
  EXPECT_GE(db.Count("SELECT COUNT(DISTINCT ZbrZbk)" + on_term12 + " AND ZbrZtb <> 3"), 3);
}

TEST_F(SampleTest, BadgesAndValidityWindows) {
  Db db(*path_);
  const std::string badges = "SELECT COUNT(*) FROM \"ZrSystem.Zrt301Asw\" WHERE ";
  const std::string now = "datetime('now','localtime')";
  // Current windows of each shape.
  EXPECT_GE(db.Count("SELECT COUNT(*)" + kCurrentBadges + " AND AswGbi IS NULL"), 1);
  EXPECT_GE(db.Count("SELECT COUNT(*)" + kCurrentBadges + " AND AswGvo IS NULL"), 1);
  EXPECT_GE(db.Count("SELECT COUNT(*)" + kCurrentBadges +
                     " AND AswGvo IS NOT NULL AND AswGbi IS NOT NULL"),
            1);
  // Rows that must not be listed: ended, not yet begun, without any date.
  EXPECT_GE(db.Count(badges + "AswGbi < " + now), 1);
  EXPECT_GE(db.Count(badges + "AswGvo > " + now), 1);
  EXPECT_GE(db.Count(badges + "AswGvo IS NULL AND AswGbi IS NULL"), 1);
  // A badge number with two current rows.
  EXPECT_GE(db.Count("SELECT COUNT(*) FROM (SELECT AswNum" + kCurrentBadges +
                     " GROUP BY AswNum HAVING COUNT(*) = 2)"),
            1);
  // A current badge with an empty personnel number.
  EXPECT_GE(db.Count("SELECT COUNT(*)" + kCurrentBadges + " AND AswPnr = ''"), 1);
  // Badge numbers fit the fixed layouts, and one uses all 13 characters.
  EXPECT_EQ(db.Count("SELECT MAX(LENGTH(AswNum)) FROM \"ZrSystem.Zrt301Asw\""), 13);
  // Every badge row has exactly one location assignment row.
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM (SELECT DISTINCT AswNum FROM \"ZrSystem.Zrt301Asw\")"),
            db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt113Awv\""));
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt301Asw\" WHERE AswNum NOT IN "
                     "(SELECT AwvNum FROM \"ZrSystem.Zrt113Awv\")"),
            0);
  // Several classes among current badges, class 0 among them.
  EXPECT_GE(db.Count("SELECT COUNT(DISTINCT AswBkl)" + kCurrentBadges), 5);
}

TEST_F(SampleTest, EveryAccessRightPathResolvesABadge) {
  Db db(*path_);
  std::vector<int> counts = PathCounts(db);
  for (int p = 0; p <= 6; ++p) EXPECT_GE(counts[p], 1) << "path " << p << " (0: unresolved)";
  // A class-0 badge whose group has a right takes it even when its person's
  // cost centre has one too.
  EXPECT_GE(db.Count("SELECT COUNT(*)" + kCurrentBadges +
                     " AND AswBkl = '0' AND EXISTS (SELECT 1 FROM \"M01.Zrt408Bzu\" WHERE BzuZau "
                     "= AswGrp) AND EXISTS (SELECT 1 FROM \"M01.Zrt311Zuo\", \"M01.Zrt408Bzu\" "
                     "WHERE ZuoPnr = AswPnr AND ZuoKst = BzuKst AND " +
                     Current("ZuoGvo", "ZuoGbi") + " AND " + Current("BzuGvo", "BzuGbi") + ")"),
            1);
}

TEST_F(SampleTest, LocationsBalancesLabelsAndVacation) {
  Db db(*path_);
  // Locations: a two-character short text, an umlaut within the first three
  // characters, an assignment without a location row, one without a number.
  EXPECT_GE(db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt113Sto\" WHERE LENGTH(StoKtx) = 2"), 1);
  EXPECT_GE(db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt113Sto\" WHERE SUBSTR(StoKtx, 1, 3) "
                     "GLOB '*[^ -~]*'"),
            1);
  EXPECT_GE(db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt113Awv\" WHERE AwvSto IS NOT NULL AND "
                     "AwvSto NOT IN (SELECT StoNum FROM \"ZrSystem.Zrt113Sto\")"),
            1);
  EXPECT_GE(db.Count("SELECT COUNT(*)" + kCurrentBadges + " AND AwvSto IS NULL"), 1);

  // Balances of the previous day for current badges' persons: negative
  // sums, missing values, and a person without a row.
  const std::string yesterday = DateTime(-1);
  const std::string balance = " FROM Zrt320Tgb WHERE TgbZtr = 1 AND TgbDtm = '" + yesterday +
                              "' AND TgbPnr IN (SELECT AswPnr" + kCurrentBadges + ")";
  EXPECT_GE(db.Count("SELECT COUNT(*)" + balance), 10);
  EXPECT_GE(
      db.Count("SELECT COUNT(*)" + balance + " AND COALESCE(TgbVt1, 0) + COALESCE(TgbSa1, 0) < 0"),
      2);
  EXPECT_GE(db.Count("SELECT COUNT(*)" + balance + " AND (TgbVt1 IS NULL OR TgbSa1 IS NULL)"), 2);
  EXPECT_GE(db.Count("SELECT COUNT(*)" + kCurrentBadges +
                     " AND AswPnr <> '' AND AswPnr NOT IN "
                     "(SELECT TgbPnr FROM Zrt320Tgb WHERE TgbZtr = 1 AND TgbDtm = '" +
                     yesterday + "')"),
            1);

  // Labels 301 to 308, one with an umlaut, one longer than 12 characters.
  EXPECT_EQ(db.Rows("SELECT StxNum FROM \"ZrSystem.O2001SALTEXTE\" WHERE StxNum BETWEEN 301 AND "
                    "308 ORDER BY StxNum"),
            (std::vector<std::string>{"301", "302", "303", "304", "305", "306", "307", "308"}));
  const std::string labels =
      "SELECT COUNT(*) FROM \"ZrSystem.O2001SALTEXTE\" WHERE StxNum "
      "BETWEEN 301 AND 308 AND ";
  EXPECT_GE(db.Count(labels + "StxTxt GLOB '*[^ -~]*'"), 1);
  EXPECT_GE(db.Count(labels + "LENGTH(StxTxt) > 12"), 1);

  // Vacation: yearly accounts of this year, day records of today or before,
  // and persons lacking one or both.
  const std::string year = DateTime(0).substr(0, 4);
  const std::string today = DateTime(0);
  auto count_m01 = [&](const std::string& where) {
    return db.Count("SELECT COUNT(*) FROM \"M01.Zrt300Pnr\" WHERE " + where);
  };
  const std::string urv =
      "PnrNum IN (SELECT UrvPnr FROM \"M01.Zrt332Urv\" WHERE UrvJhr = " + year + ")";
  const std::string utg =
      "PnrNum IN (SELECT UtgPnr FROM \"M01.Zrt332Utg\" WHERE UtgDtm <= '" + today + "')";
  EXPECT_GE(count_m01(urv + " AND " + utg), 1);
  EXPECT_GE(count_m01(urv + " AND NOT " + utg), 1);
  EXPECT_GE(count_m01("NOT " + urv + " AND " + utg), 1);
  EXPECT_GE(count_m01("NOT " + urv + " AND NOT " + utg), 1);

  // Salutations with an umlaut reach the master data.
  EXPECT_GE(db.Count("SELECT COUNT(*) FROM \"M01.Zrt300Pnr\" WHERE PnrSal GLOB '*[^ -~]*'"), 1);
}

TEST(SampleCommandLine, ReplacesAnExistingFileAndRefusesBadArguments) {
  const std::string dir = TempDir();
  const std::string path = dir + "/x.db";
  WriteFile(path, "not a database");
  WriteFile(path + "-wal", "stale journal");
  std::string out;
  ASSERT_EQ(RunSample("'" + path + "'", &out), 0) << out;
  {
    Db db(path);
    EXPECT_GT(db.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt301Asw\""), 0);
  }
  EXPECT_EQ(RunSample(""), 64);
  EXPECT_EQ(RunSample("--badges 0 '" + dir + "/y.db'"), 64);
  EXPECT_EQ(RunSample("--badges x '" + dir + "/y.db'"), 64);
  EXPECT_EQ(RunSample("--bogus '" + dir + "/y.db'"), 64);
  EXPECT_FALSE(std::filesystem::exists(dir + "/y.db"));
  std::filesystem::remove_all(dir);
}

TEST(SampleCommandLine, RefusesEveryMalformedCallWithoutWriting) {
  const std::string dir = TempDir();
  const std::string y = "'" + dir + "/y.db'";
  const std::string z = "'" + dir + "/z.db'";
  struct Case {
    std::string args;
    const char* says;  // in the output, besides the exit status 64
  };
  const Case cases[] = {
      {"--badges", "usage: plomvarde-sample"},          // the value missing
      {y + " --badges", "usage: plomvarde-sample"},     // the same after the file
      {"--badges= " + y, "a count from 1 to 9000000"},  // an empty value
      {"--badges=9000001 " + y, "a count from 1 to 9000000"},
      {"--badges -5 " + y, "a count from 1 to 9000000"},
      {"--badges 5x " + y, "a count from 1 to 9000000"},
      {"-x " + y, "unknown option -x"},
      {"--bogus=1 " + y, "unknown option --bogus=1"},
      {y + " " + z, "usage: plomvarde-sample"},   // two files
      {"--badges 5", "usage: plomvarde-sample"},  // no file
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(RunSample(c.args, &out), 64) << c.args;
    EXPECT_NE(out.find(c.says), std::string::npos) << c.args << ": " << out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/y.db"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/z.db"));
  std::filesystem::remove_all(dir);
}

TEST(SampleCommandLine, HelpGoesToStandardOutputAndBuildsNothing) {
  const std::string dir = TempDir();
  for (const char* option : {"--help", "-h"}) {
    const std::string cmd = "'" + kSample + "' " + option + " '" + dir + "/y.db' 2>/dev/null";
    int status;
    const std::string out = ShellOutput(cmd, &status);
    EXPECT_EQ(status, 0) << option;
    EXPECT_EQ(out.rfind("usage: plomvarde-sample [--badges N] FILE\n", 0), 0u) << out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir + "/y.db"));
  std::filesystem::remove_all(dir);
}

TEST(SampleCommandLine, VersionIsTheProjectVersion) {
  std::string out;
  EXPECT_EQ(RunSample("--version", &out), 0);
  EXPECT_EQ(out, std::string("plomvarde-sample ") + PLOM_VERSION + "\n");
}

TEST(SampleScaled, GivesTheCountAcrossThreeClientsDeterministically) {
  const std::string dir = TempDir();
  const std::string a = dir + "/a.db", b = dir + "/b.db";
  std::string out;
  ASSERT_EQ(RunSample("--badges 1000 '" + a + "'", &out), 0) << out;
  ASSERT_EQ(RunSample("--badges=1000 '" + b + "'", &out), 0) << out;
  {
    Db da(a), db(b);
    EXPECT_EQ(da.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt301Asw\""), 1000);
    EXPECT_EQ(da.Dump(), db.Dump());

    // Three active clients, all on TERM12, each with a share of the badges.
    EXPECT_EQ(da.Count("SELECT COUNT(*) FROM \"ZrSystem.Zrt115Tfz\" JOIN \"ZrSystem.Zrt112Mnd\" "
                       "ON MndLiz = TfzLiz AND MndNum = TfzMnd WHERE MndKon <> 1 AND TfzTrm = "
                       "'TERM12'"),
              3);
    for (const std::string& row :
         da.Rows("SELECT MndSch, COUNT(*) FROM \"ZrSystem.Zrt112Mnd\" LEFT JOIN "
                 "\"ZrSystem.Zrt301Asw\" ON AswLiz = MndLiz AND AswMnd = MndNum WHERE MndKon <> 1 "
                 "GROUP BY MndSch")) {
      EXPECT_GE(std::atoi(row.substr(row.find('|') + 1).c_str()), 300) << row;
    }

    // About a tenth of class 0, resolved through every path; several classes.
    const long long zero = da.Count("SELECT COUNT(*)" + kCurrentBadges + " AND AswBkl = '0'");
    EXPECT_GE(zero, 60);
    EXPECT_LE(zero, 200);
    std::vector<int> counts = PathCounts(da);
    for (int p = 1; p <= 6; ++p) EXPECT_GE(counts[p], 10) << "path " << p;
    EXPECT_GE(da.Count("SELECT COUNT(DISTINCT AswBkl)" + kCurrentBadges), 5);

    // Every query has rows to read.
    EXPECT_GE(da.Count("SELECT COUNT(*) FROM Zrt320Tgb WHERE TgbZtr = 1 AND TgbDtm = '" +
                       DateTime(-1) + "'"),
              700);
    for (const char* s : {"M01", "M02", "M03"}) {
      const std::string p = s;
      EXPECT_GE(da.Count("SELECT COUNT(*) FROM \"" + p + ".Zrt300Pnr\""), 250) << p;
      EXPECT_GE(da.Count("SELECT COUNT(*) FROM \"" + p + ".Zrt332Urv\""), 200) << p;
      EXPECT_GE(da.Count("SELECT COUNT(*) FROM \"" + p + ".Zrt332Utg\""), 200) << p;
    }
    EXPECT_GE(da.Count("SELECT COUNT(*)" + kCurrentBadges + " AND AwvSto IS NOT NULL"), 500);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace plom::test
