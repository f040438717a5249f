// What only POSIX hosts do with the tool's paths and files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "config/config_file.h"
#include "platform/files.h"
#include "tests/test_util.h"

namespace plom {
namespace {

TEST(PosixFiles, HostPathTurnsBackslashesIntoSlashes) {
  EXPECT_EQ(HostPath(kConfigPath), "../../files/korvantis.ini");
  EXPECT_EQ(HostPath("a/b"), "a/b");
  EXPECT_EQ(HostPath("\\\\server\\share\\M\xE4rz"), "//server/share/M\xE4rz");
}

// A file only its owner may read stays so, also when it replaces a file
// others could read and when a temporary file of the same name is left over.
TEST(DownloadFile, OwnerOnlyFileIsNotReadableByOthers) {
  std::string dir = test::TempDir();
  std::string path = dir + "/plom.ini";
  ASSERT_TRUE(ReplaceFile(path, "shared"));
  test::WriteFile(path + ".tmp." + std::to_string(::getpid()), "old");
  ::chmod((path + ".tmp." + std::to_string(::getpid())).c_str(), 0666);
  ASSERT_TRUE(ReplaceFile(path, "secret", FileAccess::kOwnerOnly));
  EXPECT_EQ(test::ReadFile(path), "secret");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace plom
