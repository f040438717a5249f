// Connection strings from the configured values: each form of server name,
// quoting, and the password kept out of every shown form.
#include "db/odbc_settings.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <cstring>
#include <set>

#include "tests/test_util.h"
#include "version.h"

namespace plom {
namespace {

ConnectSettings Settings(std::string server, std::string password = "pw",
                         std::string schema = "ZrSystem", std::string login = "sa") {
  return ConnectSettings{std::move(server), std::move(login), std::move(password),
                         std::move(schema)};
}

std::string PwdOf(const std::string& conn, bool freetds = false) {
  for (const ConnAttr& a : ParseConnectionString(conn, freetds)) {
    if (a.key == "PWD" || a.key == "Pwd" || a.key == "Password") return a.value;
  }
  return "<none>";
}

TEST(OdbcSettings, ServerForms) {
  const struct {
    const char* server;
    bool dsn;
    ServerForm form;
  } cases[] = {
      {"Korvantis", true, ServerForm::kDataSource},
      {"Korvantis", false, ServerForm::kHost},
      {"sqlsrv01,1433", false, ServerForm::kHost},
      {"sqlsrv01\\ZEIT", false, ServerForm::kHost},
      {"DSN=Korvantis", false, ServerForm::kConnectionString},
      {"DSN=Korvantis", true, ServerForm::kConnectionString},  // "=" decides first
      {"DRIVER={FreeTDS};SERVER=x", false, ServerForm::kConnectionString},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyServer(c.server, c.dsn), c.form) << c.server << " " << c.dsn;
  }
}

#define kApp "APP=plomvarde " PLOM_VERSION ";"

TEST(OdbcSettings, ConnectionStrings) {
  const struct {
    ConnectSettings s;
    bool dsn;
    const char* want;
  } cases[] = {
      // A data source: the schema selects the database.
      {Settings("Korvantis"), true, "DSN=Korvantis;DATABASE=ZrSystem;UID=sa;PWD=pw;"},
      // Hosts, through FreeTDS.
      {Settings("sqlsrv01"), false,
       "DRIVER={FreeTDS};SERVER=sqlsrv01;DATABASE=ZrSystem;UID=sa;PWD=pw;TDS_Version=7.4;" kApp},
      {Settings("sqlsrv01,1433"), false,
       "DRIVER={FreeTDS};SERVER=sqlsrv01;PORT=1433;DATABASE=ZrSystem;UID=sa;PWD=pw;"
       "TDS_Version=7.4;" kApp},
      {Settings(" 10.0.0.5 , 1500 "), false,
       "DRIVER={FreeTDS};SERVER=10.0.0.5;PORT=1500;DATABASE=ZrSystem;UID=sa;PWD=pw;"
       "TDS_Version=7.4;" kApp},
      {Settings("sqlsrv01\\ZEIT"), false,
       "DRIVER={FreeTDS};SERVER=sqlsrv01\\ZEIT;DATABASE=ZrSystem;UID=sa;PWD=pw;TDS_Version=7.4;" kApp},
      {Settings("sqlsrv01\\ZEIT,1500"), false,
       "DRIVER={FreeTDS};SERVER=sqlsrv01;PORT=1500;DATABASE=ZrSystem;UID=sa;PWD=pw;"
       "TDS_Version=7.4;" kApp},
      // Connection strings: what they name stays, the rest is added.
      {Settings("DRIVER={ODBC Driver 18 for SQL Server};SERVER=tcp:db,1433;Encrypt=no"), false,
       "DRIVER={ODBC Driver 18 for SQL Server};SERVER=tcp:db,1433;Encrypt=no;DATABASE=ZrSystem;"
       "UID=sa;PWD=pw;" kApp},
      {Settings("DSN=Korvantis;"), false, "DSN=Korvantis;DATABASE=ZrSystem;UID=sa;PWD=pw;"},
      {Settings("DSN=K;Database=Zeit;uid=app"), false, "DSN=K;Database=Zeit;uid=app;PWD=pw;"},
      {Settings("DRIVER=x;DATABASE=/tmp/a.db;Password={p;q}"), false,
       "DRIVER=x;DATABASE=/tmp/a.db;Password={p;q};UID=sa;"},
      {Settings("DSN=K;Trusted_Connection=yes;PWD="), false,
       "DSN=K;Trusted_Connection=yes;PWD=;"
       "DATABASE=ZrSystem;UID=sa;"},
      // No schema: the login's default database.
      {Settings("Korvantis", "pw", ""), true, "DSN=Korvantis;UID=sa;PWD=pw;"},
      // Values that would end or open a value go in braces.
      {Settings("Korvantis", "a;b"), true, "DSN=Korvantis;DATABASE=ZrSystem;UID=sa;PWD={a;b};"},
      {Settings("Korvantis", "x}y{"), true, "DSN=Korvantis;DATABASE=ZrSystem;UID=sa;PWD={x}}y{};"},
      {Settings("Korvantis", " pw "), true, "DSN=Korvantis;DATABASE=ZrSystem;UID=sa;PWD={ pw };"},
      {Settings("Korvantis", "pw", "Zeit;1", "do;main\\u"), true,
       "DSN=Korvantis;DATABASE={Zeit;1};UID={do;main\\u};PWD=pw;"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuildConnectionString(c.s, c.dsn), c.want) << c.s.server;
  }
  // Through FreeTDS (a host, or a data source or DRIVER naming it) the
  // string asks for TDS 7.4 unless it asks for 7.4 or later itself, names
  // the application, and quotes as FreeTDS reads: "}" as it is, braces
  // only around ";" or a leading "{". SQL Server drivers get APP too.
  const struct {
    ConnectSettings s;
    const char* dsn_driver;
    const char* want;  // "" when refused
    const char* refusal;
  } drivers[] = {
      {Settings("sqlsrv01", "x}y;z{"), "",
       "DRIVER={FreeTDS};SERVER=sqlsrv01;DATABASE=ZrSystem;UID=sa;PWD={x}y;z{};TDS_Version=7.4;" kApp,
       ""},
      {Settings("sqlsrv01", "{p}"), "",
       "DRIVER={FreeTDS};SERVER=sqlsrv01;DATABASE=ZrSystem;UID=sa;PWD={{p}};TDS_Version=7.4;" kApp,
       ""},
      {Settings("sqlsrv01", "a};b"), "", "", "the password holds \"}\" followed by \";\""},
      {Settings("Korvantis", "a}b"), "FreeTDS",
       "DSN=Korvantis;DATABASE=ZrSystem;UID=sa;PWD=a}b;TDS_Version=7.4;" kApp, ""},
      {Settings("Korvantis", "a}b"), "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
       "DSN=Korvantis;DATABASE=ZrSystem;UID=sa;PWD=a}b;TDS_Version=7.4;" kApp, ""},
      {Settings("Korvantis", "a}b"), "ODBC Driver 18 for SQL Server",
       "DSN=Korvantis;DATABASE=ZrSystem;UID=sa;PWD={a}}b};" kApp, ""},
      {Settings("DRIVER=FreeTDS;SERVER=h;TDS_Version=8.0"), "",
       "DRIVER=FreeTDS;SERVER=h;TDS_Version=8.0;DATABASE=ZrSystem;UID=sa;PWD=pw;" kApp, ""},
      {Settings("DRIVER=FreeTDS;SERVER=h;TDS_Version=5.0"), "", "", "TDS_Version=5.0"},
      {Settings("DSN=K;APP=Nacht"), "FreeTDS",
       "DSN=K;APP=Nacht;DATABASE=ZrSystem;UID=sa;PWD=pw;TDS_Version=7.4;", ""},
  };
  for (const auto& c : drivers) {
    std::string refusal;
    std::string conn =
        BuildConnectionString(c.s, c.s.server.find('=') == std::string::npos && c.dsn_driver[0],
                              c.dsn_driver, &refusal);
    EXPECT_EQ(conn, c.want) << c.s.server << " " << c.dsn_driver;
    EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
    EXPECT_EQ(refusal.find(c.s.password), std::string::npos) << refusal;
  }
}

TEST(OdbcSettings, PasswordsSurviveQuotingAndNeverShow) {
  const char* passwords[] = {"pw", "a;b", "x}y{", "{braced}", " lead", "p=w;PWD=z", "}}", "ä€"};
  const char* servers[] = {"Korvantis", "sqlsrv01,1433", "DSN=Korvantis"};
  for (const char* pw : passwords) {
    for (const char* server : servers) {
      for (bool dsn : {true, false}) {
        std::string conn = BuildConnectionString(Settings(server, pw), dsn);
        // The driver reads back the password as configured (a host goes
        // through FreeTDS, which reads braces its own way).
        bool freetds = ClassifyServer(server, dsn) == ServerForm::kHost;
        EXPECT_EQ(PwdOf(conn, freetds), pw) << conn;
        std::string shown = MaskConnectionString(conn, freetds);
        EXPECT_EQ(PwdOf(shown, freetds), "***") << shown;
        EXPECT_EQ(shown.find(pw), std::string::npos) << shown;
        // Everything else stays as it was.
        EXPECT_EQ(ParseConnectionString(shown, freetds).size(),
                  ParseConnectionString(conn, freetds).size());
      }
    }
  }
}

TEST(OdbcSettings, ParseAndMask) {
  auto attrs = ParseConnectionString(" DRIVER = {A;B} ; SERVER=h;;Pwd={x}}y};Flag");
  ASSERT_EQ(attrs.size(), 4u);
  EXPECT_EQ(attrs[0].key, "DRIVER");
  EXPECT_EQ(attrs[0].value, "A;B");
  EXPECT_EQ(attrs[1].value, "h");
  EXPECT_EQ(attrs[2].key, "Pwd");
  EXPECT_EQ(attrs[2].value, "x}y");
  EXPECT_EQ(attrs[3].key, "Flag");
  EXPECT_EQ(attrs[3].value, "");

  const struct {
    const char* conn;
    const char* shown;
  } cases[] = {
      {"DSN=K;UID=sa;PWD=geheim;", "DSN=K;UID=sa;PWD=***;"},
      {"DSN=K;pwd={ge;heim}", "DSN=K;pwd=***"},
      {"Password=geheim;DSN=K", "Password=***;DSN=K"},
      {"PWD=a;PWD=b", "PWD=***;PWD=***"},
      {"PWD={unterminated;x", "PWD=***"},
      {"DSN=K;PWD=", "DSN=K;PWD="},
      {"DSN=PWD", "DSN=PWD"},
  };
  for (const auto& c : cases) EXPECT_EQ(MaskConnectionString(c.conn), c.shown) << c.conn;
}

TEST(OdbcSettings, SecretsAreScrubbedFromText) {
  EXPECT_EQ(ScrubSecrets("login sa/geheim failed (geheim)", {"geheim"}),
            "login sa/*** failed (***)");
  EXPECT_EQ(ScrubSecrets("nothing to hide", {"", "x7"}), "nothing to hide");
  // A password inside the server name's connection string is a secret too,
  // and the longer secret is masked whole.
  ConnectSettings s = Settings("DSN=K;PWD={ab;c}", "ab");
  auto secrets = SecretsOf(s);
  ASSERT_EQ(secrets.size(), 2u);
  EXPECT_EQ(secrets[0], "ab;c");
  EXPECT_EQ(ScrubSecrets("x ab;c y ab", secrets), "x *** y ***");
  EXPECT_TRUE(SecretsOf(Settings("Korvantis", "")).empty());
}

// ---- The SQL Server DDL keeps up with the embedded one ----

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Table name -> column name -> declared type (lower case), from the
// CREATE TABLE statements of a DDL file. Quotes around names are dropped.
std::map<std::string, std::map<std::string, std::string>> Tables(std::string ddl) {
  std::map<std::string, std::map<std::string, std::string>> tables;
  // Comments out first.
  std::string text;
  for (size_t i = 0; i < ddl.size(); ++i) {
    if (ddl.compare(i, 2, "--") == 0) {
      while (i < ddl.size() && ddl[i] != '\n') ++i;
    }
    if (i < ddl.size()) text.push_back(ddl[i]);
  }
  text = Lower(text);
  for (size_t at = 0; (at = text.find("create table", at)) != std::string::npos;) {
    size_t open = text.find('(', at);
    std::string name = text.substr(at + 12, open - at - 12);
    for (const char* drop : {"if not exists", "\"", " ", "\n"}) {
      for (size_t k; (k = name.find(drop)) != std::string::npos;) name.erase(k, strlen(drop));
    }
    if (name.rfind("dbo.", 0) == 0) name = name.substr(4);
    int depth = 0;
    size_t close = open;
    std::string item;
    std::vector<std::string> items;
    for (; close < text.size(); ++close) {
      char c = text[close];
      if (c == '(' && depth++ == 0) continue;
      if (c == ')' && --depth == 0) break;
      if (c == ',' && depth == 1) {
        items.push_back(item);
        item.clear();
      } else {
        item.push_back(c == '\n' ? ' ' : c);
      }
    }
    items.push_back(item);
    for (const std::string& it : items) {
      size_t b = it.find_first_not_of(' ');
      if (b == std::string::npos) continue;
      size_t e = it.find(' ', b);
      std::string col = it.substr(b, e - b);
      if (col == "primary" || col == "constraint") continue;
      size_t tb = it.find_first_not_of(' ', e);
      size_t te = it.find(' ', tb);
      tables[name][col] = tb == std::string::npos ? "" : it.substr(tb, te - tb);
    }
    at = close;
  }
  return tables;
}

TEST(OdbcSqlServerDdl, CoversEveryEmbeddedTableWithBoundWidths) {
  std::string lite = test::ReadFile(PLOM_SOURCE_DIR "/sql/sqlite.sql");
  std::string mssql = test::ReadFile(PLOM_SOURCE_DIR "/sql/sqlserver.sql");
  ASSERT_FALSE(lite.empty());
  ASSERT_FALSE(mssql.empty());
  for (size_t k; (k = lite.find("{SCHEMA}")) != std::string::npos;) lite.replace(k, 8, "M01");
  auto want = Tables(lite);
  auto have = Tables(mssql);
  ASSERT_GE(want.size(), 17u);
  for (const auto& [table, cols] : want) {
    ASSERT_TRUE(have.count(table)) << table;
    for (const auto& [col, type] : cols) EXPECT_TRUE(have[table].count(col)) << table << "." << col;
  }
  // Text columns are at least as wide as what the tool binds to them.
  const struct {
    const char* table;
    const char* col;
    const char* type;
  } widths[] = {
      {"zrsystem.zrt301asw", "aswnum", "varchar(50)"},
      {"zrsystem.zrt301asw", "aswpnr", "varchar(8)"},
      {"zrsystem.zrt301asw", "aswbkl", "varchar(5)"},
      {"zrsystem.zrt301asw", "aswgvo", "datetime"},
      {"zrsystem.zrt999tmp", "tmpusr", "varchar(100)"},
      {"zrsystem.zrt999tmp", "tmpstr", "varchar(512)"},
      {"zrsystem.zrt401zls", "zlszko", "varchar(5)"},
      {"zrsystem.zrt114tsm", "tsmtyp", "varchar(10)"},
      {"zrsystem.zrt114tsm", "tsmnam", "varchar(10)"},
      {"zrsystem.zrt113sto", "stoktx", "varchar(10)"},
      {"zrsystem.zrt112mnd", "mndsch", "varchar(20)"},
      {"zrsystem.o2001saltexte", "stxtxt", "varchar(40)"},
      {"zrt320tgb", "tgbdtm", "datetime"},
      {"m01.zrt311zuo", "zuokst", "varchar(30)"},
      {"m01.zrt311zuo", "zuoabt", "varchar(15)"},
      {"m01.zrt300pnr", "pnrsal", "varchar(10)"},
      {"m01.zrt332utg", "utgvtg", "float"},
      {"m01.zrt332urv", "urvgur", "float"},
  };
  for (const auto& w : widths) {
    EXPECT_EQ(have[w.table][w.col], w.type) << w.table << "." << w.col;
  }
}

// A database file through the SQLite ODBC driver (builds without the
// embedded backend): the path and the collation module whole, even with a
// ';', and no new file made.
TEST(SqliteOdbc, ConnectionStringNamesDriverFileAndCollationModule) {
  struct {
    const char* driver;
    const char* path;
    const char* module;
    const char* want;
  } cases[] = {
      {"SQLite3", "../../files/plomvarde.db", "/opt/plomvarde/libplomvarde-collation.so",
       "DRIVER={SQLite3};Database=../../files/plomvarde.db;NoCreat=1;"
       "LoadExt=/opt/plomvarde/libplomvarde-collation.so"},
      {"SQLite3 ODBC Driver", "C:/K/a;b.db", "C:\\Program Files\\x;y\\plomvarde-collation.dll",
       "DRIVER={SQLite3 ODBC Driver};Database={C:/K/a;b.db};NoCreat=1;"
       "LoadExt={C:\\Program Files\\x;y\\plomvarde-collation.dll}"},
  };
  for (const auto& c : cases) {
    std::string conn = SqliteOdbcConnectionString(c.driver, c.path, c.module);
    EXPECT_EQ(conn, c.want);
    auto attrs = ParseConnectionString(conn);
    ASSERT_EQ(attrs.size(), 4u);
    EXPECT_EQ(attrs[1].value, c.path);
    EXPECT_EQ(attrs[3].key, "LoadExt");
    EXPECT_EQ(attrs[3].value, c.module);
  }
}

}  // namespace
}  // namespace plom
