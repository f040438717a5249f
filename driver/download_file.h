// Write-out of the download file and the lock that keeps two runs of the
// same download file apart.
#pragma once

#include <string>
#include <vector>

namespace plom {

// The bytes of the download file for the lines: each line filled with blanks
// to the record width (width 0: as it is; a longer line is written whole),
// and every line feed written as carriage return + line feed.
std::string RenderDownload(const std::vector<std::string>& lines, int width);

// Replaces the file atomically: a temporary file beside it, flushed, then
// renamed over it. On failure the old file stays as it was.
bool ReplaceFile(const std::string& path, const std::string& data);
// Appends the data in one write (creates the file when missing).
bool AppendFile(const std::string& path, const std::string& data);

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
