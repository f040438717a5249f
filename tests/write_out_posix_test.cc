// The write-out of the download file and its locks on POSIX hosts: links,
// permissions, owners, devices, left temporaries, unusable lock files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/files.h"
#include "tests/test_util.h"

namespace plom {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

int CountEntries(const std::string& dir) {
  int n = 0;
  for (auto& e : fs::directory_iterator(dir)) {
    (void)e;
    ++n;
  }
  return n;
}

// A link as the download file: the file it leads to is replaced (or
// appended to), the link stays a link, no temporary is left anywhere.
TEST(WriteOut, ThroughALinkTheTargetIsReplaced) {
  std::string dir = test::TempDir(), other = test::TempDir();
  std::string target = other + "/real.dnl", link = dir + "/t.dnl";
  test::WriteFile(target, "old");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ASSERT_TRUE(ReplaceFile(link, "new"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(test::ReadFile(target), "new");
  ASSERT_TRUE(AppendFile(link, "+more"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(test::ReadFile(target), "new+more");
  EXPECT_EQ(CountEntries(dir), 1);
  EXPECT_EQ(CountEntries(other), 1);
  // A relative link, and a link to a file that does not exist yet.
  ASSERT_EQ(symlink("sub/rel.dnl", (dir + "/rel").c_str()), 0);
  ASSERT_TRUE(fs::create_directory(dir + "/sub"));
  ASSERT_TRUE(ReplaceFile(dir + "/rel", "r"));
  EXPECT_TRUE(fs::is_symlink(dir + "/rel"));
  EXPECT_EQ(test::ReadFile(dir + "/sub/rel.dnl"), "r");
}

// The replaced file keeps its permissions, also when appending: a file
// only its owner may read never comes back readable by others.
TEST(WriteOut, PermissionsAreKept) {
  std::string dir = test::TempDir();
  for (mode_t mode : {0600, 0640, 0604, 0755}) {
    SCOPED_TRACE(mode);
    std::string path = dir + "/t" + std::to_string(mode) + ".dnl";
    test::WriteFile(path, "old");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    ASSERT_TRUE(ReplaceFile(path, "new"));
    EXPECT_EQ(ModeOf(path), mode);
    ASSERT_TRUE(AppendFile(path, "+"));
    EXPECT_EQ(ModeOf(path), mode);
    EXPECT_EQ(test::ReadFile(path), "new+");
  }
  // A new file gets what the host gives new files, not the temporary's 0600.
  mode_t mask = umask(022);
  umask(mask);
  ASSERT_TRUE(ReplaceFile(dir + "/fresh.dnl", "x"));
  EXPECT_EQ(ModeOf(dir + "/fresh.dnl"), 0666 & ~mask);
}

// Owner and group of the replaced file stay where the process may set
// them (as root here; elsewhere the test has nothing to check).
TEST(WriteOut, OwnerAndGroupAreKept) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another owner";
  std::string path = test::TempDir() + "/t.dnl";
  test::WriteFile(path, "old");
  ASSERT_EQ(chown(path.c_str(), 4321, 4322), 0);
  ASSERT_TRUE(ReplaceFile(path, "new"));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 4322u);
  ASSERT_TRUE(AppendFile(path, "+"));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
}

// Something other than a regular file is written in place.
TEST(WriteOut, DevicesAreWrittenInPlace) {
  std::string dir = test::TempDir();
  ASSERT_EQ(symlink("/dev/null", (dir + "/null.dnl").c_str()), 0);
  EXPECT_TRUE(ReplaceFile(dir + "/null.dnl", "x"));
  EXPECT_TRUE(AppendFile(dir + "/null.dnl", "x"));
  EXPECT_TRUE(fs::is_symlink(dir + "/null.dnl"));
  EXPECT_EQ(CountEntries(dir), 1);
  // A full device: opened, but the write fails with the system's reason.
  ASSERT_EQ(symlink("/dev/full", (dir + "/full.dnl").c_str()), 0);
  WriteResult r = ReplaceFile(dir + "/full.dnl", "x");
  EXPECT_EQ(r.status, WriteResult::Status::kFailed);
  EXPECT_EQ(r.reason, "No space left on device");
  // Nothing to write to: the reason says so.
  r = ReplaceFile(dir + "/missing/t.dnl", "x");
  EXPECT_EQ(r.status, WriteResult::Status::kCannotOpen);
  EXPECT_EQ(r.reason, "No such file or directory");
}

// Links planted where a temporary file would have been named in the past
// (FILE.tmp.<pid>) are never followed; the target stays as it was.
TEST(WriteOut, PlantedTemporaryLinksAreNotFollowed) {
  std::string dir = test::TempDir(), victim = test::TempDir() + "/victim";
  test::WriteFile(victim, "precious");
  std::string path = dir + "/t.dnl";
  pid_t me = getpid();
  for (pid_t p = me - 5; p <= me + 5; ++p) {
    ASSERT_EQ(symlink(victim.c_str(), (path + ".tmp." + std::to_string(p)).c_str()), 0);
  }
  ASSERT_TRUE(ReplaceFile(path, "download"));
  ASSERT_TRUE(AppendFile(path, "+"));
  EXPECT_EQ(test::ReadFile(victim), "precious");
  EXPECT_EQ(test::ReadFile(path), "download+");
  EXPECT_FALSE(fs::is_symlink(path));
}

// What killed runs left behind is removed, links without what they lead
// to; other files stay.
TEST(WriteOut, LeftTemporariesAreRemoved) {
  std::string dir = test::TempDir(), victim = test::TempDir() + "/victim";
  test::WriteFile(victim, "precious");
  std::string path = dir + "/t.dnl";
  test::WriteFile(path, "file");
  test::WriteFile(path + ".tmp.Ab3xY9", "left");
  test::WriteFile(path + ".tmp.000000", "left");
  ASSERT_EQ(symlink(victim.c_str(), (path + ".tmp.QQQQQQ").c_str()), 0);
  const char* kept[] = {".tmp.1234", ".tmp.ABCDEFG", ".tmpx12345", ".tmp.AB-DEF", ".lock"};
  for (const char* k : kept) test::WriteFile(path + k, "mine");
  test::WriteFile(dir + "/other.dnl.tmp.ABCDEF", "other file's");
  EXPECT_EQ(RemoveLeftTemporaries(path), 3);
  EXPECT_EQ(test::ReadFile(victim), "precious");
  EXPECT_EQ(test::ReadFile(path), "file");
  for (const char* k : kept) EXPECT_TRUE(fs::exists(path + k)) << k;
  EXPECT_TRUE(fs::exists(dir + "/other.dnl.tmp.ABCDEF"));
  EXPECT_EQ(RemoveLeftTemporaries(path), 0);
}

// A lock file that cannot be used refuses the lock; nothing is created
// through a planted link.
TEST(WriteOut, UnusableLockFiles) {
  std::string dir = test::TempDir();
  std::string path = dir + "/t.dnl";
  std::string target = dir + "/created-through-link";
  ASSERT_EQ(symlink(target.c_str(), (path + ".lock").c_str()), 0);
  {
    PathLock lock(path, 0);
    EXPECT_EQ(lock.state(), PathLock::State::kUnavailable);
    EXPECT_FALSE(lock.reason().empty());
  }
  EXPECT_FALSE(fs::exists(target));
  EXPECT_TRUE(fs::is_symlink(path + ".lock"));  // not removed either

  std::string dpath = dir + "/d.dnl";
  ASSERT_TRUE(fs::create_directory(dpath + ".lock"));
  EXPECT_EQ(PathLock(dpath, 0).state(), PathLock::State::kUnavailable);

  std::string fpath = dir + "/f.dnl";
  ASSERT_EQ(mkfifo((fpath + ".lock").c_str(), 0644), 0);
  PathLock fifo(fpath, 0);
  EXPECT_EQ(fifo.state(), PathLock::State::kUnavailable);
  EXPECT_EQ(fifo.reason(), "not a regular file");
}

// A new lock file takes the permissions of the file it is for; a lock file
// planted as a link is not used.
TEST(KeyLocks, PermissionsAndPlantedLinks) {
  std::string file = test::TempDir() + "/db-applock";
  // A new lock file takes the permissions of the file it is for.
  std::string db = test::TempDir() + "/shared.db";
  test::WriteFile(db, "");
  ASSERT_EQ(chmod(db.c_str(), 0664), 0);
  EXPECT_EQ(KeyLock(db + "-applock", "k", 0, db).state(), KeyLock::State::kHeld);
  EXPECT_EQ(ModeOf(db + "-applock"), 0664u);
  // A lock file planted as a link is not used.
  std::string link = test::TempDir() + "/link-applock";
  ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
  KeyLock planted(link, "k", 0);
  EXPECT_EQ(planted.state(), KeyLock::State::kUnavailable);
}

}  // namespace
}  // namespace plom
