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

// Paths are Windows-1252 byte strings like every text of the tool; on
// Windows they are opened by their wide-character names, so a path with
// umlauts names the same file that Explorer shows. Files are written and
// read as the bytes given, on every host (no line-end translation).

// Who may read a file the tool writes: everyone the host lets (download
// files), or the owner alone (the configuration file with its credentials;
// mode 0600 on POSIX hosts, on Windows the permissions of the folder apply).
enum class FileAccess { kShared, kOwnerOnly };

// Replaces the file atomically: a temporary file beside it, flushed, then
// renamed over it. On failure the old file stays as it was and errno tells
// the reason.
bool ReplaceFile(const std::string& path, const std::string& data,
                 FileAccess access = FileAccess::kShared);
// Appends the data in one write (creates the file when missing).
bool AppendFile(const std::string& path, const std::string& data);
// Reads the whole file, bytes as they are. False when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* data);

// Makes standard output pass the bytes as written (Windows would turn each
// line feed into CR LF), so that the messages are the same bytes on every
// host. Called once at the start of a program, before any output.
void KeepStandardOutputBytes();

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
  int fd_ = -1;             // the lock file on POSIX hosts
  void* handle_ = nullptr;  // the lock file on Windows
  State state_ = State::kUnavailable;
};

}  // namespace plom
