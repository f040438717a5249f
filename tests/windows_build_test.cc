// The Windows programs (the MinGW-w64 cross build) run under Wine against
// the sample installation, through Wine's odbc32 and the host's SQLite ODBC
// driver: files, messages and exit statuses as the Linux build gives them.
//
// Runs when PLOM_WINDOWS_BUILD names the folder of the .exe files (make
// test-windows sets it, with the Wine prefix); skipped otherwise, so that
// make test needs no Wine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/shell.h"
#include "tests/test_util.h"

namespace plom {
namespace {

namespace fs = std::filesystem;

const std::string kBin = PLOM_BINARY_DIR;
const std::string kGolden = std::string(PLOM_SOURCE_DIR) + "/tests/golden/";

struct Outcome {
  int status = -1;
  std::string out;
};

// The sample installation laid out as at a site: files/ with the database
// and the configuration, run/terminal/ as the working directory.
class WindowsBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("PLOM_WINDOWS_BUILD");
    if (dir == nullptr || *dir == '\0') GTEST_SKIP() << "PLOM_WINDOWS_BUILD not set";
    win_ = fs::absolute(dir).string();
    root_ = test::TempDir();
    cwd_ = root_ + "/run/terminal";
    fs::create_directories(root_ + "/files");
    fs::create_directories(cwd_);
    int status = 0;
    test::Shell(root_, kBin + "/plomvarde-sample files/plomvarde.db >/dev/null", &status);
    ASSERT_EQ(status, 0);
    // Written by the Windows plomvarde-ini, with the path as a site writes it.
    Outcome ini = Wine("plomvarde-ini.exe",
                       {"write", "..\\..\\files\\korvantis.ini", "LOGIN=sa", "PASS=geheim",
                        "SQLSERVER=sqlite:..\\..\\files\\plomvarde.db", "SCHEMA=ZrSystem."});
    ASSERT_EQ(ini.status, 0) << ini.out;
    ASSERT_TRUE(fs::exists(root_ + "/files/korvantis.ini"));
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  // env: assignments put before the command ("NAME=value ").
  Outcome Wine(const std::string& exe, const std::vector<std::string>& args,
               const std::string& env = std::string()) {
    std::string cmd = env + "wine " + test::ShellQuote(win_ + "/" + exe);
    for (const auto& a : args) cmd += " " + test::ShellQuote(a);
    Outcome o;
    o.out = test::Shell(cwd_, cmd + " 2>/dev/null", &o.status);
    return o;
  }
  Outcome Linux(const std::vector<std::string>& args) {
    std::string cmd = test::ShellQuote(kBin + "/plomvarde");
    for (const auto& a : args) cmd += " " + test::ShellQuote(a);
    Outcome o;
    o.out = test::Shell(cwd_, cmd, &o.status);
    return o;
  }
  std::string Golden(const std::string& name) { return test::ReadFile(kGolden + name); }
  std::string Read(const std::string& file) { return test::ReadFile(cwd_ + "/" + file); }

  std::string win_, root_, cwd_;
};

TEST_F(WindowsBuild, EveryGoldenRunGivesTheLinuxFilesAndMessages) {
  const char* runs[][2] = {{"VQDNL17P", "TERM12"}, {"VQDNL31P", "TERM12"}, {"VQDNL18P", "TERM12"},
                           {"VQDNL60P", "TERM12"}, {"IDSTAMM", "TERM12"},  {"VQDNL60P", "TERM03"},
                           {"VQDNL18P", "TERM03"}, {"VQDNL17P", "TERM00"}, {"IDSTAMM", "TERM00"}};
  for (auto& r : runs) {
    const std::string name = std::string(r[0]) + "_" + r[1];
    Outcome o = Wine("plomvarde.exe", {r[0], r[1], "out.dnl", "1"});
    EXPECT_EQ(o.status, 0) << name << "\n" << o.out;
    EXPECT_EQ(test::StableDates(Read("out.dnl")), Golden(name + ".dnl")) << name;
    EXPECT_EQ(test::StableDates(o.out), Golden(name + ".out")) << name;
  }
  EXPECT_FALSE(fs::exists(cwd_ + "/out.dnl.lock"));
}

// "1..." replaces, anything else appends; the CR LF of IDSTAMM lines stay
// single (no second CR from a text-mode file).
TEST_F(WindowsBuild, ReplaceAndAppend) {
  const std::string lines = Golden("IDSTAMM_TERM00.dnl");
  ASSERT_NE(lines.find("\r\n"), std::string::npos);
  test::WriteFile(cwd_ + "/id.dnl", "old\r\n");
  EXPECT_EQ(Wine("plomvarde.exe", {"IDSTAMM", "TERM00", "id.dnl", "0"}).status, 0);
  EXPECT_EQ(test::StableDates(Read("id.dnl")), "old\r\n" + lines);
  EXPECT_EQ(Wine("plomvarde.exe", {"idstamm", "TERM00", "id.dnl", "2"}).status, 0);
  EXPECT_EQ(test::StableDates(Read("id.dnl")), "old\r\n" + lines + lines);
  EXPECT_EQ(Wine("plomvarde.exe", {"IDSTAMM", "TERM00", "id.dnl", "10"}).status, 0);
  EXPECT_EQ(test::StableDates(Read("id.dnl")), lines);
  EXPECT_EQ(Wine("plomvarde.exe", {"IDSTAMM", "TERM00", "fresh.dnl", "0"}).status, 0);
  EXPECT_EQ(test::StableDates(Read("fresh.dnl")), lines);
  int entries = 0;
  for (auto& e : fs::directory_iterator(cwd_)) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 2);  // no temporary or lock file left
}

// Without its collation module the SQLite ODBC driver cannot read the line
// store back: the run ends 69 and the old download file stays as it was.
TEST_F(WindowsBuild, LineStoreWithoutCollationEndsTheRun) {
  test::WriteFile(cwd_ + "/out.dnl", "old\r\n");
  Outcome o = Wine("plomvarde.exe", {"VQDNL60P", "TERM03", "out.dnl", "1"},
                   "PLOMVARDE_COLLATION_MODULE=/nonexistent/libplomvarde-collation.so ");
  EXPECT_EQ(o.status, 69) << o.out;
  EXPECT_EQ(Read("out.dnl"), "old\r\n");
  EXPECT_FALSE(fs::exists(cwd_ + "/out.dnl.lock"));
}

// An umlaut in the path reaches the file system as the character, not as a
// byte of some code page: Wine keeps the name in UTF-8 on the host.
TEST_F(WindowsBuild, PathWithUmlautNamesTheFileByItsCharacters) {
  Outcome o = Wine("plomvarde.exe", {"VQDNL60P", "TERM03", "M\xC3\xA4rz.dnl", "1"});
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_EQ(test::StableDates(Read("M\xC3\xA4rz.dnl")), Golden("VQDNL60P_TERM03.dnl"));
}

// Exit statuses and messages of the paths that end a run early, the same
// on both builds. Where the backends' own reasons differ (a failed
// connect), the status and the tool's own first line are compared.
TEST_F(WindowsBuild, EarlyEndsAsOnLinux) {
  struct Case {
    std::vector<std::string> args;
    int status;
    bool same_text;
    std::function<void()> prepare;
  };
  const std::string ini = root_ + "/files/korvantis.ini";
  const Case cases[] = {
      {{"VQDNL17P", "TERM12", "x.dnl"}, 64, true, nullptr},
      {{}, 64, true, nullptr},
      {{"VQDNL99P", "TERM12", "x.dnl", "1"}, 64, true, nullptr},
      {{"VQDNL17P", "TERMINAL_NAME_TOO_LONG", "x.dnl", "1"}, 64, true, nullptr},
      // The missing folder is named as each host writes an absolute path.
      {{"VQDNL17P", "TERM12", "no/such/folder/x.dnl", "1"}, 73, false, nullptr},
      // A database file that is missing is a failed connect, not a new file.
      {{"VQDNL17P", "TERM12", "x.dnl", "1"},
       69,
       false,
       [&] {
         ASSERT_EQ(Wine("plomvarde-ini.exe",
                        {"write", "..\\..\\files\\korvantis.ini", "LOGIN=sa", "PASS=geheim",
                         "SQLSERVER=sqlite:..\\..\\files\\missing.db", "SCHEMA=ZrSystem."})
                       .status,
                   0);
       }},
      {{"VQDNL17P", "TERM12", "x.dnl", "1"}, 69, false, [&] { fs::rename(ini, ini + ".away"); }},
  };
  for (const Case& c : cases) {
    if (c.prepare) c.prepare();
    std::string what = c.args.empty() ? "(none)" : c.args[0] + " " + std::to_string(c.args.size());
    Outcome win = Wine("plomvarde.exe", c.args);
    Outcome lin = Linux(c.args);
    EXPECT_EQ(win.status, c.status) << what << "\n" << win.out;
    EXPECT_EQ(lin.status, c.status) << what << "\n" << lin.out;
    if (c.same_text) {
      EXPECT_EQ(win.out, lin.out) << what;
    } else {
      EXPECT_EQ(win.out.substr(0, win.out.find('\n')), lin.out.substr(0, lin.out.find('\n')))
          << what;
    }
  }
  EXPECT_FALSE(fs::exists(cwd_ + "/x.dnl"));
  EXPECT_FALSE(fs::exists(root_ + "/files/missing.db"));
}

// "/?" is the help switch of every Windows program, as --help is.
TEST_F(WindowsBuild, SlashQuestionMarkIsHelp) {
  for (const std::string program :
       {"plomvarde", "plomvarde-batch", "plomvarde-explain", "plomvarde-ini", "plomvarde-show"}) {
    Outcome o = Wine(program + ".exe", {"/?"});
    EXPECT_EQ(o.status, 0) << program << "\n" << o.out;
    EXPECT_EQ(o.out, Wine(program + ".exe", {"--help"}).out) << program;
    EXPECT_NE(o.out.find(program == "plomvarde" ? "Aufruf: plomvarde " : program + " "),
              std::string::npos)
        << program << "\n" << o.out;
  }
}

TEST_F(WindowsBuild, CompanionsPrintTheVersion) {
  for (const std::string program : {"plomvarde-ini", "plomvarde-show"}) {
    Outcome o = Wine(program + ".exe", {"--version"});
    EXPECT_EQ(o.status, 0) << program;
    int status = 0;
    std::string linux_version = test::Shell(cwd_, kBin + "/" + program + " --version", &status);
    ASSERT_EQ(status, 0) << program;
    ASSERT_FALSE(linux_version.empty()) << program;
    // Companions print in text mode: CR LF on Windows.
    EXPECT_EQ(o.out, linux_version.substr(0, linux_version.size() - 1) + "\r\n") << program;
  }
}

// plomvarde-show.exe reads a download file that plomvarde.exe wrote.
TEST_F(WindowsBuild, ShowReadsWhatTheToolWrote) {
  ASSERT_EQ(Wine("plomvarde.exe", {"VQDNL60P", "TERM03", "out.dnl", "1"}).status, 0);
  Outcome win = Wine("plomvarde-show.exe", {"--tsv", "out.dnl"});
  int status = 0;
  std::string lin = test::Shell(cwd_, kBin + "/plomvarde-show --tsv out.dnl", &status);
  EXPECT_EQ(win.status, status);
  std::string unix_lines;
  for (char ch : win.out) {
    if (ch != '\r') unix_lines.push_back(ch);
  }
  EXPECT_FALSE(lin.empty());
  EXPECT_EQ(unix_lines, lin);
}

// Holds the lock of a download file the way another program on the host
// does (Wine maps LockFileEx onto POSIX record locks).
class HostLock {
 public:
  explicit HostLock(const std::string& lock_path)
      : fd_(::open(lock_path.c_str(), O_RDWR | O_CREAT, 0644)) {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    held_ = fd_ >= 0 && ::fcntl(fd_, F_SETLK, &fl) == 0;
  }
  ~HostLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool held() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

// A run waits for the holder of its download file and then writes it.
TEST_F(WindowsBuild, RunWaitsForTheHolderOfItsFile) {
  auto lock = std::make_unique<HostLock>(cwd_ + "/out.dnl.lock");
  ASSERT_TRUE(lock->held());
  auto start = std::chrono::steady_clock::now();
  // The lock goes when this test process closes it: a thread does so after
  // three seconds while the run waits.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    lock.reset();
  });
  Outcome o = Wine("plomvarde.exe", {"VQDNL60P", "TERM03", "out.dnl", "1"});
  auto waited = std::chrono::steady_clock::now() - start;
  release.join();
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_GE(waited, std::chrono::seconds(3));
  EXPECT_EQ(test::StableDates(Read("out.dnl")), Golden("VQDNL60P_TERM03.dnl"));
}

// A second run on a held file gives up after its wait (two minutes) with 75
// and leaves the file as it was.
TEST_F(WindowsBuild, SecondRunOnAHeldFileExits75) {
  test::WriteFile(cwd_ + "/out.dnl", "old");
  HostLock lock(cwd_ + "/out.dnl.lock");
  ASSERT_TRUE(lock.held());
  auto start = std::chrono::steady_clock::now();
  Outcome o = Wine("plomvarde.exe", {"VQDNL60P", "TERM03", "out.dnl", "1"});
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(o.status, 75);
  // Said when the wait begins (Windows names no holder) and when it ends.
  EXPECT_EQ(o.out,
            "Downloadfile out.dnl wird von einem anderen Lauf erstellt, warte bis zu 120 s\n"
            "Downloadfile out.dnl wird von einem anderen Lauf erstellt!\n");
  EXPECT_GE(waited, std::chrono::seconds(119));
  EXPECT_EQ(Read("out.dnl"), "old");
}

}  // namespace
}  // namespace plom
