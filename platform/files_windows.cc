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
#include <thread>

namespace plom {

namespace {

constexpr UINT kCodePage = 1252;

std::wstring Wide(const std::string& path) {
  if (path.empty()) return std::wstring();
  int n = ::MultiByteToWideChar(kCodePage, 0, path.data(), static_cast<int>(path.size()),
                                nullptr, 0);
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

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

int CoreCount() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

namespace {

// Renames tmp over target. A target that another program holds open without
// shared deletion (a reader of the download file) refuses the rename for a
// moment: tried again for about two seconds.
bool IsDirectory(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RenameOver(const std::wstring& tmp, const std::wstring& target) {
  for (int attempt = 0;; ++attempt) {
    if (::MoveFileExW(tmp.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    DWORD why = ::GetLastError();
    bool busy = why == ERROR_SHARING_VIOLATION || why == ERROR_ACCESS_DENIED ||
                why == ERROR_LOCK_VIOLATION;
    if (!busy || attempt >= 40 || IsDirectory(target)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

// The temporary file is renamed over the target with MoveFileExW: one rename
// that replaces the target whole. (ReplaceFileW would keep the target's
// attributes but moves the old file aside first and fails on a missing
// target, so it is no atomic replace.)
// A file only its owner may read gets no rights of its own here: it takes
// those of its folder, which an installation keeps closed.
bool ReplaceFile(const std::string& path, const std::string& data, FileAccess /*access*/) {
  std::wstring target = Wide(path);
  std::wstring tmp = target + L".tmp." + std::to_wstring(::GetCurrentProcessId());
  Handle f(::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.valid()) return FailWith(::GetLastError());
  bool ok = WriteAll(f.get(), data) && ::FlushFileBuffers(f.get());
  ok = f.Close() && ok;
  if (ok) ok = RenameOver(tmp, target);
  if (ok) return true;
  DWORD why = ::GetLastError();
  ::DeleteFileW(tmp.c_str());
  return FailWith(why);
}

namespace {

// Appenders take turns on the last byte a file could have: far beyond its
// end, so that no reader of the data is ever locked out.
class AppendTurn {
 public:
  explicit AppendTurn(HANDLE h) : h_(h) {
    at_.Offset = 0xFFFFFFFEu;
    at_.OffsetHigh = 0x7FFFFFFFu;
    held_ = ::LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at_) != 0;
  }
  ~AppendTurn() {
    if (held_) ::UnlockFileEx(h_, 0, 1, 0, &at_);
  }
  AppendTurn(const AppendTurn&) = delete;
  AppendTurn& operator=(const AppendTurn&) = delete;
  bool held() const { return held_; }

 private:
  HANDLE h_;
  OVERLAPPED at_ = {};
  bool held_ = false;
};

}  // namespace

bool AppendFile(const std::string& path, const std::string& data) {
  // With append access alone every write lands at the end of the file; the
  // turn keeps the writes of two appenders from landing on one end.
  Handle f(::CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f.valid()) return false;
  bool ok;
  {
    AppendTurn turn(f.get());
    ok = turn.held() && WriteAll(f.get(), data) && ::FlushFileBuffers(f.get());
  }
  return f.Close() && ok;
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
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool TryLock(HANDLE h) {
  OVERLAPPED at = {};
  return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

}  // namespace

// Every handle of a lock file shares delete access, so the holder can remove
// the file while others wait on it. A file that is removed but still open
// cannot be opened again (access denied) until its last handle closes: a
// waiter treats that like a held lock and tries again.
PathLock::PathLock(const std::string& path, int wait_ms) : lock_path_(path + ".lock") {
  const std::wstring name = Wide(lock_path_);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  Handle h(INVALID_HANDLE_VALUE);
  for (;;) {
    if (!h.valid()) {
      h.Reset(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    bool pending_delete = false;
    if (!h.valid()) {
      if (::GetLastError() != ERROR_ACCESS_DENIED) {
        state_ = State::kUnavailable;
        return;
      }
      pending_delete = true;
    } else if (TryLock(h.get())) {
      if (StillNamed(h.get(), name)) {
        handle_ = h.Release();
        state_ = State::kHeld;
        return;
      }
      h.Reset(INVALID_HANDLE_VALUE);  // the file was removed meanwhile: lock the new one
      continue;
    } else if (::GetLastError() != ERROR_LOCK_VIOLATION) {
      state_ = State::kUnavailable;
      return;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      state_ = pending_delete ? State::kUnavailable : State::kBusy;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

PathLock::~PathLock() {
  if (handle_ == nullptr) return;
  HANDLE h = static_cast<HANDLE>(handle_);
  // Marked for removal while still locked; gone when the handle closes.
  FILE_DISPOSITION_INFO remove = {TRUE};
  ::SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove);
  OVERLAPPED at = {};
  ::UnlockFileEx(h, 0, 1, 0, &at);
  ::CloseHandle(h);
}

}  // namespace plom
