// The file system as the tool uses it: the atomic write-out of a download
// file, the lock that keeps two runs of one download file apart, and host
// paths. Everything that differs between POSIX and Windows hosts lives
// behind this header (files_posix.cc, and its Windows counterpart).
#pragma once

#include <string>
#include <string_view>

namespace plom {

// A path written the Windows way ("..\\..\\files\\korvantis.ini") as this
// host opens it: on POSIX hosts every backslash becomes '/'; on Windows the
// path is unchanged.
std::string HostPath(std::string_view windows_path);

// Who may read a file the tool writes: everyone the host lets (download
// files), or the owner alone (the configuration file with its credentials).
enum class FileAccess { kShared, kOwnerOnly };

// Replaces the file atomically: a temporary file beside it, flushed, then
// renamed over it. On failure the old file stays as it was and errno tells
// the reason.
bool ReplaceFile(const std::string& path, const std::string& data,
                 FileAccess access = FileAccess::kShared);
// Appends the data in one write (creates the file when missing).
bool AppendFile(const std::string& path, const std::string& data);

// Whether standard error goes to a terminal (a person watches the run).
bool StandardErrorIsTerminal();

// The number of processor cores (at least 1).
int CoreCount();

// An exclusive lock for a download file path: a lock file beside it
// ("<path>.lock"), held until destruction, which removes it.
class PathLock {
 public:
  enum class State { kHeld, kBusy, kUnavailable };
  // Waits up to wait_ms for the lock. kUnavailable: no lock file could be
  // made (the run then goes on unlocked; the write-out will tell).
  PathLock(const std::string& path, int wait_ms);
  ~PathLock();
  PathLock(const PathLock&) = delete;
  PathLock& operator=(const PathLock&) = delete;
  State state() const { return state_; }

 private:
  std::string lock_path_;
  int fd_ = -1;
  State state_ = State::kUnavailable;
};

}  // namespace plom
