// The embedded test databases: SQLite's own library lays them out.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "db/sqlite_collation.h"
#include "installation/sqlite_ddl.h"
#include "tests/test_util.h"

namespace plom::test {

TestDb::TestDb() : dir_(TempDir()), path_(dir_ + "/test.db") { Exec(CentralDdl()); }

TestDb::~TestDb() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void TestDb::AddClientTables(const std::string& schema) { Exec(ClientDdl(schema)); }

void TestDb::Exec(const std::string& sql) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(path_.c_str(), &db);
  ASSERT_EQ(rc, SQLITE_OK);
  ASSERT_EQ(RegisterCp1252Collation(db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  char* err = nullptr;
  rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  EXPECT_EQ(rc, SQLITE_OK) << (err ? err : "") << "\nin: " << sql;
  sqlite3_free(err);
  sqlite3_close(db);
}

std::unique_ptr<Connection> TestDb::Connect() {
  ConnectSettings s;
  s.server = server();
  s.login = "sa";
  s.password = "secret";
  s.schema = "ZrSystem";
  int code = 0;
  std::string err;
  auto backend = OpenBackend(s, &code, &err);
  EXPECT_TRUE(backend != nullptr) << err;
  return std::make_unique<Connection>(std::move(backend));
}

}  // namespace plom::test
