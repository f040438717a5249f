#include "tests/test_util.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/cipher.h"
#include "db/sqlite_collation.h"
#include "installation/sqlite_ddl.h"

namespace plom::test {

std::string TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "plomtest.XXXXXX").string();
  char* d = mkdtemp(tmpl.data());
  EXPECT_NE(d, nullptr);
  return tmpl;
}

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

std::string DateTime(int offset_days, bool at_midnight) {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  tm.tm_mday += offset_days;
  tm.tm_isdst = -1;
  if (at_midnight) tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  mktime(&tm);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::string Ymd(int offset_days) {
  std::string d = DateTime(offset_days);
  return d.substr(0, 4) + d.substr(5, 2) + d.substr(8, 2);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

Capture::Capture() : f_(std::tmpfile()) {}
Capture::~Capture() {
  if (f_) std::fclose(f_);
}
std::string Capture::Text() {
  std::fflush(f_);
  long end = std::ftell(f_);
  std::string s(static_cast<size_t>(end), '\0');
  std::rewind(f_);
  size_t n = std::fread(s.data(), 1, s.size(), f_);
  s.resize(n);
  std::fseek(f_, 0, SEEK_END);
  return s;
}

std::string Lit(const char* s) { return s ? Lit(std::string(s)) : "NULL"; }

std::string Lit(const std::string& s) {
  std::string out = "'";
  for (char ch : s) {
    out += ch;
    if (ch == '\'') out += '\'';
  }
  return out + "'";
}

int ExitStatus(int wait_status) { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }

std::string ShellOutput(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = ExitStatus(pclose(p));
  return out;
}

void SampleInstallation::SetUp() {
  root_ = TempDir();
  std::filesystem::create_directories(root_ + "/files");
  cwd_ = root_ + "/run/terminal";
  std::filesystem::create_directories(cwd_);
  db_ = root_ + "/files/plomvarde.db";
  LayOut("");
  std::string ini;
  int n = 0;
  for (auto [key, value] : {std::pair<std::string, std::string>{"LOGIN", "sa"},
                            {"PASS", "geheim"},
                            {"SQLSERVER", "sqlite:../../files/plomvarde.db"},
                            {"SCHEMA", "ZrSystem."}}) {
    ini += "DB;Korvantis;\r\n" + std::to_string(++n) + ";" + key + ";" + EncipherValue(value) +
           "\r\n";
  }
  WriteFile(root_ + "/files/korvantis.ini", ini);
}

void SampleInstallation::TearDown() { std::filesystem::remove_all(root_); }

void SampleInstallation::LayOut(const std::string& sample_args) {
  int status = 0;
  std::string out = ShellOutput("cd '" + root_ + "' && '" PLOM_BINARY_DIR "/plomvarde-sample' " +
                                    sample_args + " files/plomvarde.db 2>&1",
                                &status);
  ASSERT_EQ(status, 0) << out;
}

}  // namespace plom::test
