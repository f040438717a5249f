// Write-out of the download file: blank filling, line ends, atomic replace,
// append, and the lock of a download file path.
#include "driver/download_file.h"
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
      {{"toolong"}, 5, "toolong"},  // a longer line is written whole
      {{"\"1\",\"2\"\n", "x\n"}, 0, "\"1\",\"2\"\r\nx\r\n"},
      {{"a\nb"}, 4, "a\r\nb "},  // a line feed inside a line becomes CR LF
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
}

}  // namespace
}  // namespace plom
