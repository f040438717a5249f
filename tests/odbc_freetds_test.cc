// The ODBC backend through the real FreeTDS driver, against the scripted
// TDS endpoint on loopback (tests/tds_endpoint.h): what the login carries,
// what a silent server costs, which bytes survive, and how many round
// trips reach the wire.
#ifdef PLOM_HAVE_ODBC

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "db/odbc_backend.h"
#include "tests/tds_endpoint.h"
#include "tests/test_util.h"
#include "version.h"

namespace plom {
namespace {

using test::TdsEndpoint;
using test::TdsReply;
using test::TdsRequest;

std::string FreeTdsDriver() {
  for (const char* p : {"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so",
                        "/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so",
                        "/usr/lib/odbc/libtdsodbc.so", "/usr/local/lib/libtdsodbc.so"}) {
    if (std::filesystem::exists(p)) return p;
  }
  return "";
}

// The FreeTDS driver registered for this process alone (odbcinst.ini named
// by ODBCSYSINI), with data sources on the endpoint: TdsFull (TDS_Version
// 7.4, ClientCharset CP1252) and TdsBare (neither: FreeTDS's defaults).
// The driver manager reads its files once per process, so each test that
// connects runs in a process of its own (ctest runs one test per process).
class FreeTdsRegistration {
 public:
  FreeTdsRegistration(const std::string& dir, int port) : dir_(dir) {
    std::filesystem::create_directories(dir_);
    test::WriteFile(dir_ + "/odbcinst.ini", "[FreeTDS]\nDriver=" + FreeTdsDriver() + "\n");
    const std::string server = "Server=127.0.0.1\nPort=" + std::to_string(port) + "\n";
    test::WriteFile(dir_ + "/odbc.ini", "[TdsFull]\nDriver=FreeTDS\n" + server +
                                            "TDS_Version=7.4\nClientCharset=CP1252\n"
                                            "Database=Elsewhere\n\n[TdsBare]\nDriver=FreeTDS\n" +
                                            server);
    setenv("ODBCSYSINI", dir_.c_str(), 1);
    unsetenv("ODBCINI");
  }
  std::string env() const { return "ODBCSYSINI='" + dir_ + "' "; }

 private:
  std::string dir_;
};

ConnectSettings Settings(const std::string& server) {
  ConnectSettings s;
  s.server = server;
  s.login = "plom";
  s.password = "Ge}h;e=im";
  s.schema = "Korvantis";
  return s;
}

std::string HostForm(const TdsEndpoint& e) { return "127.0.0.1," + std::to_string(e.port()); }

std::vector<TdsRequest> Of(const std::vector<TdsRequest>& all, TdsRequest::Kind kind) {
  std::vector<TdsRequest> out;
  for (const TdsRequest& r : all) {
    if (r.kind == kind) out.push_back(r);
  }
  return out;
}

#define NEEDS_FREETDS() \
  if (FreeTdsDriver().empty()) GTEST_SKIP() << "FreeTDS ODBC driver (tdsodbc) not installed"

// The login carries what the configuration says, for each form of server
// name: the data source's own database gives way to the configured one, and
// a data source without TDS_Version still logs in with TDS 7.4.
TEST(FreeTdsEndpoint, LoginCarriesTheConfiguredValues) {
  NEEDS_FREETDS();
  TdsEndpoint e;
  const std::string root = test::TempDir();
  FreeTdsRegistration reg(root + "/odbc", e.port());
  for (const std::string& server : {HostForm(e), std::string("TdsFull"), std::string("TdsBare")}) {
    int code = 0;
    std::string err;
    auto b = OdbcBackend::Open(Settings(server), TransportOptions(), &code, &err);
    ASSERT_NE(b, nullptr) << server << ": " << err;
    EXPECT_EQ(code, 0);
  }
  std::vector<TdsRequest> logins = Of(e.Requests(), TdsRequest::Kind::kLogin);
  ASSERT_EQ(logins.size(), 3u);
  for (const TdsRequest& r : logins) {
    EXPECT_EQ(r.login.tds_version, 0x74000004u);
    EXPECT_EQ(r.login.user, "plom");
    EXPECT_EQ(r.login.password, "Ge}h;e=im");
    EXPECT_EQ(r.login.database, "Korvantis");
    EXPECT_EQ(r.login.app, std::string("plomvarde ") + PLOM_VERSION);
  }
  std::filesystem::remove_all(root);
}

// ---- Whole runs of the tool through the endpoint ----

int RunCommand(const std::string& cmd) { return test::ExitStatus(std::system(cmd.c_str())); }

// A sample installation: ROOT/sample.db, and ROOT/NAME/files/korvantis.ini
// naming the server, the working directory ROOT/NAME/run/t.
struct Site {
  std::string dir;
  std::string work() const { return dir + "/run/t"; }
};

Site LayOut(const std::string& root, const std::string& name, const std::string& server) {
  Site site{root + "/" + name};
  std::filesystem::create_directories(site.dir + "/files");
  std::filesystem::create_directories(site.work());
  std::string cmd = "'" PLOM_BINARY_DIR "/plomvarde-ini' write '" + site.dir +
                    "/files/korvantis.ini' LOGIN=plom 'PASS=Ge}h;e=im' 'SQLSERVER=" + server +
                    "' SCHEMA=Korvantis. >/dev/null";
  EXPECT_EQ(RunCommand(cmd), 0) << cmd;
  return site;
}

std::string Sample(const std::string& root) {
  const std::string db = root + "/sample.db";
  if (!std::filesystem::exists(db)) {
    EXPECT_EQ(RunCommand("'" PLOM_BINARY_DIR "/plomvarde-sample' '" + db + "' >/dev/null"), 0);
  }
  return db;
}

// Runs the tool in the site; *out receives its messages, *seconds the time.
int RunTool(const Site& site, const std::string& env, const std::string& args, std::string* out,
            double* seconds = nullptr) {
  std::string log = site.dir + "/out.txt";
  std::string cmd = "cd '" + site.work() + "' && " + env + " '" PLOM_BINARY_DIR "/plomvarde' " +
                    args + " >'" + log + "' 2>&1";
  auto start = std::chrono::steady_clock::now();
  int rc = RunCommand(cmd);
  if (seconds != nullptr) {
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  *out = test::ReadFile(log);
  return rc;
}

// Request messages the endpoint received after the login (a message may
// carry several calls: a parameter array).
int RoundTrips(const std::vector<TdsRequest>& requests) {
  int n = 0;
  for (const TdsRequest& r : requests) {
    if ((r.kind == TdsRequest::Kind::kBatch || r.kind == TdsRequest::Kind::kRpc) && r.packets > 0) {
      ++n;
    }
  }
  return n;
}

TEST(FreeTdsWholeRun, Explore) {
  NEEDS_FREETDS();
  const std::string root = test::TempDir();
  const std::string sample = Sample(root);
  TdsEndpoint e(sample);
  FreeTdsRegistration reg(root + "/odbc", e.port());
  Site embedded = LayOut(root, "e", "sqlite:" + sample);
  Site host = LayOut(root, "h", HostForm(e));
  std::string msg_e, msg_h;
  EXPECT_EQ(RunTool(embedded, "", "VQDNL17P TERM12 out.dnl 1", &msg_e), 0) << msg_e;
  EXPECT_EQ(RunTool(host, reg.env(), "VQDNL17P TERM12 out.dnl 1", &msg_h), 0) << msg_h;
  EXPECT_EQ(msg_h, msg_e);
  EXPECT_EQ(test::ReadFile(host.work() + "/out.dnl"), test::ReadFile(embedded.work() + "/out.dnl"));
  for (const TdsRequest& r : e.Requests()) {
    std::printf("%d kind %d proc %s packets %d params %zu text [%.60s]\n", r.connection,
                static_cast<int>(r.kind), r.proc.c_str(), r.packets, r.params.size(),
                r.text.c_str());
  }
  std::printf("round trips %d\n", RoundTrips(e.Requests()));
  std::printf("%s", msg_h.c_str());
  e.Stop();
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace plom

#endif  // PLOM_HAVE_ODBC
