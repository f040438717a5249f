// The file system on POSIX hosts.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <netdb.h>
#include <poll.h>
#include <pwd.h>
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
#include <functional>
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
// How long a write into a pipe or device may make no progress.
constexpr int kStallMs = 60000;

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
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
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

// The user's name ("uid N" when the host knows no name for it).
std::string UserName(uid_t uid) {
  struct passwd pw, *found = nullptr;
  char buf[4096];
  if (::getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found != nullptr) {
    return std::string(found->pw_name) + " (uid " + std::to_string(uid) + ")";
  }
  return "uid " + std::to_string(uid);
}

// Whether the system would follow the link for this user, as Linux's
// fs.protected_symlinks has it: the link is the user's, or its directory is
// not both sticky and world-writable, or the link and the directory have the
// same owner. The tool resolves links itself, so it asks this itself.
bool MayFollow(const std::string& at, const struct stat& link, std::string* refused) {
  struct stat dir;
  if (link.st_uid == ::geteuid() || ::stat(DirOf(at).c_str(), &dir) != 0) return true;
  bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
  if (!shared || link.st_uid == dir.st_uid) return true;
  *refused = "link " + at + " belongs to user " + UserName(link.st_uid) +
             " in a sticky world-writable directory: not followed";
  return false;
}

// The file a path leads to, following links (relative link texts count
// from the link's directory) where the system would. The result may name no
// file yet. A link the system would not follow sets *refused.
bool ResolveLinks(const std::string& path, std::string* target, int* err,
                  std::string* refused) {
  std::string at = path;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st;
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = at;
      return true;
    }
    if (!MayFollow(at, st, refused)) return false;
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
      // A pipe or device opened without waiting: wait for room, a while.
      struct pollfd room = {fd, POLLOUT, 0};
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && ::poll(&room, 1, kStallMs) > 0) continue;
      *err = errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno;
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

WriteResult Refuse(std::string why) {
  WriteResult r;
  r.status = WriteResult::Status::kRefused;
  r.reason = std::move(why);
  return r;
}

// Writes into a file that is not a regular file (a device, a pipe), opened
// without waiting for a reader.
WriteResult WriteInPlace(const std::string& target, const std::string& data, bool append) {
  Fd fd(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK |
                                   (append ? O_APPEND : O_TRUNC)));
  if (!fd.ok() && errno == ENXIO) return Refuse(target + ": no process reads this pipe");
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
    Fd in(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
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
  std::string target, refused;
  int err = 0;
  if (!ResolveLinks(path, &target, &err, &refused)) {
    return refused.empty() ? Fail(WriteResult::Status::kCannotOpen, err) : Refuse(refused);
  }
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

// A side file: the name itself is replaced, whatever planted link it is,
// and only a regular file (or none) stands there.
WriteResult WriteSide(const std::string& path, const std::string& data) {
  struct stat st;
  bool exists = ::lstat(path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return Fail(WriteResult::Status::kCannotOpen, errno);
  if (exists && !S_ISREG(st.st_mode)) {
    return Refuse(path + (S_ISLNK(st.st_mode) ? " is a link" : " is not a regular file") +
                  ": not written");
  }
  std::string tmp;
  WriteResult r = WriteTemporary(path, exists ? &st : nullptr, data, false, FileAccess::kShared,
                                 &tmp);
  // rename replaces the name: a link planted meanwhile goes, never its target.
  if (r.ok() && ::rename(tmp.c_str(), path.c_str()) != 0) {
    r = Fail(WriteResult::Status::kFailed, errno);
  }
  if (!r.ok()) {
    if (!tmp.empty()) ::unlink(tmp.c_str());
    return r;
  }
  SyncDirectory(DirOf(path));
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

WriteResult ReplaceSideFile(const std::string& path, const std::string& data) {
  return WriteSide(path, data);
}

std::FILE* OpenSideFile(const std::string& path, std::string* reason) {
  Fd fd(::open(path.c_str(),
               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
               0644));
  struct stat st;
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
    *reason = errno == ELOOP ? path + " is a link: not written" : Reason(errno);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode) || st.st_nlink > 1) {
    *reason = path + (S_ISREG(st.st_mode) ? " has another name (a hard link)"
                                          : " is not a regular file") + ": not written";
    return nullptr;
  }
  int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    *reason = Reason(errno);
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd.get(), "a");
  if (f == nullptr) {
    *reason = Reason(errno);
    return nullptr;
  }
  (void)fd.Release();
  return f;
}

std::string RefusedPath(const std::string& path) {
  std::string target, refused;
  int err = 0;
  ResolveLinks(path, &target, &err, &refused);
  return refused;
}

bool ReadWholeFile(const std::string& path, std::string* data) {
  std::string target, refused;
  int err = 0;
  if (!ResolveLinks(path, &target, &err, &refused)) return false;
  // Without waiting: a pipe would hold the reader until someone writes.
  int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
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
  std::string target, refused;
  int err = 0;
  if (!ResolveLinks(path, &target, &err, &refused)) return 0;
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

// Whether another user's lock file may serve: one of the database's owner
// (who has the database in hand anyway), or one shared through the
// database's group, which the database's group may write, with nobody else.
bool SharedWithUs(const struct stat& lock, const std::string& shared_with) {
  struct stat db;
  if (shared_with.empty() || ::stat(shared_with.c_str(), &db) != 0) return false;
  if (lock.st_uid == db.st_uid) return true;
  return (db.st_mode & S_IWGRP) != 0 && lock.st_gid == db.st_gid && (lock.st_mode & 0007) == 0;
}

// Opens (creating it when missing) a lock file: never through a link, never
// waiting on a pipe, only a regular file, and only the user's own (or one
// shared through shared_with, see KeyLock). A file it creates is
// owner-only, or shared with the group of shared_with when that database
// is group-writable.
int OpenLockFile(const std::string& path, std::string* reason,
                 const std::string& shared_with = std::string()) {
  constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  int fd = ::open(path.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
    struct stat db;
    if (fd >= 0 && !shared_with.empty() && ::stat(shared_with.c_str(), &db) == 0) {
      bool group = (db.st_mode & S_IWGRP) != 0;
      // root makes it the database owner's, whose runs must use it too.
      uid_t owner = ::geteuid() == 0 ? db.st_uid : static_cast<uid_t>(-1);
      if (group || owner != static_cast<uid_t>(-1)) {
        if (::fchown(fd, owner, group ? db.st_gid : static_cast<gid_t>(-1)) == 0 && group) {
          ::fchmod(fd, 0660);
        }
      }
    }
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kFlags);  // made meanwhile
  }
  if (fd < 0) {
    *reason = errno == ELOOP ? "a link" : Reason(errno);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *reason = "not a regular file";
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  if (st.st_uid != ::geteuid() && !SharedWithUs(st, shared_with)) {
    *reason = "another user's file (owner " + UserName(st.st_uid) + ")";
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  // One of ours that an earlier version made readable to others: from now
  // on nobody else may open it to lock us out.
  struct stat db;
  mode_t wanted = !shared_with.empty() && ::stat(shared_with.c_str(), &db) == 0 &&
                          (db.st_mode & S_IWGRP) != 0
                      ? 0660
                      : 0600;
  if (st.st_uid == ::geteuid() && (st.st_mode & 0777) != wanted) ::fchmod(fd, wanted);
  return fd;
}

bool Busy(int err) { return err == EWOULDBLOCK || err == EAGAIN || err == EACCES || err == EINTR; }

// Tries to lock until attempt() succeeds, fails for another reason than a
// lock held elsewhere, or wait_ms have passed; before the first pause, tells
// waiting (when given). Returns 0 when locked, EWOULDBLOCK when still held
// elsewhere at the end, otherwise the errno of the failed attempt.
int PollLock(const std::function<bool()>& attempt, int wait_ms,
             const std::function<void()>& waiting = nullptr) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (bool told = false;; told = true) {
    if (attempt()) return 0;
    if (!Busy(errno)) return errno;
    if (std::chrono::steady_clock::now() >= deadline) return EWOULDBLOCK;
    if (!told && waiting) waiting();
    std::this_thread::sleep_for(kLockPoll);
  }
}

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
  int fd = -1;
  bool no_file = false;
  int err = PollLock(
      [&] {
        if (fd < 0 && (fd = OpenLockFile(lock_path_, &reason_)) < 0) {
          no_file = errno == ENOENT;
          errno = no_file ? ENOENT : EPERM;
          return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
        if (StillNamed(fd, lock_path_)) return true;
        ::close(fd);  // the file was removed meanwhile: lock the new one
        fd = -1;
        errno = EAGAIN;
        return false;
      },
      wait_ms, [&] {
        if (waiting) waiting(FlockHolder(fd));
      });
  if (err == 0) {
    handle_ = fd;
    state_ = State::kHeld;
    return;
  }
  if (fd >= 0) ::close(fd);
  if (err == EWOULDBLOCK) {
    state_ = State::kBusy;
  } else {
    state_ = no_file ? State::kNoDirectory : State::kUnavailable;
    if (reason_.empty()) reason_ = Reason(err);
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
                 const std::string& shared_with) {
  int fd = OpenLockFile(lock_file, &reason_, shared_with);
  if (fd < 0) return;
  // A lock of the open file description: two KeyLocks of one process
  // exclude each other as two processes do.
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = KeyOffset(key);
  fl.l_len = 1;
  int err = PollLock([&] { return ::fcntl(fd, F_OFD_SETLK, &fl) == 0; }, wait_ms);
  if (err != 0) {
    if (err == EWOULDBLOCK) {
      state_ = State::kBusy;
    } else {
      reason_ = Reason(err);
    }
    ::close(fd);
    return;
  }
  handle_ = fd;
  state_ = State::kHeld;
}

KeyLock::~KeyLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

}  // namespace plom
