// The file system on POSIX hosts.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace plom {

std::string HostPath(std::string_view windows_path) {
  std::string path(windows_path);
  for (char& ch : path) {
    if (ch == '\\') ch = '/';
  }
  return path;
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int CoreCount() {
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

namespace {

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool ReplaceFile(const std::string& path, const std::string& data, FileAccess access) {
  std::string tmp = path + ".tmp." + std::to_string(::getpid());
  mode_t mode = access == FileAccess::kOwnerOnly ? 0600 : 0644;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  // A file left behind by an earlier process of the same id keeps its mode.
  bool ok = access != FileAccess::kOwnerOnly || ::fchmod(fd, mode) == 0;
  ok = ok && WriteAll(fd, data) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    int reason = errno;
    ::unlink(tmp.c_str());
    errno = reason;
  }
  return ok;
}

bool ReadWholeFile(const std::string& path, std::string* data) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  data->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return n == 0;
    }
    data->append(buf, static_cast<size_t>(n));
  }
}

void KeepStandardOutputBytes() {}  // POSIX streams never translate

bool AppendFile(const std::string& path, const std::string& data) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  return (::close(fd) == 0) && ok;
}

namespace {

// Whether the open file is still the one the path names (a run that ends
// removes the lock file; a waiter may hold the removed one).
bool StillNamed(int fd, const std::string& path) {
  struct stat open_file, named;
  return ::fstat(fd, &open_file) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

}  // namespace

PathLock::PathLock(const std::string& path, int wait_ms) : lock_path_(path + ".lock") {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    if (fd_ < 0) fd_ = ::open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      state_ = State::kUnavailable;
      return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      if (StillNamed(fd_, lock_path_)) {
        state_ = State::kHeld;
        return;
      }
      ::close(fd_);  // the file was removed meanwhile: lock the new one
      fd_ = -1;
      continue;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      state_ = State::kUnavailable;
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      state_ = State::kBusy;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

PathLock::~PathLock() {
  if (fd_ < 0) return;
  if (state_ == State::kHeld) ::unlink(lock_path_.c_str());  // removed while still held
  ::close(fd_);  // releases the lock
}

}  // namespace plom
