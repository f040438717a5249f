#include "tests/shell.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "config/cipher.h"
#include "tests/test_util.h"

namespace plom::test {

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

bool OtherUser(unsigned* uid, unsigned* gid, std::string* why) {
  if (::geteuid() != 0) {
    *why = "the tests do not run as root: no second user to act as";
    return false;
  }
  constexpr char kName[] = "plomvarde-other";
  if (::getpwnam(kName) == nullptr) {
    // Tests running side by side may both add it: the second one fails.
    int status = 0;
    ShellOutput(std::string("useradd -M -r -s /usr/sbin/nologin ") + kName + " 2>&1", &status);
  }
  struct passwd* pw = ::getpwnam(kName);
  for (int wait = 0; pw == nullptr && wait < 20; ++wait) {
    ::usleep(100000);  // another test's useradd may still be writing it
    pw = ::getpwnam(kName);
  }
  if (pw == nullptr) {
    *why = "useradd could not create the user plomvarde-other";
    return false;
  }
  *uid = pw->pw_uid;
  *gid = pw->pw_gid;
  return true;
}

std::string AsUser(unsigned uid, unsigned gid, const std::string& cmd) {
  return "setpriv --reuid=" + std::to_string(uid) + " --regid=" + std::to_string(gid) +
         " --clear-groups sh -c " + ShellQuote(cmd);
}

std::string Shell(const std::string& cwd, const std::string& cmd, int* status) {
  return ShellOutput("cd " + ShellQuote(cwd) + " || exit 1; " + cmd, status);
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char ch : text) {
    if (ch == '\'') {
      out += "'\\''";
    } else {
      out.push_back(ch);
    }
  }
  return out + "'";
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
    ini +=
        "DB;Korvantis;\r\n" + std::to_string(++n) + ";" + key + ";" + EncipherValue(value) + "\r\n";
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
