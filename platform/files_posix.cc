// The file system on POSIX hosts.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <netdb.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/files.h"

namespace plom {

std::string HostPath(std::string_view windows_path) {
  std::string path(windows_path);
  for (char& ch : path) {
    if (ch == '\\') ch = '/';
  }
  return path;
}

std::string CollationModulePath() {
  const char* named = std::getenv("PLOMVARDE_COLLATION_MODULE");
  if (named != nullptr && *named != '\0') return named;
  std::string exe(PATH_MAX, '\0');
  ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
  exe.resize(n > 0 ? static_cast<size_t>(n) : 0);
  size_t slash = exe.rfind('/');
  std::string dir = slash == std::string::npos ? "." : exe.substr(0, slash);
  return dir + "/libplomvarde-collation.so";
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int CoreCount() {
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

std::vector<intptr_t> OpenSockets() {
  std::vector<intptr_t> out;
  // Where the system lists a process's descriptors (Linux), only those are
  // looked at; elsewhere every possible one.
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(d)) {
      if (!std::isdigit(static_cast<unsigned char>(e->d_name[0]))) continue;
      int fd = std::atoi(e->d_name);
      struct stat st;
      if (fd != ::dirfd(d) && ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) out.push_back(fd);
    }
    ::closedir(d);
    return out;
  }
  long max = ::sysconf(_SC_OPEN_MAX);
  if (max < 0 || max > 65536) max = 65536;
  for (int fd = 0; fd < max; ++fd) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) out.push_back(fd);
  }
  return out;
}

void ShutDownSocket(intptr_t socket) { ::shutdown(static_cast<int>(socket), SHUT_RDWR); }

int SqlBrowserPort(const std::string& host, const std::string& instance, int timeout_ms,
                   std::string* why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), "1434", &hints, &found) != 0 || found == nullptr) {
    *why = "host " + host + " not found";
    return 0;
  }
  int fd = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  bool connected = fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) == 0;
  ::freeaddrinfo(found);
  if (!connected) {
    if (fd >= 0) ::close(fd);
    *why = std::string("no socket: ") + std::strerror(errno);
    return 0;
  }
  // CLNT_UCAST_INST: 0x04 and the instance name; the answer is 0x05, its
  // length (two bytes) and "ServerName;...;InstanceName;...;tcp;PORT;;".
  std::string ask = "\x04" + instance;
  auto start = std::chrono::steady_clock::now();
  int port = 0;
  *why = "no answer within " + std::to_string(timeout_ms / 1000) + " s";
  ::send(fd, ask.data(), ask.size(), 0);
  while (port == 0) {
    int left = timeout_ms - static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - start)
                                                 .count());
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, std::min(left, 1000));
    if (ready < 0) break;
    if (ready == 0) {  // asked again each second: a datagram may be lost
      ::send(fd, ask.data(), ask.size(), 0);
      continue;
    }
    char buf[2048];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0) {
      *why = std::strerror(errno);  // nothing listens: the port is refused
      break;
    }
    if (n < 3 || static_cast<unsigned char>(buf[0]) != 0x05) continue;
    std::string text(buf + 3, static_cast<size_t>(n) - 3);
    size_t at = text.find(";tcp;");
    if (at == std::string::npos) {
      *why = "the instance has no TCP port";
      break;
    }
    port = std::atoi(text.c_str() + at + 5);
    if (port <= 0 || port > 65535) {
      port = 0;
      *why = "the instance has no TCP port";
      break;
    }
  }
  ::close(fd);
  return port;
}

namespace {

constexpr char kTempInfix[] = ".tmp.";
constexpr size_t kTempRandomLen = 6;  // the XXXXXX of mkstemp
constexpr int kMaxLinks = 40;
constexpr auto kLockPoll = std::chrono::milliseconds(50);

std::string Reason(int err) { return std::strerror(err); }

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  // Closes now; returns the errno of a failed close (0 when it succeeded).
  int Close() {
    int err = 0;
    if (fd_ >= 0 && ::close(fd_) != 0) err = errno;
    fd_ = -1;
    return err;
  }

 private:
  int fd_;
};

std::string DirOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a path leads to, following links (relative link texts count
// from the link's directory). The result may name no file yet.
bool ResolveLinks(const std::string& path, std::string* target, int* err) {
  std::string at = path;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st;
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = at;
      return true;
    }
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
    ssize_t n = ::readlink(at.c_str(), link.data(), link.size());
    if (n < 0) {
      *err = errno;
      return false;
    }
    link.resize(static_cast<size_t>(n));
    at = (!link.empty() && link[0] == '/') ? link : DirOf(at) + "/" + link;
  }
  *err = ELOOP;
  return false;
}

// The permission bits the host gives a new file (0666 less the umask),
// read without changing the process's umask.
mode_t NewFileMode() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<mode_t>(0666 & ~std::stoi(line.substr(6), nullptr, 8));
    }
  }
  return 0644;
}

bool WriteAll(int fd, std::string_view data, int* err) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Copies what is left to read of one descriptor to another.
bool CopyAll(int from, int to, int* err) {
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(from, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    if (!WriteAll(to, std::string_view(buf, static_cast<size_t>(n)), err)) return false;
  }
}

WriteResult Fail(WriteResult::Status status, int err) {
  WriteResult r;
  r.status = status;
  r.reason = Reason(err);
  return r;
}

// Writes into a file that is not a regular file (a device, a pipe).
WriteResult WriteInPlace(const std::string& target, const std::string& data, bool append) {
  Fd fd(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : O_TRUNC)));
  if (!fd.ok()) return Fail(WriteResult::Status::kCannotOpen, errno);
  int err = 0;
  if (!WriteAll(fd.get(), data, &err)) return Fail(WriteResult::Status::kFailed, err);
  if ((err = fd.Close()) != 0) return Fail(WriteResult::Status::kFailed, err);
  return WriteResult();
}

// Makes the directory's entries durable (the rename into it).
void SyncDirectory(const std::string& dir) {
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.ok()) ::fsync(fd.get());
}

// Gives the temporary file the owner, group and permissions of the file it
// replaces (owner and group as far as the process may set them), or those
// of a new file; an owner-only file gets 0600 either way.
bool TakeOverAttributes(int fd, const struct stat* old, FileAccess access) {
  if (old != nullptr && ::fchown(fd, old->st_uid, old->st_gid) != 0) {
    // Only the group, where the owner cannot be given; as far as it goes.
    if (::fchown(fd, static_cast<uid_t>(-1), old->st_gid) != 0) errno = 0;
  }
  // After chown, which may clear set-id bits.
  if (access == FileAccess::kOwnerOnly) return ::fchmod(fd, 0600) == 0;
  ::fchmod(fd, old != nullptr ? (old->st_mode & 07777) : NewFileMode());
  return true;
}

// The temporary file, beside the target, filled with the old content (when
// appending) and the data, made durable.
WriteResult WriteTemporary(const std::string& target, const struct stat* old,
                           const std::string& data, bool append, FileAccess access,
                           std::string* tmp_path) {
  std::string tmp =
      DirOf(target) + "/" + BaseOf(target) + kTempInfix + std::string(kTempRandomLen, 'X');
  Fd fd(::mkostemp(tmp.data(), O_CLOEXEC));
  if (!fd.ok()) return Fail(WriteResult::Status::kCannotOpen, errno);
  *tmp_path = tmp;
  if (!TakeOverAttributes(fd.get(), old, access)) {
    return Fail(WriteResult::Status::kFailed, errno);
  }
  int err = 0;
  if (append && old != nullptr) {
    Fd in(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.ok()) return Fail(WriteResult::Status::kCannotOpen, errno);
    if (!CopyAll(in.get(), fd.get(), &err)) return Fail(WriteResult::Status::kFailed, err);
  }
  if (!WriteAll(fd.get(), data, &err)) return Fail(WriteResult::Status::kFailed, err);
  if (::fsync(fd.get()) != 0) return Fail(WriteResult::Status::kFailed, errno);
  if ((err = fd.Close()) != 0) return Fail(WriteResult::Status::kFailed, err);
  return WriteResult();
}

WriteResult WriteOut(const std::string& path, const std::string& data, bool append,
                     FileAccess access) {
  std::string target;
  int err = 0;
  if (!ResolveLinks(path, &target, &err)) return Fail(WriteResult::Status::kCannotOpen, err);
  struct stat st;
  bool exists = ::lstat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return Fail(WriteResult::Status::kCannotOpen, errno);
  if (exists && !S_ISREG(st.st_mode)) return WriteInPlace(target, data, append);

  std::string tmp;
  WriteResult r = WriteTemporary(target, exists ? &st : nullptr, data, append, access, &tmp);
  if (r.ok() && ::rename(tmp.c_str(), target.c_str()) != 0) {
    r = Fail(WriteResult::Status::kFailed, errno);
  }
  if (!r.ok()) {
    if (!tmp.empty()) ::unlink(tmp.c_str());
    return r;
  }
  SyncDirectory(DirOf(target));
  return r;
}

bool IsTemporaryOf(const std::string& name, const std::string& base) {
  std::string prefix = base + kTempInfix;
  if (name.size() != prefix.size() + kTempRandomLen || name.compare(0, prefix.size(), prefix) != 0)
    return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    unsigned char ch = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(ch)) return false;
  }
  return true;
}

}  // namespace

WriteResult ReplaceFile(const std::string& path, const std::string& data, FileAccess access) {
  return WriteOut(path, data, false, access);
}

WriteResult AppendFile(const std::string& path, const std::string& data) {
  return WriteOut(path, data, true, FileAccess::kShared);
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

int RemoveLeftTemporaries(const std::string& path) {
  std::string target;
  int err = 0;
  if (!ResolveLinks(path, &target, &err)) return 0;
  std::string dir = DirOf(target), base = BaseOf(target);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return 0;
  int removed = 0;
  while (struct dirent* e = ::readdir(d)) {
    // unlinkat removes a planted link itself, never what it leads to.
    if (IsTemporaryOf(e->d_name, base) && ::unlinkat(::dirfd(d), e->d_name, 0) == 0) ++removed;
  }
  ::closedir(d);
  return removed;
}

namespace {

// Whether the open file is still the one the path names (a run that ends
// removes the lock file; a waiter may hold the removed one).
bool StillNamed(int fd, const std::string& path) {
  struct stat open_file, named;
  return ::fstat(fd, &open_file) == 0 && ::lstat(path.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

// Opens (creating it when missing) a lock file: never through a link, never
// waiting on a pipe, and only a regular file will do. A file it creates gets
// the read and write permissions of permissions_of when that is given.
int OpenLockFile(const std::string& path, std::string* reason,
                 const std::string& permissions_of = std::string()) {
  constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  int fd = ::open(path.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
    struct stat like;
    if (fd >= 0 && !permissions_of.empty() && ::stat(permissions_of.c_str(), &like) == 0) {
      ::fchmod(fd, like.st_mode & 0666);
    }
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kFlags);  // made meanwhile
  }
  if (fd < 0) {
    *reason = Reason(errno);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *reason = "not a regular file";
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

bool Busy(int err) { return err == EWOULDBLOCK || err == EAGAIN || err == EACCES || err == EINTR; }

// The process that holds the flock of the open file, from /proc/locks; 0
// when the host does not tell.
long FlockHolder(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return 0;
  FILE* locks = std::fopen("/proc/locks", "r");
  if (locks == nullptr) return 0;
  long holder = 0;
  char line[256];
  while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
    long pid = 0;
    unsigned maj = 0, min = 0;
    unsigned long long ino = 0;
    if (std::sscanf(line, "%*d: FLOCK %*s %*s %ld %x:%x:%llu", &pid, &maj, &min, &ino) == 4 &&
        ino == st.st_ino && makedev(maj, min) == st.st_dev) {
      holder = pid;
    }
  }
  std::fclose(locks);
  return holder;
}

}  // namespace

PathLock::PathLock(const std::string& path, int wait_ms, const Waiting& waiting)
    : lock_path_(path + ".lock") {
  bool told = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  int fd = -1;
  for (;;) {
    if (fd < 0) fd = OpenLockFile(lock_path_, &reason_);
    if (fd < 0) {
      state_ = errno == ENOENT ? State::kNoDirectory : State::kUnavailable;
      return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      if (StillNamed(fd, lock_path_)) {
        handle_ = fd;
        state_ = State::kHeld;
        return;
      }
      ::close(fd);  // the file was removed meanwhile: lock the new one
      fd = -1;
      continue;
    }
    if (!Busy(errno)) {
      reason_ = Reason(errno);
      ::close(fd);
      state_ = State::kUnavailable;
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      state_ = State::kBusy;
      return;
    }
    if (waiting && !told) waiting(FlockHolder(fd));
    told = true;
    std::this_thread::sleep_for(kLockPoll);
  }
}

PathLock::~PathLock() {
  if (handle_ < 0) return;
  ::unlink(lock_path_.c_str());        // removed while still held
  ::close(static_cast<int>(handle_));  // releases the lock
}

namespace {

// Where in the lock file a key's lock lies: FNV-1a of the key, kept within
// the offsets every file system takes.
off_t KeyOffset(std::string_view key) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char ch : key) {
    h ^= ch;
    h *= 1099511628211ULL;
  }
  return static_cast<off_t>(h & ((uint64_t{1} << 40) - 1));
}

}  // namespace

KeyLock::KeyLock(const std::string& lock_file, std::string_view key, int wait_ms,
                 const std::string& permissions_of) {
  int fd = OpenLockFile(lock_file, &reason_, permissions_of);
  if (fd < 0) return;
  // A lock of the open file description: two KeyLocks of one process
  // exclude each other as two processes do.
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = KeyOffset(key);
  fl.l_len = 1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    if (!Busy(errno)) {
      reason_ = Reason(errno);
      ::close(fd);
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      state_ = State::kBusy;
      return;
    }
    std::this_thread::sleep_for(kLockPoll);
  }
  handle_ = fd;
  state_ = State::kHeld;
}

KeyLock::~KeyLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

}  // namespace plom
