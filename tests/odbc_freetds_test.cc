// The ODBC backend through the real FreeTDS driver, against the scripted
// TDS endpoint on loopback (tests/tds_endpoint.h): what the login carries,
// what a silent server costs, which bytes survive, and how many round
// trips reach the wire.
#ifdef PLOM_HAVE_ODBC

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <thread>
#include <cstdlib>
#include <filesystem>

#include "db/odbc_backend.h"
#include "installation/line_store.h"
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
TEST(OdbcFreeTdsEndpoint, LoginCarriesTheConfiguredValues) {
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
  // A password FreeTDS cannot read in a connection string is refused
  // before any connect, with the characters named and the password not.
  {
    ConnectSettings s = Settings(HostForm(e));
    s.password = "Ge};heim";
    int code = 0;
    std::string err;
    EXPECT_EQ(OdbcBackend::Open(s, TransportOptions(), &code, &err), nullptr);
    EXPECT_LT(code, 0);
    EXPECT_NE(err.find("the password holds \"}\" followed by \";\""), std::string::npos) << err;
    EXPECT_EQ(err.find("Ge};heim"), std::string::npos) << err;
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

// A SQL Server Browser on 127.0.0.1 (UDP 1434) for the time of a test:
// it answers a question for instance ZEIT with the port given, or, with
// port 0, never answers.
class Browser {
 public:
  explicit Browser(int port) : port_(port) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(1434);
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (bound_) thread_ = std::thread([this] { Serve(); });
  }
  ~Browser() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  bool bound() const { return bound_; }

 private:
  void Serve() {
    for (int rounds = 0; !stop_ && rounds < 600; ++rounds) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[512];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 1 || buf[0] != 0x04 || port_ == 0) continue;
      std::string text = "ServerName;ENDPOINT;InstanceName;" + std::string(buf + 1, n - 1) +
                         ";IsClustered;No;Version;16.0.1000.6;tcp;" + std::to_string(port_) +
                         ";;";
      std::string answer = "\x05";
      answer.push_back(static_cast<char>(text.size() & 0xFF));
      answer.push_back(static_cast<char>(text.size() >> 8));
      answer += text;
      sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  }
  int port_;
  int fd_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// "host\instance" without a port: the tool asks the SQL Server Browser
// itself, within the login timeout (FreeTDS would ask sixteen times, a
// second apart, before its login timeout starts).
TEST(OdbcFreeTdsEndpoint, NamedInstanceLookedUpWithinTheLoginTimeout) {
  NEEDS_FREETDS();
  TdsEndpoint e;
  const std::string root = test::TempDir();
  FreeTdsRegistration reg(root + "/odbc", e.port());
  TransportOptions options;
  options.login_timeout_s = 2;
  for (int browser_port : {e.port(), 0, -1}) {  // answering, silent, none
    std::unique_ptr<Browser> browser;
    if (browser_port >= 0) {
      browser = std::make_unique<Browser>(browser_port);
      if (!browser->bound()) GTEST_SKIP() << "UDP port 1434 of 127.0.0.1 is taken";
    }
    int code = 0;
    std::string err;
    auto start = std::chrono::steady_clock::now();
    auto b = OdbcBackend::Open(Settings("127.0.0.1\\ZEIT"), options, &code, &err);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (browser_port > 0) {
      EXPECT_NE(b, nullptr) << err;
      EXPECT_EQ(Of(e.Requests(), TdsRequest::Kind::kLogin).size(), 1u);
    } else {
      EXPECT_EQ(b, nullptr);
      EXPECT_NE(err.find("the SQL Server Browser of 127.0.0.1 gave no port for instance ZEIT"),
                std::string::npos)
          << err;
      EXPECT_LE(seconds, options.login_timeout_s + 0.5) << err;
    }
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
    if ((r.kind == TdsRequest::Kind::kBatch || r.kind == TdsRequest::Kind::kRpc ||
         r.kind == TdsRequest::Kind::kAttention) &&
        r.packets > 0) {
      ++n;
    }
  }
  return n;
}

// Every byte from 0x80 to 0xFF, in lines and in the path they are kept
// under, reaches the server as the varchar bytes it stores and comes back
// unchanged: through the host form and through a data source that sets no
// ClientCharset (the undefined bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D too).
TEST(OdbcFreeTdsEndpoint, EveryWindows1252ByteKept) {
  NEEDS_FREETDS();
  const std::string root = test::TempDir();
  TdsEndpoint e(Sample(root));
  FreeTdsRegistration reg(root + "/odbc", e.port());
  std::string high;
  for (int b = 0x80; b <= 0xFF; ++b) high.push_back(static_cast<char>(b));
  const std::vector<std::string> lines = {high, "x" + std::string(high.rbegin(), high.rend())};
  for (const std::string& server : {HostForm(e), std::string("TdsBare")}) {
    for (const std::string& path : {"d" + high.substr(0, 64), "d" + high.substr(64)}) {
      int code = 0;
      std::string err;
      Connection c(OdbcBackend::Open(Settings(server), TransportOptions(), &code, &err));
      ASSERT_TRUE(c.connected()) << err;
      ASSERT_EQ(LockLineStore(c, path, 0), 0) << c.last_error();
      ASSERT_TRUE(DeleteLines(c, path).ok()) << c.last_error();
      StoreReport stored = StoreLines(c, path, lines, StoreMode::kGroups);
      ASSERT_EQ(stored.stored, 2) << stored.failure.reason();
      std::vector<std::string> back;
      ASSERT_TRUE(ReadLines(c, path, &back).ok()) << c.last_error();
      std::vector<std::string> want = lines;
      std::sort(want.begin(), want.end());
      EXPECT_EQ(back, want) << server;
    }
  }
  // At the wire: varchar parameters holding the bytes themselves.
  int inserts = 0;
  for (const TdsRequest& r : e.Requests()) {
    if (r.text.find("INSERT INTO ZrSystem.Zrt999Tmp") == std::string::npos || r.params.empty()) {
      continue;
    }
    ASSERT_EQ(r.params.size(), 2u);
    EXPECT_EQ(r.params[0].type, 0xA7);
    EXPECT_EQ(r.params[1].type, 0xA7);
    EXPECT_TRUE(r.params[1].s == lines[0] || r.params[1].s == lines[1]);
    ++inserts;
  }
  EXPECT_EQ(inserts, 8);
  e.Stop();
  std::filesystem::remove_all(root);
}

// Whole runs through FreeTDS write the files and messages of the embedded
// database: the host form and a data source without TDS_Version and
// ClientCharset, a download file whose name holds bytes above 0x7F.
TEST(OdbcFreeTdsWholeRun, SameFilesAndMessagesAsTheEmbeddedDatabase) {
  NEEDS_FREETDS();
  const std::string root = test::TempDir();
  const std::string sample = Sample(root);
  const std::string copy = root + "/served.db";
  std::filesystem::copy_file(sample, copy);
  TdsEndpoint e(copy);
  FreeTdsRegistration reg(root + "/odbc", e.port());
  Site embedded = LayOut(root, "e", "sqlite:" + sample);
  for (const std::string& server : {HostForm(e), std::string("TdsBare")}) {
    Site site = LayOut(root, "s" + std::to_string(server.size()), server);
    for (const char* f : {"VQDNL17P", "IDSTAMM"}) {
      // Arguments come in the locale's UTF-8; the file is named by the
      // Windows-1252 bytes.
      const std::string args =
          std::string(f) + " TERM12 'Gr\xC3\xBC\xC3\x9F\xE2\x82\xAC.dnl' 1";
      std::string msg_e, msg_s;
      EXPECT_EQ(RunTool(embedded, "", args, &msg_e), 0) << msg_e;
      EXPECT_EQ(RunTool(site, reg.env(), args, &msg_s), 0) << msg_s;
      EXPECT_EQ(msg_s, msg_e) << server << " " << f;
      const std::string file = test::ReadFile(site.work() + "/Gr\xFC\xDF\x80.dnl");
      EXPECT_FALSE(file.empty());
      EXPECT_EQ(file, test::ReadFile(embedded.work() + "/Gr\xFC\xDF\x80.dnl")) << server;
    }
  }
  e.Stop();
  std::filesystem::remove_all(root);
}

// A server that goes silent at any step of a run: the run ends within the
// query timeout (or the login timeout, or the lock's wait and the query
// timeout) plus 5 seconds, with 69, or 75 when the line store's lock was not
// answered; the download file stays as it was, and the next run, the server
// answering again, is not kept out by a lock left behind.
TEST(OdbcFreeTdsWholeRun, SilenceAtEachStepEndsTheRunInTime) {
  NEEDS_FREETDS();
  const std::string root = test::TempDir();
  TdsEndpoint e(Sample(root));
  FreeTdsRegistration reg(root + "/odbc", e.port());
  // A data source whose driver the tool does not know by name: it connects
  // with SQLConnect and makes the schema current with a USE.
  test::WriteFile(root + "/odbc/odbcinst.ini",
                  "[FreeTDS]\nDriver=" + FreeTdsDriver() + "\n[Zeit]\nDriver=" + FreeTdsDriver() +
                      "\n");
  test::WriteFile(root + "/odbc/odbc.ini", test::ReadFile(root + "/odbc/odbc.ini") +
                                               "\n[TdsAlias]\nDriver=Zeit\nServer=127.0.0.1\nPort=" +
                                               std::to_string(e.port()) + "\nTDS_Version=7.4\n");
  Site host = LayOut(root, "h", HostForm(e));
  Site alias = LayOut(root, "a", "TdsAlias");
  using Kind = TdsRequest::Kind;
  auto text_has = [](const char* what) {
    return [what](const TdsRequest& r) { return r.text.find(what) != std::string::npos; };
  };
  bool inserted = false;  // COMMIT: the one after the lines
  const struct {
    const char* step;
    std::function<bool(const TdsRequest&)> silent_at;
    const Site* site;
    int exit;
  } cases[] = {
      {"accept", nullptr, &host, 69},
      {"pre-login", [](const TdsRequest& r) { return r.kind == Kind::kPrelogin; }, &host, 69},
      {"login", [](const TdsRequest& r) { return r.kind == Kind::kLogin; }, &host, 69},
      {"USE", text_has("USE [Korvantis]"), &alias, 69},
      {"session settings", text_has("SET XACT_ABORT OFF"), &host, 69},
      {"applock", text_has("sp_getapplock"), &host, 75},
      {"badge cursor", text_has("ASW_"), &host, 69},
      {"line store array", text_has("INSERT INTO ZrSystem.Zrt999Tmp"), &host, 69},
      {"COMMIT",
       [&inserted](const TdsRequest& r) {
         if (r.text.find("INSERT INTO") != std::string::npos) inserted = true;
         return inserted && r.text.find("COMMIT") != std::string::npos;
       },
       &host, 69},
      {"read-back", text_has("TMP_USRSTR_C"), &host, 69},
  };
  const std::string env = reg.env() +
                          "PLOMVARDE_QUERY_TIMEOUT=1 PLOMVARDE_LOGIN_TIMEOUT=1 "
                          "PLOMVARDE_LOCK_TIMEOUT=1";
  for (const auto& c : cases) {
    for (const Site* site : {&host, &alias}) {
      test::WriteFile(site->work() + "/out.dnl", "previous content\r\n");
    }
    inserted = false;
    bool silent = false;
    e.SetAccepting(c.silent_at != nullptr);
    e.SetScript([&](const TdsRequest& r) {
      TdsReply reply;
      if (c.silent_at && (silent || c.silent_at(r))) {
        silent = true;
        reply.action = TdsReply::Action::kSilent;
      }
      return reply;
    });
    std::string msg;
    double seconds = 0;
    int rc = RunTool(*c.site, env, "VQDNL17P TERM12 out.dnl 1", &msg, &seconds);
    EXPECT_EQ(rc, c.exit) << c.step << "\n" << msg;
    // The timeout: 1 s (2 s for the lock: its wait and the query timeout).
    EXPECT_LE(seconds, (c.exit == 75 ? 2 : 1) + 5) << c.step;
    EXPECT_TRUE(c.silent_at == nullptr || silent) << c.step;
    std::printf("silent at %s: exit %d after %.1f s\n", c.step, rc, seconds);
    EXPECT_EQ(test::ReadFile(c.site->work() + "/out.dnl"), "previous content\r\n") << c.step;
    EXPECT_EQ(msg.find("Ge}h;e=im"), std::string::npos) << msg;
    if (c.exit == 69) {
      EXPECT_NE(msg.find("HYT00"), std::string::npos) << c.step << "\n" << msg;
    }
    // The server answers again: the next run is not kept out.
    e.SetAccepting(true);
    e.SetScript(nullptr);
    EXPECT_EQ(RunTool(*c.site, env, "VQDNL17P TERM12 out.dnl 1", &msg), 0) << c.step << "\n" << msg;
  }
  e.Stop();
  std::filesystem::remove_all(root);
}

// A step the server refuses or answers oddly ends the run with 69 and the
// reason, the download file as it was.
TEST(OdbcFreeTdsWholeRun, FailingStepsSayWhy) {
  NEEDS_FREETDS();
  const std::string root = test::TempDir();
  TdsEndpoint e(Sample(root));
  FreeTdsRegistration reg(root + "/odbc", e.port());
  Site site = LayOut(root, "h", HostForm(e));
  const struct {
    const char* step;
    std::function<void(const TdsRequest&, TdsReply*)> script;
    const char* reason;
  } cases[] = {
      {"login refused",
       [](const TdsRequest& r, TdsReply* reply) {
         if (r.kind == TdsRequest::Kind::kLogin) reply->action = TdsReply::Action::kFail;
       },
       "Login failed for user 'plom'"},
      {"session settings refused",
       [](const TdsRequest& r, TdsReply* reply) {
         if (r.text.find("SET XACT_ABORT OFF") != std::string::npos) {
           reply->action = TdsReply::Action::kFail;
           reply->message = "no such option";
         }
       },
       "session settings: [42000] [FreeTDS][SQL Server]no such option"},
      {"sp_getapplock without a row",
       [](const TdsRequest& r, TdsReply* reply) {
         if (r.text.find("sp_getapplock") != std::string::npos) reply->applock_row = false;
       },
       "sp_getapplock answered with no row"},
      {"sp_getapplock refusing",
       [](const TdsRequest& r, TdsReply* reply) {
         if (r.text.find("sp_getapplock") != std::string::npos) reply->applock = -999;
       },
       "sp_getapplock returned -999"},
      {"server hangs up",
       [](const TdsRequest& r, TdsReply* reply) {
         if (r.text.find("ASW_") != std::string::npos) reply->action = TdsReply::Action::kHangUp;
       },
       "Unexpected EOF from the server"},
  };
  for (const auto& c : cases) {
    test::WriteFile(site.work() + "/out.dnl", "previous content\r\n");
    e.SetScript([&](const TdsRequest& r) {
      TdsReply reply;
      c.script(r, &reply);
      return reply;
    });
    std::string msg;
    EXPECT_EQ(RunTool(site, reg.env(), "VQDNL17P TERM12 out.dnl 1", &msg), 69) << c.step;
    EXPECT_NE(msg.find(c.reason), std::string::npos) << c.step << "\n" << msg;
    EXPECT_EQ(test::ReadFile(site.work() + "/out.dnl"), "previous content\r\n") << c.step;
  }
  e.Stop();
  std::filesystem::remove_all(root);
}

// The badges a run read ("Ausweise gesamt: N" of each client).
int BadgesOf(const std::string& msg) {
  int n = 0;
  for (size_t at = msg.find("Ausweise gesamt: "); at != std::string::npos;
       at = msg.find("Ausweise gesamt: ", at + 1)) {
    n += std::atoi(msg.c_str() + at + 17);
  }
  return n;
}

// A line refused by the server inside a parameter array: the run says and
// writes what the plain sequence (one line per round trip) says and writes.
TEST(OdbcFreeTdsWholeRun, RefusedRowInAnArraySaysWhatThePlainSequenceSays) {
  NEEDS_FREETDS();
  const std::string root = test::TempDir();
  TdsEndpoint e(Sample(root));
  FreeTdsRegistration reg(root + "/odbc", e.port());
  Site site = LayOut(root, "h", HostForm(e));
  int refusals = 0;
  e.SetScript([&](const TdsRequest& r) {
    TdsReply reply;
    if (r.text.find("INSERT INTO ZrSystem.Zrt999Tmp") != std::string::npos &&
        r.params.size() == 2 &&
        (r.params[1].s.compare(0, 5, "2003 ") == 0 || r.params[1].s.compare(0, 6, "\"2003\"") == 0)) {
      reply.action = TdsReply::Action::kFail;
      reply.error = 2627;
      reply.message = "Violation of PRIMARY KEY constraint 'PK_Zrt999Tmp'.";
      ++refusals;
    }
    return reply;
  });
  for (const char* f : {"VQDNL17P", "IDSTAMM"}) {
    const std::string args = std::string(f) + " TERM12 out.dnl 1";
    std::string msg_arrays, msg_plain;
    refusals = 0;
    EXPECT_EQ(RunTool(site, reg.env(), args, &msg_arrays), 1) << msg_arrays;
    const std::string file_arrays = test::ReadFile(site.work() + "/out.dnl");
    // The array's row, the row alone for its own message, and the row in
    // the group stored again line by line.
    EXPECT_EQ(refusals, 3) << f;
    EXPECT_EQ(RunTool(site, reg.env() + "PLOMVARDE_PARAM_ARRAYS=0", args, &msg_plain), 1);
    EXPECT_EQ(msg_arrays, msg_plain) << f;
    EXPECT_NE(msg_plain.find("ErrNr: -2627"), std::string::npos) << msg_plain;
    EXPECT_EQ(file_arrays, test::ReadFile(site.work() + "/out.dnl")) << f;
    EXPECT_EQ(file_arrays.find("2003"), std::string::npos);
    EXPECT_NE(file_arrays.find("2004"), std::string::npos);
  }
  e.Stop();
  std::filesystem::remove_all(root);
}

// Round trips at the wire, per badge and function, on 300 badges: every
// statement is prepared once per run (no sp_unprepare until the end, no
// statement prepared twice), no cursor is cancelled, and the figures stay
// within what README states.
TEST(OdbcFreeTdsWholeRun, RoundTripsPerBadgeAtTheWire) {
  NEEDS_FREETDS();
  const std::string root = test::TempDir();
  const std::string db = root + "/big.db";
  ASSERT_EQ(RunCommand("'" PLOM_BINARY_DIR "/plomvarde-sample' --badges 300 '" + db +
                       "' >/dev/null"),
            0);
  TdsEndpoint e(db);
  FreeTdsRegistration reg(root + "/odbc", e.port());
  Site site = LayOut(root, "h", HostForm(e));
  const struct {
    const char* function;
    double most;  // round trips per badge, at most
  } cases[] = {{"VQDNL17P", 2.7}, {"VQDNL31P", 1.7}, {"VQDNL18P", 3.2},
               {"VQDNL60P", 1.7}, {"IDSTAMM", 1.8}};
  for (const auto& c : cases) {
    size_t from = e.Requests().size();
    std::string msg;
    ASSERT_EQ(RunTool(site, reg.env(), std::string(c.function) + " TERM12 out.dnl 1", &msg), 0)
        << msg;
    const std::vector<TdsRequest> all = e.Requests();
    const std::vector<TdsRequest> run(all.begin() + static_cast<long>(from), all.end());
    std::map<std::string, int> prepared;
    size_t first_unprepare = run.size(), read_back = 0;
    for (size_t i = 0; i < run.size(); ++i) {
      const TdsRequest& r = run[i];
      EXPECT_NE(r.kind, TdsRequest::Kind::kAttention) << c.function;
      if (r.proc == "sp_prepexec" || r.proc == "sp_prepare") {
        EXPECT_EQ(++prepared[r.text], 1) << c.function << ": " << r.text;
      }
      if (r.proc == "sp_unprepare") first_unprepare = std::min(first_unprepare, i);
      if (r.text.find("TMP_USRSTR_C") != std::string::npos && r.proc != "sp_unprepare") {
        read_back = i;
      }
    }
    EXPECT_GT(first_unprepare, read_back) << c.function;
    const int badges = BadgesOf(msg);
    ASSERT_GT(badges, 250) << msg;
    const double per_badge = static_cast<double>(RoundTrips(run)) / badges;
    EXPECT_LE(per_badge, c.most) << c.function;
    std::printf("%s: %d badges, %d round trips (%.2f per badge), %d packets\n", c.function,
                badges, RoundTrips(run), per_badge, [&] {
                  int p = 0;
                  for (const TdsRequest& r : run) p += r.packets;
                  return p;
                }());
  }
  e.Stop();
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace plom

#endif  // PLOM_HAVE_ODBC
