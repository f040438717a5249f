// Write-out of the download file: blank filling, line ends, atomic replace,
// append, and the lock of a download file path.
#include "driver/download_file.h"
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "tests/test_util.h"

namespace plom {
namespace {

TEST(DownloadFile, RenderFillsToWidthAndWritesCrLf) {
  struct Case {
    std::vector<std::string> lines;
    int width;
    std::string want;
  };
  const Case cases[] = {
      {{"abc", "", "abcde"}, 5, "abc       abcde"},
      {{"toolong"}, 5, "toolong"},           // a longer line is written whole
      {{"\"1\",\"2\"\n", "x\n"}, 0, "\"1\",\"2\"\r\nx\r\n"},
      {{"a\nb"}, 4, "a\r\nb "},               // a line feed inside a line becomes CR LF
      {{}, 85, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(RenderDownload(c.lines, c.width), c.want);
}

TEST(DownloadFile, ReplaceIsAtomicAndAppendAppends) {
  std::string dir = test::TempDir();
  std::string path = dir + "/t.dnl";
  ASSERT_TRUE(ReplaceFile(path, "first"));
  EXPECT_EQ(test::ReadFile(path), "first");
  ASSERT_TRUE(AppendFile(path, "+more"));
  EXPECT_EQ(test::ReadFile(path), "first+more");
  ASSERT_TRUE(ReplaceFile(path, "new"));
  EXPECT_EQ(test::ReadFile(path), "new");
  ASSERT_TRUE(AppendFile(dir + "/fresh.dnl", "x"));
  EXPECT_EQ(test::ReadFile(dir + "/fresh.dnl"), "x");
  // No temporary file is left behind.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir)) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 2);
  // A directory that does not exist: both fail and create nothing.
  EXPECT_FALSE(ReplaceFile(dir + "/missing/t.dnl", "x"));
  EXPECT_FALSE(AppendFile(dir + "/missing/t.dnl", "x"));
  // A target that cannot be replaced keeps its content.
  std::filesystem::create_directory(dir + "/sub");
  EXPECT_FALSE(ReplaceFile(dir + "/sub", "x"));
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/sub"));
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

// A waiter that got the lock of a lock file the holder removed meanwhile
// does not count it: it locks the file the path names now.
TEST(DownloadFile, LockOfARemovedFileIsNotHeld) {
  std::string dir = test::TempDir();
  std::string path = dir + "/t.dnl";
  auto first = std::make_unique<PathLock>(path, 0);
  ASSERT_EQ(first->state(), PathLock::State::kHeld);
  std::thread waiter([&] {
    PathLock second(path, 5000);
    EXPECT_EQ(second.state(), PathLock::State::kHeld);
    PathLock third(path, 0);  // while the second holds it, nobody else does
    EXPECT_EQ(third.state(), PathLock::State::kBusy);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  first.reset();
  waiter.join();
}

TEST(DownloadFile, LockKeepsASecondRunOut) {
  std::string dir = test::TempDir();
  std::string path = dir + "/t.dnl";
  {
    PathLock first(path, 0);
    EXPECT_EQ(first.state(), PathLock::State::kHeld);
    PathLock second(path, 100);
    EXPECT_EQ(second.state(), PathLock::State::kBusy);
    PathLock other(dir + "/other.dnl", 0);  // another path is independent
    EXPECT_EQ(other.state(), PathLock::State::kHeld);
  }
  EXPECT_FALSE(std::filesystem::exists(path + ".lock"));  // removed when released
  PathLock again(path, 0);
  EXPECT_EQ(again.state(), PathLock::State::kHeld);
  PathLock nowhere(dir + "/missing/t.dnl", 0);
  EXPECT_EQ(nowhere.state(), PathLock::State::kNoDirectory);
}

}  // namespace
}  // namespace plom

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

TEST(KeyLocks, EqualKeysExcludeEachOther) {
  std::string file = test::TempDir() + "/db-applock";
  auto first = std::make_unique<KeyLock>(file, "Zrt999Tmp dl.dnl", 0);
  ASSERT_EQ(first->state(), KeyLock::State::kHeld);
  EXPECT_EQ(KeyLock(file, "Zrt999Tmp dl.dnl", 100).state(), KeyLock::State::kBusy);
  EXPECT_EQ(KeyLock(file, "Zrt999Tmp other.dnl", 0).state(), KeyLock::State::kHeld);
  // Another lock file is another database.
  EXPECT_EQ(KeyLock(file + "2", "Zrt999Tmp dl.dnl", 0).state(), KeyLock::State::kHeld);
  std::thread waiter([&] {
    KeyLock later(file, "Zrt999Tmp dl.dnl", 5000);
    EXPECT_EQ(later.state(), KeyLock::State::kHeld);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  first.reset();
  waiter.join();
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
