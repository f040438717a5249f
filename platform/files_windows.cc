// The file system on Windows hosts.
//
// Paths arrive as Windows-1252 byte strings and are opened by their
// wide-character names (the W calls), so a path with umlauts does not depend
// on the code page of the machine. Download files are written as the bytes
// given: the caller has already put CR LF where a line ends.
#include "platform/files.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> names the ANSI ReplaceFileA "ReplaceFile"; ours is meant.
#undef ReplaceFile
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

namespace plom {

namespace {

constexpr UINT kCodePage = 1252;

std::wstring Wide(const std::string& path) {
  if (path.empty()) return std::wstring();
  int n =
      ::MultiByteToWideChar(kCodePage, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(kCodePage, 0, path.data(), static_cast<int>(path.size()), wide.data(), n);
  return wide;
}

// An open file handle, closed on destruction.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) ::CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  // Closes now; false when closing failed.
  bool Close() {
    bool ok = ::CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }
  // Closes the handle held (if any) and holds h.
  void Reset(HANDLE h) {
    if (valid()) ::CloseHandle(h_);
    h_ = h;
  }
  // Gives the handle up to the caller.
  HANDLE Release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE h_;
};

bool WriteAll(HANDLE h, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(h, data.data() + done, chunk, &written, nullptr)) return false;
    done += written;
  }
  return true;
}

// Sets errno for a Windows error code (callers report strerror(errno)) and
// returns false.
bool FailWith(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      errno = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      errno = ENAMETOOLONG;
      break;
    case ERROR_INVALID_NAME:
      errno = EINVAL;
      break;
    default:
      errno = EIO;
      break;
  }
  return false;
}

}  // namespace

std::string HostPath(std::string_view windows_path) { return std::string(windows_path); }

std::string CollationModulePath() {
  const char* named = std::getenv("PLOMVARDE_COLLATION_MODULE");
  if (named != nullptr && *named != '\0') return named;
  std::wstring exe(32768, L'\0');
  DWORD n = ::GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
  exe.resize(n);
  size_t sep = exe.find_last_of(L"\\/");
  std::wstring dir = sep == std::wstring::npos ? L"." : exe.substr(0, sep);
  std::wstring module = dir + L"\\plomvarde-collation.dll";
  int len = ::WideCharToMultiByte(kCodePage, 0, module.data(), static_cast<int>(module.size()),
                                  nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(len), '\0');
  ::WideCharToMultiByte(kCodePage, 0, module.data(), static_cast<int>(module.size()), narrow.data(),
                        len, nullptr, nullptr);
  return narrow;
}

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

int CoreCount() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

// Windows gives no list of a process's sockets: a silent server's statement
// ends with the driver's own timeout handling.
std::vector<intptr_t> OpenSockets() { return {}; }
void ShutDownSocket(intptr_t) {}
int SqlBrowserPort(const std::string&, const std::string&, int, std::string*) { return -1; }

namespace {

constexpr wchar_t kTempInfix[] = L".tmp.";
constexpr size_t kTempRandomLen = 6;
constexpr auto kLockPoll = std::chrono::milliseconds(50);

// The reason of the last failed call, in the words strerror gives on every
// host.
std::string LastReason() {
  FailWith(::GetLastError());
  return std::strerror(errno);
}

WriteResult Fail(WriteResult::Status status, const std::string& reason) {
  WriteResult r;
  r.status = status;
  r.reason = reason;
  return r;
}

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Renames tmp over target. A target that another program holds open without
// shared deletion (a reader of the download file) refuses the rename for a
// moment: tried again for about two seconds.
bool RenameOver(const std::wstring& tmp, const std::wstring& target) {
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExW(tmp.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    DWORD why = ::GetLastError();
    bool busy =
        why == ERROR_SHARING_VIOLATION || why == ERROR_ACCESS_DENIED || why == ERROR_LOCK_VIOLATION;
    if (!busy || attempt >= 40 || IsDirectory(target)) {
      ::SetLastError(why);
      return false;
    }
    std::this_thread::sleep_for(kLockPoll);
  }
}

// An unpredictable name beside target, created exclusively (a name taken
// by another file is never opened: another one is drawn).
Handle CreateTemporary(const std::wstring& target, std::wstring* tmp) {
  static const wchar_t kChars[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring name = target + kTempInfix;
    for (size_t i = 0; i < kTempRandomLen; ++i) name += kChars[random() % 62];
    HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) {
      if (h != INVALID_HANDLE_VALUE) *tmp = name;
      return Handle(h);
    }
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return Handle(INVALID_HANDLE_VALUE);
}

// Whether the path names an existing file; false with the reason when it
// cannot be told.
bool Exists(const std::wstring& path, bool* exists, std::string* reason) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    *exists = true;
    return true;
  }
  DWORD why = ::GetLastError();
  *exists = false;
  if (why == ERROR_FILE_NOT_FOUND) return true;
  ::SetLastError(why);
  *reason = LastReason();
  return false;
}

// The temporary file filled with content, made durable, renamed over target.
WriteResult WriteOut(const std::wstring& target, const std::string& content) {
  std::wstring tmp;
  Handle f = CreateTemporary(target, &tmp);
  if (!f.valid()) return Fail(WriteResult::Status::kCannotOpen, LastReason());
  bool ok = WriteAll(f.get(), content) && ::FlushFileBuffers(f.get());
  std::string reason = ok ? std::string() : LastReason();
  if (!f.Close() && ok) {
    ok = false;
    reason = LastReason();
  }
  if (ok && !RenameOver(tmp, target)) {
    ok = false;
    reason = LastReason();
  }
  if (ok) return WriteResult();
  ::DeleteFileW(tmp.c_str());
  return Fail(WriteResult::Status::kFailed, reason);
}

bool IsTemporaryOf(const std::wstring& name, const std::wstring& base) {
  std::wstring prefix = base + kTempInfix;
  if (name.size() != prefix.size() + kTempRandomLen || name.compare(0, prefix.size(), prefix) != 0)
    return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    wchar_t ch = name[i];
    bool alnum =
        (ch >= L'0' && ch <= L'9') || (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z');
    if (!alnum) return false;
  }
  return true;
}

// The folder of a path ("." when it names none) and the name in it.
void SplitPath(const std::wstring& path, std::wstring* dir, std::wstring* base) {
  size_t sep = path.find_last_of(L"\\/");
  *dir = sep == std::wstring::npos ? L"." : path.substr(0, sep == 0 ? 1 : sep);
  *base = sep == std::wstring::npos ? path : path.substr(sep + 1);
}

}  // namespace

// The temporary file is renamed over the target with MoveFileExW: one rename
// that replaces the target whole. (ReplaceFileW would keep the target's
// attributes but moves the old file aside first and fails on a missing
// target, so it is no atomic replace.) The new file therefore takes the
// permissions its folder passes on; a file only its owner may read gets no
// rights of its own here either: an installation keeps that folder closed.
// A path that names a folder cannot be written (the rename is refused).
WriteResult ReplaceFile(const std::string& path, const std::string& data, FileAccess /*access*/) {
  return WriteOut(Wide(path), data);
}

// Concurrent appenders of one file hold its PathLock (as the driver does).
WriteResult AppendFile(const std::string& path, const std::string& data) {
  std::wstring target = Wide(path);
  bool exists = false;
  std::string reason;
  if (!Exists(target, &exists, &reason)) return Fail(WriteResult::Status::kCannotOpen, reason);
  std::string content;
  if (exists && !ReadWholeFile(path, &content)) {
    return Fail(WriteResult::Status::kCannotOpen, LastReason());
  }
  return WriteOut(target, content + data);
}

// A side file: a link (reparse point) or anything but a plain file of that
// name is refused; otherwise the rename replaces the name itself.
WriteResult ReplaceSideFile(const std::string& path, const std::string& data) {
  DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                     FILE_ATTRIBUTE_DEVICE)) != 0) {
    return Fail(WriteResult::Status::kRefused, path + " is not a regular file: not written");
  }
  return WriteOut(Wide(path), data);
}

std::FILE* OpenSideFile(const std::string& path, std::string* reason) {
  DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                     FILE_ATTRIBUTE_DEVICE)) != 0) {
    *reason = path + " is not a regular file: not written";
    return nullptr;
  }
  std::FILE* f = ::_wfopen(Wide(path).c_str(), L"ab");
  if (f == nullptr) *reason = std::strerror(errno);
  return f;
}

// Links are followed as the system follows them: the system decides.
std::string RefusedPath(const std::string& /*path*/) { return std::string(); }

int RemoveLeftTemporaries(const std::string& path) {
  std::wstring dir, base;
  SplitPath(Wide(path), &dir, &base);
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((dir + L"\\" + base + kTempInfix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    bool plain =
        (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    if (plain && IsTemporaryOf(found.cFileName, base) &&
        ::DeleteFileW((dir + L"\\" + found.cFileName).c_str())) {
      ++removed;
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return removed;
}

bool ReadWholeFile(const std::string& path, std::string* data) {
  // Shared for deletion too, so that a replace of the file is not refused
  // while it is read.
  Handle f(::CreateFileW(Wide(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.valid()) return false;
  data->clear();
  char buf[65536];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(f.get(), buf, sizeof buf, &n, nullptr)) return false;
    if (n == 0) return true;
    data->append(buf, n);
  }
}

void KeepStandardOutputBytes() {
  std::fflush(stdout);
  ::_setmode(::_fileno(stdout), _O_BINARY);
}

namespace {

// The identity of an open file: volume and file index.
bool FileId(HANDLE h, BY_HANDLE_FILE_INFORMATION* info) {
  return ::GetFileInformationByHandle(h, info) != 0;
}

// Whether the open file is still the one the path names (a run that ends
// removes the lock file; a waiter may hold the removed one).
bool StillNamed(HANDLE h, const std::wstring& path) {
  Handle named(::CreateFileW(path.c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION a, b;
  return named.valid() && FileId(h, &a) && FileId(named.get(), &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// Opens a lock file, creating it when missing. Every handle of a lock file
// shares delete access, so that the holder of a PathLock can remove the file
// while others wait on it. A link (reparse point) is opened as itself and
// refused: only a plain file will do.
HANDLE OpenLockFile(const std::wstring& name, std::string* reason) {
  HANDLE h =
      ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *reason = LastReason();
    return h;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!FileId(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    *reason = "not a regular file";
    ::CloseHandle(h);
    ::SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// Where in the lock file a key's lock lies: FNV-1a of the key, kept within
// 40 bits, as on POSIX hosts.
uint64_t KeyOffset(std::string_view key) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char ch : key) {
    h ^= ch;
    h *= 1099511628211ULL;
  }
  return h & ((uint64_t{1} << 40) - 1);
}

bool TryLockAt(HANDLE h, uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

}  // namespace

namespace {

// The path as the system names the file: trailing blanks and dots are not
// part of a Windows file name ("a.dnl ." is "a.dnl"), and case does not
// count, which the lock file's name inherits.
std::string SystemName(std::string path) {
  while (!path.empty() && (path.back() == ' ' || path.back() == '.')) path.pop_back();
  return path;
}

}  // namespace

// A file that is removed but still open cannot be opened again (access
// denied) until its last handle closes: a waiter treats that like a held
// lock and tries again.
PathLock::PathLock(const std::string& path, int wait_ms, const Waiting& waiting)
    : lock_path_(SystemName(path) + ".lock") {
  bool told = false;
  const std::wstring name = Wide(lock_path_);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  Handle h(INVALID_HANDLE_VALUE);
  for (;;) {
    if (!h.valid()) h.Reset(OpenLockFile(name, &reason_));
    bool pending_delete = false;
    if (!h.valid()) {
      DWORD why = ::GetLastError();
      if (why == ERROR_PATH_NOT_FOUND) {
        state_ = State::kNoDirectory;
        return;
      }
      if (why != ERROR_ACCESS_DENIED) {
        state_ = State::kUnavailable;
        return;
      }
      pending_delete = true;
    } else if (TryLockAt(h.get(), 0)) {
      if (StillNamed(h.get(), name)) {
        handle_ = reinterpret_cast<intptr_t>(h.Release());
        state_ = State::kHeld;
        reason_.clear();
        return;
      }
      h.Reset(INVALID_HANDLE_VALUE);  // the file was removed meanwhile: lock the new one
      continue;
    } else if (::GetLastError() != ERROR_LOCK_VIOLATION) {
      reason_ = LastReason();
      state_ = State::kUnavailable;
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      state_ = pending_delete ? State::kUnavailable : State::kBusy;
      return;
    }
    if (waiting && !told && !pending_delete) waiting(0);  // Windows names no holder
    told = told || !pending_delete;
    std::this_thread::sleep_for(kLockPoll);
  }
}

PathLock::~PathLock() {
  if (handle_ == -1) return;
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  // Marked for removal while still locked; gone when the handle closes.
  FILE_DISPOSITION_INFO remove = {TRUE};
  ::SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove);
  OVERLAPPED at = {};
  ::UnlockFileEx(h, 0, 1, 0, &at);
  ::CloseHandle(h);
}

// Locks of a handle: two KeyLocks of one process exclude each other as two
// processes do. The read and write permissions of the database file need no
// copying here: the lock file takes those of its folder, as the database did.
KeyLock::KeyLock(const std::string& lock_file, std::string_view key, int wait_ms,
                 const std::string& /*shared_with*/) {
  Handle h(OpenLockFile(Wide(lock_file), &reason_));
  if (!h.valid()) return;
  const uint64_t offset = KeyOffset(key);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (!TryLockAt(h.get(), offset)) {
    if (::GetLastError() != ERROR_LOCK_VIOLATION) {
      reason_ = LastReason();
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      state_ = State::kBusy;
      return;
    }
    std::this_thread::sleep_for(kLockPoll);
  }
  handle_ = reinterpret_cast<intptr_t>(h.Release());
  state_ = State::kHeld;
}

// Closing the handle releases its locks.
KeyLock::~KeyLock() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace plom
