// The plomvarde-ini program, run as a child process.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "config/cipher.h"
#include "config/config_file.h"
#include "tests/test_util.h"

namespace plom {
namespace {

using test::IniEntry;

class ConfigToolTest : public ::testing::Test {
 protected:
  ConfigToolTest() : dir_(test::TempDir()), path_(dir_ + "/korvantis.ini") {}
  ~ConfigToolTest() override { std::filesystem::remove_all(dir_); }

  // The run driver's lookup: empty group, number 0.
  ConfigEntry Driver(const std::string& key) { return ConfigLookup("", key, 0, path_); }

  int Run(const std::string& args, std::string* out = nullptr) {
    const std::string cmd =
        std::string(PLOM_BINARY_DIR) + "/plomvarde-ini " + args + " 2>/dev/null";
    int status;
    const std::string text = test::ShellOutput(cmd, &status);
    if (out) *out = text;
    return status;
  }

  std::string dir_, path_;
};

TEST_F(ConfigToolTest, WriteThenRead) {
  ASSERT_EQ(Run("write " + path_ + " LOGIN=sa PASS=g3h3im 'SQLSERVER=' NET8=srv SCHEMA=ZrSystem."),
            0);
  EXPECT_EQ(Driver("LOGIN").value, "sa");
  EXPECT_EQ(Driver("PASS").value, "g3h3im");
  EXPECT_EQ(Driver("SQLSERVER").value, "");
  EXPECT_EQ(Driver("NET8").value, "srv");
  EXPECT_EQ(Driver("SCHEMA").number, 5);
  const std::string text = test::ReadFile(path_);
  EXPECT_EQ(text.substr(0, 8), "DB;Korva");
  EXPECT_NE(text.find(";\r\n2;PASS;"), std::string::npos);

  std::string out;
  EXPECT_EQ(Run("show " + path_, &out), 0);
  EXPECT_NE(out.find("2\tKorvantis\tPASS\t***\n"), std::string::npos) << out;
  EXPECT_NE(out.find("1\tKorvantis\tLOGIN\tsa\n"), std::string::npos) << out;
  EXPECT_EQ(Run("show " + path_ + " --show-password", &out), 0);
  EXPECT_NE(out.find("\tPASS\tg3h3im\n"), std::string::npos) << out;
}

TEST_F(ConfigToolTest, ShowWarnsAboutEntriesWithoutGroupOrNumber) {
  const std::string cmd_base = std::string(PLOM_BINARY_DIR) + "/plomvarde-ini show ";
  auto warnings = [&]() {
    int status;
    return test::ShellOutput(cmd_base + path_ + " 2>&1 >/dev/null", &status);
  };
  test::WriteFile(path_, IniEntry("G", 1, "LOGIN", "sa") + IniEntry("G", 2, "PASS", "pw"));
  EXPECT_EQ(warnings(), "");
  test::WriteFile(path_, IniEntry("G", 1, "LOGIN", "sa") + "\n3;SCHEMA;" + EncipherValue("x") +
                             "\n" + "DB;G;\n0;PASS;" + EncipherValue("y") + "\n");
  const std::string text = warnings();
  EXPECT_NE(text.find("warning: entry with key SCHEMA has an empty group or number 0"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("warning: entry with key PASS has an empty group or number 0"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("key LOGIN"), std::string::npos) << text;
}

TEST_F(ConfigToolTest, RefusalsAndUsage) {
  EXPECT_EQ(Run("write " + path_ + " PASS=" + std::string(41, 'x')), 2);
  EXPECT_FALSE(std::filesystem::exists(path_));
  EXPECT_EQ(Run("write " + path_ + " PASS=" + std::string(40, 'x')), 0);
  EXPECT_EQ(Driver("PASS").value, std::string(40, 'x'));
  EXPECT_EQ(Run("write " + path_ + " PASS=1 PASS=2"), 64);
  EXPECT_EQ(Driver("PASS").value, std::string(40, 'x'));  // left as it was
  EXPECT_EQ(Run("show " + dir_ + "/missing.ini"), 1);
  for (const char* args :
       {"", "bogus", "write ", "show", "show a b", "encipher", "write f novalue"}) {
    EXPECT_EQ(Run(args), 64) << args;
  }
  std::string out;
  EXPECT_EQ(Run("encipher geheim", &out), 0);
  EXPECT_EQ(out, EncipherValue("geheim") + "\n");
  EXPECT_EQ(Run("decipher " + EncipherValue("geheim"), &out), 0);
  EXPECT_EQ(out, "geheim\n");
}

TEST_F(ConfigToolTest, WrittenFileIsForItsOwnerAlone) {
  ASSERT_EQ(Run("write " + path_ + " PASS=geheim"), 0);
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace plom
