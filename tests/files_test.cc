// The host's file system as the tool uses it: bytes written and read as
// they are, names with umlauts, appends that land whole, the lock between
// runs, and the configuration path relative to the working directory.
// These suites run on every host (on Windows under Wine).
#include "platform/files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "config/cipher.h"
#include "config/config_file.h"
#include "driver/run.h"
#include "tests/test_util.h"

namespace plom {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  FilesTest() : dir_(test::TempDir()) {}
  ~FilesTest() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  int Entries() {
    int n = 0;
    for (auto& e : fs::directory_iterator(dir_)) {
      (void)e;
      ++n;
    }
    return n;
  }
  std::string dir_;
};

// Line ends, a NUL and the byte that ends a text-mode read on Windows
// (0x1A) pass unchanged both ways.
const std::string kAwkwardBytes = std::string(
    "a\nb\r\nc\rd\x1a"
    "e\0f\xE4\xFF",
    14);

TEST_F(FilesTest, BytesAreWrittenAndReadAsTheyAre) {
  const std::string path = dir_ + "/bytes.dnl";
  ASSERT_TRUE(ReplaceFile(path, kAwkwardBytes));
  EXPECT_EQ(test::ReadFile(path), kAwkwardBytes);
  std::string read;
  ASSERT_TRUE(ReadWholeFile(path, &read));
  EXPECT_EQ(read, kAwkwardBytes);
  ASSERT_TRUE(AppendFile(path, "\n\x1a"));
  ASSERT_TRUE(ReadWholeFile(path, &read));
  EXPECT_EQ(read, kAwkwardBytes + "\n\x1a");
  ASSERT_TRUE(ReplaceFile(path, "\r\n", FileAccess::kOwnerOnly));
  EXPECT_EQ(test::ReadFile(path), "\r\n");
  EXPECT_EQ(Entries(), 1);  // no temporary file left
}

// A failed replace says why, leaves no temporary file and keeps the old one.
TEST_F(FilesTest, FailedReplaceTellsTheReason) {
  errno = 0;
  EXPECT_FALSE(ReplaceFile(dir_ + "/no/such/folder/x.dnl", "x"));
  EXPECT_EQ(errno, ENOENT);
  fs::create_directory(dir_ + "/taken");
  errno = 0;
  EXPECT_FALSE(ReplaceFile(dir_ + "/taken", "x", FileAccess::kOwnerOnly));
  EXPECT_NE(errno, 0);
  EXPECT_TRUE(fs::is_directory(dir_ + "/taken"));
  EXPECT_EQ(Entries(), 1);
}

TEST_F(FilesTest, ReadOfAMissingFileFails) {
  std::string read = "untouched?";
  EXPECT_FALSE(ReadWholeFile(dir_ + "/missing.ini", &read));
  ASSERT_TRUE(ReplaceFile(dir_ + "/empty", ""));
  EXPECT_TRUE(ReadWholeFile(dir_ + "/empty", &read));
  EXPECT_EQ(read, "");
}

// A path is a Windows-1252 byte string: "M\xE4rz" is "März" wherever the
// tool runs, and the same bytes name the same file.
TEST_F(FilesTest, NamesWithUmlautsNameOneFile) {
  const std::string path = dir_ +
                           "/M\xE4rz \xDC"
                           "bersicht.dnl";
  ASSERT_TRUE(ReplaceFile(path, "first"));
  ASSERT_TRUE(AppendFile(path, "+more"));
  std::string read;
  ASSERT_TRUE(ReadWholeFile(path, &read));
  EXPECT_EQ(read, "first+more");
  {
    PathLock lock(path, 0);
    EXPECT_EQ(lock.state(), PathLock::State::kHeld);
    EXPECT_EQ(PathLock(path, 0).state(), PathLock::State::kBusy);
  }
  EXPECT_EQ(Entries(), 1);  // the download file; lock file and temporary gone
  ASSERT_TRUE(ReplaceFile(path, "new"));
  ASSERT_TRUE(ReadWholeFile(path, &read));
  EXPECT_EQ(read, "new");
}

// Appends of many writers at once, each holding the path's lock as runs do,
// each land whole, one after the other.
TEST_F(FilesTest, AppendsOfConcurrentWritersLandWhole) {
  const std::string path = dir_ + "/shared.dnl";
  constexpr int kWriters = 6, kEach = 40, kBlock = 300;
  std::vector<std::thread> writers;
  std::atomic<int> failed{0};
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kEach; ++i) {
        PathLock lock(path, 60000);
        if (lock.state() != PathLock::State::kHeld ||
            !AppendFile(path, std::string(kBlock, static_cast<char>('A' + w)))) {
          ++failed;
        }
      }
    });
  }
  for (auto& t : writers) t.join();
  EXPECT_EQ(failed, 0);
  std::string data = test::ReadFile(path);
  ASSERT_EQ(data.size(), static_cast<size_t>(kWriters * kEach * kBlock));
  for (size_t at = 0; at < data.size(); at += kBlock) {
    EXPECT_EQ(data.substr(at, kBlock), std::string(kBlock, data[at])) << "block at " << at;
  }
}

// What killed runs left behind beside the download file is removed; files
// of other names stay.
TEST_F(FilesTest, LeftTemporariesOfThePathAreRemoved) {
  const std::string path = dir_ + "/t.dnl";
  ASSERT_TRUE(ReplaceFile(path, "file"));
  ASSERT_TRUE(ReplaceFile(path + ".tmp.Ab3xY9", "left"));
  ASSERT_TRUE(ReplaceFile(path + ".tmp.000000", "left"));
  const char* kept[] = {".tmp.1234", ".tmp.ABCDEFG", ".tmpx12345", ".tmp.AB-DEF", ".lock"};
  for (const char* k : kept) ASSERT_TRUE(ReplaceFile(path + k, "mine"));
  ASSERT_TRUE(ReplaceFile(dir_ + "/other.dnl.tmp.ABCDEF", "other file's"));
  EXPECT_EQ(RemoveLeftTemporaries(path), 2);
  std::string read;
  ASSERT_TRUE(ReadWholeFile(path, &read));
  EXPECT_EQ(read, "file");
  for (const char* k : kept) EXPECT_TRUE(ReadWholeFile(path + k, &read)) << k;
  EXPECT_TRUE(ReadWholeFile(dir_ + "/other.dnl.tmp.ABCDEF", &read));
  EXPECT_FALSE(ReadWholeFile(path + ".tmp.Ab3xY9", &read));
  EXPECT_EQ(RemoveLeftTemporaries(path), 0);
}

// A write-out that fails tells why, in the system's words.
TEST_F(FilesTest, FailedWriteOutTellsWhy) {
  WriteResult r = ReplaceFile(dir_ + "/no/such/folder/x.dnl", "x");
  EXPECT_EQ(r.status, WriteResult::Status::kCannotOpen);
  EXPECT_FALSE(r.reason.empty());
  r = AppendFile(dir_ + "/no/such/folder/x.dnl", "x");
  EXPECT_FALSE(r.ok());
  EXPECT_FALSE(r.reason.empty());
}

// The collation module is named by the environment or lies beside the
// program.
TEST(CollationModule, NamedBesideTheProgram) {
  std::string module = CollationModulePath();
  auto ends = [&](const std::string& tail) {
    return module.size() > tail.size() &&
           module.compare(module.size() - tail.size(), tail.size(), tail) == 0;
  };
  EXPECT_TRUE(ends("/libplomvarde-collation.so") || ends("\\plomvarde-collation.dll") ||
              std::getenv("PLOMVARDE_COLLATION_MODULE") != nullptr)
      << module;
}

// Replacing never shows a reader a partial file: each read sees one of the
// whole versions. (Windows refuses to rename over a file while it is open:
// the replace tries again, so the reader pauses between its reads.)
TEST_F(FilesTest, ReaderSeesTheOldOrTheNewFileWhole) {
  const std::string path = dir_ + "/swap.dnl";
  const std::string a(200000, 'a'), b(100000, 'b');
  ASSERT_TRUE(ReplaceFile(path, a));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0}, reads{0};
  std::thread reader([&] {
    while (!done) {
      std::string got;
      if (!ReadWholeFile(path, &got)) continue;  // Windows: the rename may be under way
      ++reads;
      if (got != a && got != b) ++torn;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  int failed = 0;
  for (int i = 0; i < 60; ++i) failed += ReplaceFile(path, i % 2 ? a : b) ? 0 : 1;
  done = true;
  reader.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(torn, 0);
  EXPECT_GT(reads, 0);
}

TEST_F(FilesTest, LockWaitsForItsHolderAndNoLonger) {
  const std::string path = dir_ + "/t.dnl";
  auto holder = std::make_unique<PathLock>(path, 0);
  ASSERT_EQ(holder->state(), PathLock::State::kHeld);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PathLock(path, 300).state(), PathLock::State::kBusy);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(300));
  EXPECT_LT(waited, std::chrono::milliseconds(3000));

  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    holder.reset();
  });
  start = std::chrono::steady_clock::now();
  PathLock waiter(path, 10000);
  waited = std::chrono::steady_clock::now() - start;
  release.join();
  EXPECT_EQ(waiter.state(), PathLock::State::kHeld);
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_TRUE(fs::exists(path + ".lock"));  // the waiter's own lock file
}

// A run for a download file that another run holds ends with 75, before it
// reads the configuration or touches the file.
TEST_F(FilesTest, RunOnAHeldDownloadFileExits75) {
  const std::string path = dir_ + "/out.dnl";
  ASSERT_TRUE(ReplaceFile(path, "old"));
  PathLock held(path, 0);
  ASSERT_EQ(held.state(), PathLock::State::kHeld);
  test::Capture out;
  Messages msg(out.file());
  RunOptions opt = DefaultRunOptions();
  opt.config_path = dir_ + "/missing.ini";
  opt.lock_wait_ms = 200;
  EXPECT_EQ(RunTool({"vqdnl60p", "TERM03", path, "1"}, msg, opt), kExitLocked);
  msg.Flush();
  // Said once when the wait begins (with the holder where the host names
  // it), and again when it ends.
  const std::string text = out.Text();
  const std::string waiting = "Downloadfile " + path + " wird von einem anderen Lauf erstellt";
  EXPECT_EQ(text.rfind(waiting, 0), 0u) << text;
  EXPECT_NE(text.find(", warte bis zu 1 s\n" + waiting + "!\n"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.find('\n') + 1), waiting + "!\n");
  EXPECT_EQ(test::ReadFile(path), "old");
}

// The configuration path as the tool writes it, with backslashes, is found
// from a working directory two levels below the folder "files".
TEST_F(FilesTest, ConfigurationPathIsRelativeToTheWorkingDirectory) {
  fs::create_directories(dir_ + "/files");
  fs::create_directories(dir_ + "/run/terminal");
  ASSERT_TRUE(ReplaceFile(dir_ + "/files/korvantis.ini",
                          "DB;Korvantis;\r\n1;LOGIN;" + EncipherValue("sa") + "\r\n"));
  const fs::path old = fs::current_path();
  fs::current_path(dir_ + "/run/terminal");
  ConfigEntry found = ConfigLookup("", "LOGIN", 0, DefaultRunOptions().config_path);
  ConfigEntry from_top = ConfigLookup("", "LOGIN", 0, HostPath("files\\korvantis.ini"));
  fs::current_path(old);
  EXPECT_EQ(found.value, "sa");
  EXPECT_EQ(found.number, 1);
  EXPECT_EQ(from_top.value, "");  // no such file below run/terminal
}

}  // namespace
}  // namespace plom
