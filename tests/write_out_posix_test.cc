// The write-out of the download file and its locks on POSIX hosts: links,
// permissions, owners, devices, left temporaries, unusable lock files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/files.h"
#include "tests/shell.h"
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

// Lock files are owner-only; the database's lock file is shared with the
// database's group where that group may write the database. Another user's
// lock file is refused at once, naming its owner, and one planted as a link
// is not used.
TEST(KeyLocks, OwnerOnlyGroupSharedAndNeverAnotherUsers) {
  std::string dir = test::TempDir(), path = dir + "/t.dnl";
  {
    PathLock lock(path, 0);
    ASSERT_EQ(lock.state(), PathLock::State::kHeld);
    EXPECT_EQ(ModeOf(path + ".lock"), 0600u);
  }
  struct Case {
    mode_t db_mode, lock_mode;
  } cases[] = {{0644, 0600}, {0664, 0660}, {0666, 0660}, {0600, 0600}};
  for (const Case& c : cases) {
    std::string db = test::TempDir() + "/shared.db";
    test::WriteFile(db, "");
    ASSERT_EQ(chmod(db.c_str(), c.db_mode), 0);
    EXPECT_EQ(KeyLock(db + "-applock", "k", 0, db).state(), KeyLock::State::kHeld);
    EXPECT_EQ(ModeOf(db + "-applock"), c.lock_mode) << std::oct << c.db_mode;
  }
  std::string link = dir + "/link-applock";
  ASSERT_EQ(symlink((dir + "/elsewhere").c_str(), link.c_str()), 0);
  EXPECT_EQ(KeyLock(link, "k", 0).state(), KeyLock::State::kUnavailable);
  EXPECT_FALSE(fs::exists(dir + "/elsewhere"));

  unsigned uid = 0, gid = 0;
  std::string why;
  if (!test::OtherUser(&uid, &gid, &why)) GTEST_SKIP() << why;
  // Planted by another user: refused at once though the wait is long.
  std::string db = dir + "/mine.db";
  test::WriteFile(db, "");
  for (const std::string& lock_file : {path + ".lock", db + "-applock"}) {
    test::WriteFile(lock_file, "");
    ASSERT_EQ(chown(lock_file.c_str(), uid, gid), 0);
    ASSERT_EQ(chmod(lock_file.c_str(), 0666), 0);
  }
  auto start = std::chrono::steady_clock::now();
  PathLock foreign(path, 60000);
  KeyLock foreign_key(db + "-applock", "k", 60000, db);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(foreign.state(), PathLock::State::kUnavailable);
  EXPECT_EQ(foreign_key.state(), KeyLock::State::kUnavailable);
  for (const std::string& reason : {foreign.reason(), foreign_key.reason()}) {
    EXPECT_NE(reason.find("another user's file (owner plomvarde-other (uid " +
                          std::to_string(uid) + "))"),
              std::string::npos)
        << reason;
  }
  // The database's owner's lock file serves; so does one of the database's
  // group when the group may write the database, and nobody else may use it.
  ASSERT_EQ(chown(db.c_str(), uid, gid), 0);
  EXPECT_EQ(KeyLock(db + "-applock", "k", 0, db).state(), KeyLock::State::kHeld);
  ASSERT_EQ(chown(db.c_str(), 0, gid), 0);
  ASSERT_EQ(chmod(db.c_str(), 0664), 0);
  EXPECT_EQ(KeyLock(db + "-applock", "k", 0, db).state(), KeyLock::State::kUnavailable);
  ASSERT_EQ(chmod((db + "-applock").c_str(), 0660), 0);
  EXPECT_EQ(KeyLock(db + "-applock", "k", 0, db).state(), KeyLock::State::kHeld);
  // root made a new one the database owner's, and the other user of the
  // group cannot read one that is owner-only.
  ASSERT_EQ(unlink((db + "-applock").c_str()), 0);
  ASSERT_EQ(chmod(db.c_str(), 0644), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  ASSERT_EQ(chown(db.c_str(), uid, gid), 0);
  EXPECT_EQ(KeyLock(db + "-applock", "k", 0, db).state(), KeyLock::State::kHeld);
  struct stat st;
  ASSERT_EQ(stat((db + "-applock").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, uid);
  ASSERT_EQ(chown((db + "-applock").c_str(), 0, 0), 0);
  int status = 0;
  test::WriteFile(dir + "/readable", "");
  test::ShellOutput(test::AsUser(uid, gid, "exec 3<" + test::ShellQuote(dir + "/readable")),
                    &status);
  ASSERT_EQ(status, 0) << "the other user cannot reach " << dir;
  test::ShellOutput(test::AsUser(uid, gid, "exec 3<" + test::ShellQuote(db + "-applock")), &status);
  EXPECT_NE(status, 0) << "another user opened an owner-only lock file";
}

// A link as the download file is followed only where the system would
// follow it (as fs.protected_symlinks has it), whatever the host's setting.
TEST(WriteOut, LinksAreFollowedOnlyWhereTheSystemWould) {
  unsigned uid = 0, gid = 0;
  std::string why;
  if (!test::OtherUser(&uid, &gid, &why)) GTEST_SKIP() << why;
  struct Case {
    const char* what;
    mode_t dir_mode;
    bool dir_is_others, link_is_others, followed;
  } cases[] = {
      {"another user's link in a shared sticky directory", 01777, false, true, false},
      {"my own link there", 01777, false, false, true},
      {"the directory owner's link", 01777, true, true, true},
      {"another user's link, directory not sticky", 0777, false, true, true},
      {"another user's link, directory not world-writable", 01775, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string dir = test::TempDir() + "/shared", secret = test::TempDir() + "/secret";
    ASSERT_TRUE(fs::create_directory(dir));
    ASSERT_EQ(chmod(dir.c_str(), c.dir_mode), 0);
    if (c.dir_is_others) {
      ASSERT_EQ(chown(dir.c_str(), uid, gid), 0);
    }
    test::WriteFile(secret, "root's");
    std::string link = dir + "/t.dnl";
    ASSERT_EQ(symlink(secret.c_str(), link.c_str()), 0);
    if (c.link_is_others) {
      ASSERT_EQ(lchown(link.c_str(), uid, gid), 0);
    }

    WriteResult r = ReplaceFile(link, "new");
    std::string read;
    EXPECT_EQ(ReadWholeFile(link, &read), c.followed);
    EXPECT_EQ(RefusedPath(link).empty(), c.followed);
    if (c.followed) {
      EXPECT_TRUE(r.ok()) << r.reason;
      EXPECT_EQ(test::ReadFile(secret), "new");
      continue;
    }
    EXPECT_EQ(r.status, WriteResult::Status::kRefused);
    EXPECT_EQ(r.reason, "link " + link + " belongs to user plomvarde-other (uid " +
                            std::to_string(uid) +
                            ") in a sticky world-writable directory: not followed");
    EXPECT_EQ(AppendFile(link, "+").status, WriteResult::Status::kRefused);
    EXPECT_EQ(test::ReadFile(secret), "root's");
    EXPECT_TRUE(fs::is_symlink(link));
  }
}

// The tool's own files beside the download file are never written through a
// link nor into a pipe; nothing the tool opens for writing waits for a
// reader.
TEST(WriteOut, SideFilesAndPipesNeverBlockNorLeadElsewhere) {
  std::string dir = test::TempDir(), secret = test::TempDir() + "/secret";
  test::WriteFile(secret, "kept");
  ASSERT_EQ(symlink(secret.c_str(), (dir + "/link").c_str()), 0);
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0666), 0);
  ASSERT_EQ(link(secret.c_str(), (dir + "/hard").c_str()), 0);
  test::WriteFile(dir + "/plain", "old");

  auto start = std::chrono::steady_clock::now();
  struct Case {
    const char* name;
    bool side_ok, report_ok;
  } cases[] = {{"link", false, false}, {"fifo", false, false}, {"hard", true, false},
               {"plain", true, true}, {"missing", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir + "/" + c.name;
    std::string why;
    std::FILE* report = OpenSideFile(path, &why);
    EXPECT_EQ(report != nullptr, c.report_ok) << why;
    if (report != nullptr) {
      EXPECT_GE(std::fputs("report", report), 0);
      EXPECT_EQ(std::fclose(report), 0);
      EXPECT_EQ(test::ReadFile(path), std::string(c.name) == "plain" ? "oldreport" : "report");
    }
    WriteResult r = ReplaceSideFile(path, "side");
    EXPECT_EQ(r.ok(), c.side_ok) << r.reason;
    if (c.side_ok) {
      EXPECT_EQ(test::ReadFile(path), "side");
    }
    if (!c.side_ok) {
      EXPECT_EQ(r.status, WriteResult::Status::kRefused);
    }
  }
  EXPECT_EQ(test::ReadFile(secret), "kept");
  // The download file a pipe that nobody reads: refused at once.
  WriteResult pipe = ReplaceFile(dir + "/fifo", "x");
  EXPECT_EQ(pipe.status, WriteResult::Status::kRefused);
  EXPECT_EQ(pipe.reason, dir + "/fifo: no process reads this pipe");
  std::string content;
  EXPECT_FALSE(ReadWholeFile(dir + "/fifo", &content));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // With a reader it is written in place.
  int reader = open((dir + "/fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(ReplaceFile(dir + "/fifo", "through"));
  char buf[16] = {};
  EXPECT_EQ(read(reader, buf, sizeof buf), 7);
  close(reader);
}

}  // namespace
}  // namespace plom
