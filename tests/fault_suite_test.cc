// The fault suite: the real program, run as an installer's night would go.
// Runs killed at random moments, a database on a full file system, links
// planted where temporary files are made, two working directories with the
// same relative download file. Each test prints its figures (trials and
// outcomes).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/cipher.h"
#include "tests/test_util.h"

namespace plom {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const std::string kTool = PLOM_BINARY_DIR "/plomvarde";
const std::string kSample = PLOM_BINARY_DIR "/plomvarde-sample";
constexpr char kOld[] = "OLD DOWNLOAD FILE\r\n";

// Built with AddressSanitizer every run is many times slower: fewer badges
// and trials keep the suite within its time there, and every path is still
// tried.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
constexpr int kBadges = kSanitized ? 1000 : 6000;
constexpr char kFile[] = "dl.dnl";

void WriteConfig(const std::string& path, const std::string& server) {
  test::WriteRunConfig(path, server);
}

// Starts the program in a working directory; its output goes to log.
pid_t Start(const std::string& cwd, const std::vector<std::string>& args, const std::string& log) {
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(126);
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(kTool.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(kTool.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// The exit status, or -signal.
int Wait(pid_t pid) {
  int st = 0;
  if (waitpid(pid, &st, 0) != pid) return -1000;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
}

int RunTool(const std::string& cwd, const std::vector<std::string>& args, const std::string& log) {
  return Wait(Start(cwd, args, log));
}

// Names in the directory that a run must not leave behind.
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> left;
  for (auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename();
    if (name.find(".tmp.") != std::string::npos || name.find(".lock") != std::string::npos)
      left.push_back(name);
  }
  return left;
}

// An installation laid out as at a site: files/korvantis.ini and the
// database two levels above the working directories.
class FaultSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::TempDir();
    files_ = root_ + "/files";
    work_ = root_ + "/run/a";
    fs::create_directories(files_);
    fs::create_directories(work_);
    db_ = files_ + "/plomvarde.db";
    std::string cmd =
        "'" + kSample + "' --badges " + std::to_string(kBadges) + " '" + db_ + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    WriteConfig(files_ + "/korvantis.ini", "sqlite:../../files/plomvarde.db");
  }

  std::string Log() { return root_ + "/log.txt"; }

  // The complete file of a run for the terminal, made once undisturbed.
  std::string Reference(const std::string& terminal) {
    std::string dir = root_ + "/ref-" + terminal + "/x";
    fs::create_directories(dir);
    EXPECT_EQ(RunTool(dir, {"VQDNL17P", terminal, kFile, "1"}, Log()), 0) << ReadFile(Log());
    return ReadFile(dir + "/" + kFile);
  }

  std::string root_, files_, work_, db_;
};

// Killed at random moments, replacing or appending: the file is the old one
// or the complete new one, and the next run succeeds and tidies up.
TEST_F(FaultSuite, KilledRunsLeaveTheOldOrTheCompleteFile) {
  std::string ref = Reference("TERM12");
  ASSERT_GT(ref.size(), 85u * 200);
  std::string path = work_ + "/" + kFile;
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(RunTool(work_, {"VQDNL17P", "TERM12", kFile, "1"}, Log()), 0);
  auto run_us =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  std::mt19937 rng(20261210);
  std::uniform_int_distribution<long> when(0, run_us * 5 / 4);
  std::map<std::string, int> outcomes;
  const int kTrials = kSanitized ? 10 : 40;
  for (int i = 0; i < kTrials; ++i) {
    bool append = i % 2 == 1;
    WriteFile(path, kOld);
    pid_t pid = Start(work_, {"VQDNL17P", "TERM12", kFile, append ? "0" : "1"}, Log());
    std::this_thread::sleep_for(std::chrono::microseconds(when(rng)));
    kill(pid, SIGKILL);
    int status = Wait(pid);
    std::string got = ReadFile(path);
    std::string complete = append ? kOld + ref : ref;
    bool old = got == kOld, whole = got == complete;
    EXPECT_TRUE(old || whole) << "trial " << i << ": " << got.size() << " bytes";
    std::string outcome = status == -SIGKILL ? (old ? "killed, old file" : "killed, new file")
                                             : "finished before the kill";
    ++outcomes[outcome];
    // The next run for the file succeeds and leaves nothing behind.
    ASSERT_EQ(RunTool(work_, {"VQDNL17P", "TERM12", kFile, append ? "0" : "1"}, Log()), 0)
        << ReadFile(Log());
    EXPECT_EQ(ReadFile(path), append ? got + ref : ref);
    EXPECT_EQ(Leftovers(work_), std::vector<std::string>{});
  }
  std::cout << "[ figures  ] " << kTrials << " kills within " << run_us * 5 / 4 << " us of a run:";
  for (auto& [what, n] : outcomes) std::cout << " " << what << " " << n << ";";
  std::cout << std::endl;
}

// Links planted at every temporary name the old scheme would use, for the
// next process numbers: none is followed.
TEST_F(FaultSuite, PlantedLinksAreNeverFollowed) {
  std::string ref = Reference("TERM12");
  std::string victim = root_ + "/victim";
  WriteFile(victim, "precious");
  std::string path = work_ + "/" + kFile;
  int planted = 0;
  int next_pid = std::atoi(ReadFile("/proc/sys/kernel/ns_last_pid").c_str());
  for (int p = next_pid; p < next_pid + 300; ++p) {
    std::string name = path + ".tmp." + std::to_string(p);
    if (symlink(victim.c_str(), name.c_str()) == 0) ++planted;
  }
  WriteFile(path, kOld);
  EXPECT_EQ(RunTool(work_, {"VQDNL17P", "TERM12", kFile, "1"}, Log()), 0);
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_EQ(ReadFile(path), ref);
  EXPECT_FALSE(fs::is_symlink(path));
  // A dangling link planted as the lock file: refused, its target never made.
  std::string made = root_ + "/made-by-run";
  fs::remove(path + ".lock");
  ASSERT_EQ(symlink(made.c_str(), (path + ".lock").c_str()), 0);
  EXPECT_EQ(RunTool(work_, {"VQDNL17P", "TERM12", kFile, "1"}, Log()), 75);
  EXPECT_FALSE(fs::exists(made));
  EXPECT_EQ(ReadFile(path), ref);
  std::cout << "[ figures  ] " << planted << " links planted; victim untouched, lock link refused"
            << std::endl;
}

// Two working directories, one relative download file name: runs at the
// same time for two terminals each write their own complete file.
TEST_F(FaultSuite, TwoWorkingDirectoriesSameRelativeFile) {
  std::string ref12 = Reference("TERM12"), ref03 = Reference("TERM03");
  ASSERT_NE(ref12, ref03);
  std::string other = root_ + "/run/b";
  fs::create_directories(other);
  const int kTrials = kSanitized ? 3 : 8;
  int both_ok = 0;
  for (int i = 0; i < kTrials; ++i) {
    WriteFile(work_ + "/" + kFile, kOld);
    WriteFile(other + "/" + kFile, kOld);
    pid_t a = Start(work_, {"VQDNL17P", "TERM12", kFile, "1"}, root_ + "/a.txt");
    if (i % 2) std::this_thread::sleep_for(std::chrono::milliseconds(3 * i));
    pid_t b = Start(other, {"VQDNL17P", "TERM03", kFile, "1"}, root_ + "/b.txt");
    int sa = Wait(a), sb = Wait(b);
    EXPECT_EQ(sa, 0) << ReadFile(root_ + "/a.txt");
    EXPECT_EQ(sb, 0) << ReadFile(root_ + "/b.txt");
    bool ok_a = ReadFile(work_ + "/" + kFile) == ref12,
         ok_b = ReadFile(other + "/" + kFile) == ref03;
    EXPECT_TRUE(ok_a) << "trial " << i;
    EXPECT_TRUE(ok_b) << "trial " << i;
    if (sa == 0 && sb == 0 && ok_a && ok_b) ++both_ok;
  }
  std::cout << "[ figures  ] " << kTrials << " pairs of runs at once: " << both_ok
            << " with both files complete and correct" << std::endl;
}

// A small file system of its own, mounted for the test where the host
// allows it.
class SmallFs {
 public:
  SmallFs(const std::string& dir, size_t bytes) : dir_(dir) {
    fs::create_directories(dir);
    std::string opts = "size=" + std::to_string(bytes);
    mounted_ = mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) == 0;
    if (!mounted_) why_ = std::strerror(errno);
  }
  ~SmallFs() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  std::string dir_;
  bool mounted_ = false;
  std::string why_;
};

// Fills the file system with a ballast file until only `left` bytes are
// free (as near as its blocks allow).
void FillUpTo(const std::string& dir, size_t left) {
  int fd = open((dir + "/ballast").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  std::string block(4096, 'b');
  for (;;) {
    fs::space_info s = fs::space(dir);
    if (s.available <= left) break;
    size_t n = std::min<size_t>(block.size(), s.available - left);
    if (write(fd, block.data(), n) <= 0) break;
  }
  close(fd);
}

// The database on a full file system, full at many different moments of
// the run: never status 0 with a line missing; a status other than 0 and 1
// leaves the old file; status 1 names every missing line.
TEST_F(FaultSuite, FullFileSystemNeverYieldsAMissingLine) {
  std::string ref = Reference("TERM12");
  std::string mnt = root_ + "/small";
  size_t db_size = fs::file_size(db_);
  SmallFs small(mnt, db_size * 3);
  if (!small.mounted()) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << small.why()
                 << "); the full file system case is not tried";
  }
  std::string path = work_ + "/" + kFile;
  std::map<std::string, int> outcomes;
  const size_t free_bytes[] = {0,      4096,   16384,  32768,  65536,   98304,   131072,  196608,
                               262144, 393216, 524288, 786432, 1048576, 1572864, 2097152, 4194304};
  int runs = 0;
  for (size_t i = 0; i < std::size(free_bytes); i += kSanitized ? 3 : 1) {
    size_t left = free_bytes[i];
    SCOPED_TRACE(left);
    ++runs;
    for (auto& e : fs::directory_iterator(mnt)) fs::remove(e.path());
    fs::copy_file(db_, mnt + "/p.db");
    WriteConfig(files_ + "/korvantis.ini", "sqlite:" + mnt + "/p.db");
    FillUpTo(mnt, left);
    WriteFile(path, kOld);
    int status = RunTool(work_, {"VQDNL17P", "TERM12", kFile, "1"}, Log());
    std::string got = ReadFile(path), out = ReadFile(Log());
    if (status == 0) {
      EXPECT_EQ(got, ref);
      ++outcomes[got == ref ? "0 complete" : "0 WRONG"];
    } else if (status == 1) {
      size_t said = 0;
      for (size_t at = 0; (at = out.find("Insert-Error", at)) != std::string::npos; ++at) ++said;
      EXPECT_EQ(ref.size() - got.size(), said * 85) << out;
      ++outcomes["1 missing lines named"];
    } else {
      EXPECT_EQ(got, kOld) << "status " << status;
      ++outcomes[std::to_string(status) + " old file kept"];
      // The cause is named, not the rollback that failed after it.
      EXPECT_EQ(out.find("no transaction is active"), std::string::npos) << out;
      if (out.find("database or disk is full") != std::string::npos) ++outcomes["cause named"];
      if (out.find("loeschen!") != std::string::npos) {
        EXPECT_NE(out.find("database or disk is full"), std::string::npos) << out;
      }
    }
  }
  // The download file itself on the full file system: its reason is given.
  for (auto& e : fs::directory_iterator(mnt)) fs::remove(e.path());
  WriteConfig(files_ + "/korvantis.ini", "sqlite:../../files/plomvarde.db");
  std::string on_full = mnt + "/" + kFile;
  WriteFile(on_full, kOld);
  FillUpTo(mnt, 0);
  int status = RunTool(work_, {"VQDNL17P", "TERM12", on_full, "1"}, Log());
  std::string out = ReadFile(Log());
  EXPECT_EQ(status, 73) << out;
  EXPECT_NE(out.find("Donwloadfile " + on_full +
                     " konnte nicht geoeffnet werden!\n"
                     "No space left on device\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(ReadFile(on_full), kOld);
  EXPECT_EQ(Leftovers(mnt), std::vector<std::string>{});
  fs::remove(mnt + "/ballast");

  std::cout << "[ figures  ] " << runs << " runs with the database full:";
  for (auto& [what, n] : outcomes) std::cout << " " << what << " " << n << ";";
  std::cout << " download file on a full file system: status " << status << std::endl;
}

}  // namespace
}  // namespace plom
