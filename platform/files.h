// The file system as the tool uses it: the atomic write-out of a download
// file, the locks that keep two runs of one download file apart, and host
// paths. Everything that differs between POSIX and Windows hosts lives
// behind this header (files_posix.cc, and its Windows counterpart).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>
#include <string_view>

namespace plom {

// A path written the Windows way ("..\\..\\files\\korvantis.ini") as this
// host opens it: on POSIX hosts every backslash becomes '/'; on Windows the
// path is unchanged.
std::string HostPath(std::string_view windows_path);

// The line store's collation as an SQLite extension module, for the SQLite
// ODBC driver to load: PLOMVARDE_COLLATION_MODULE when set (a test under
// Wine names the host's module, which the host's driver loads), otherwise
// the module beside the running program ("plomvarde-collation.dll" on
// Windows, "libplomvarde-collation.so" elsewhere).
std::string CollationModulePath();

// Paths are Windows-1252 byte strings like every text of the tool; on
// Windows they are opened by their wide-character names, so a path with
// umlauts names the same file that Explorer shows. Files are written and
// read as the bytes given, on every host (no line-end translation).

// Who may read a file the tool writes: everyone the host lets (download
// files), or the owner alone (the configuration file with its credentials;
// mode 0600 on POSIX hosts, on Windows the permissions of the folder apply).
enum class FileAccess { kShared, kOwnerOnly };

// How a write-out of a file ended.
struct WriteResult {
  enum class Status {
    kOk,
    kCannotOpen,  // no file could be opened or created to write to
    kFailed,      // opened, but writing, flushing or renaming failed
    kRefused,     // the path leads where this run does not write (see reason)
  };
  Status status = Status::kOk;
  // The system's reason when not kOk, in its own words ("No space left on
  // device").
  std::string reason;

  bool ok() const { return status == Status::kOk; }
  explicit operator bool() const { return ok(); }
};

// Writes the download file so that a reader (or a run killed at any moment)
// sees either the old file or the complete new one, never a part:
//
// - The new content goes to a temporary file of an unpredictable name,
//   created exclusively (never through a planted link) in the directory of
//   the file that is replaced, made durable, then renamed over it; the
//   directory is made durable after the rename.
// - When path names a link, the file it leads to is replaced and the link
//   stays. A path that leads to no file yet gets a new file there. A link
//   is followed only where the system would follow it for this user (as
//   Linux's fs.protected_symlinks does): the link belongs to the user, or
//   its directory is not both sticky and world-writable, or the link and
//   its directory have the same owner. Otherwise kRefused, and the reason
//   names the link and its owner.
// - The replaced file keeps its permissions (and its owner and group where
//   the process may set them); a new file gets the permissions the host
//   gives new files. With FileAccess::kOwnerOnly the file ends up readable
//   and writable by its owner alone, whatever it was before.
// - A path that leads to something other than a regular file (a device, a
//   pipe) is written in place, opened without waiting: a pipe that no
//   process reads is kRefused, and a reader that stops reading for a minute
//   fails the write.
//
// On failure the old file stays exactly as it was and no temporary file is
// left behind.
WriteResult ReplaceFile(const std::string& path, const std::string& data,
                        FileAccess access = FileAccess::kShared);

// Appends the data with the same guarantee: the old content and the data
// are written to a temporary file that replaces the old one as ReplaceFile
// does (a missing file is created). A path that leads to something other
// than a regular file is appended to in place.
WriteResult AppendFile(const std::string& path, const std::string& data);

// Writes one of the tool's own files beside a download file (FILE.new,
// FILE.rejected): never through a link and never into anything but a
// regular file. The content goes to a temporary file that is renamed over
// the name itself; a link, a pipe or a device of that name is kRefused.
WriteResult ReplaceSideFile(const std::string& path, const std::string& data);

// Opens a file that the tool appends to as it goes (the batch's report):
// created when missing, never through a link, never waiting on a pipe, only
// a regular file that has no other name (hard link). nullptr with the
// reason otherwise.
std::FILE* OpenSideFile(const std::string& path, std::string* reason);

// Why the tool must not write or read the download file at path: a link
// that the system would not follow for this user (see ReplaceFile); empty
// when nothing stands against it.
std::string RefusedPath(const std::string& path);

// Removes the temporary files that runs killed during ReplaceFile or
// AppendFile of this path left behind. Call it only while holding the
// path's PathLock. Returns how many were removed.
int RemoveLeftTemporaries(const std::string& path);

// Reads the whole file, bytes as they are. False when it cannot be read, or
// is no regular file (a pipe would keep the reader waiting), or is reached
// through a link that RefusedPath refuses.
bool ReadWholeFile(const std::string& path, std::string* data);

// Makes standard output pass the bytes as written (Windows would turn each
// line feed into CR LF), so that the messages are the same bytes on every
// host. Called once at the start of a program, before any output.
void KeepStandardOutputBytes();

// Whether standard error goes to a terminal (a person watches the run).
bool StandardErrorIsTerminal();

// The number of processor cores (at least 1).
int CoreCount();

// The sockets the process holds open, to tell those a library opened
// between two calls. Empty where the host does not list them (Windows).
std::vector<intptr_t> OpenSockets();
// Shuts a socket down both ways without closing it: a thread blocked on it
// returns at once, and its owner closes it as after any broken connection.
void ShutDownSocket(intptr_t socket);

// Asks the SQL Server Browser of host (UDP port 1434) for the TCP port of a
// named instance, waiting at most timeout_ms. Returns the port, or 0 with
// the reason in *why. Where the host does not do it (Windows, which has no
// FreeTDS), returns -1: the driver looks the instance up itself.
int SqlBrowserPort(const std::string& host, const std::string& instance, int timeout_ms,
                   std::string* why);

// An exclusive lock for a download file path: a lock file beside it
// ("<path>.lock"; on Windows beside the path as the system names the file,
// without trailing blanks and dots), held until destruction, which removes
// it. The lock file is created owner-only, is never opened through a link,
// must be a regular file and must belong to the user: another user's lock
// file is kUnavailable at once, and the reason names its owner.
class PathLock {
 public:
  enum class State {
    kHeld,
    kBusy,         // another holder kept it for the whole wait
    kUnavailable,  // no lock could be taken at all (see reason())
    kNoDirectory,  // the directory of the path does not exist: no file can be written there
  };
  // Waits up to wait_ms for the lock. When another holder keeps it at the
  // first try, waiting (when given) is told once, with the holder's process
  // id where the host tells it (0 where not).
  using Waiting = std::function<void(long holder_pid)>;
  PathLock(const std::string& path, int wait_ms, const Waiting& waiting = nullptr);
  ~PathLock();
  PathLock(const PathLock&) = delete;
  PathLock& operator=(const PathLock&) = delete;
  State state() const { return state_; }
  // Why the lock is unavailable, in the system's words.
  const std::string& reason() const { return reason_; }

 private:
  std::string lock_path_;
  std::string reason_;
  intptr_t handle_ = -1;
  State state_ = State::kUnavailable;
};

// An exclusive lock on a key (a text) among all processes of this host that
// use the same lock file: the lock of the line store of one download file
// inside one embedded database. Keys that differ may, rarely, share a lock
// (they then wait for each other); equal keys always do. The lock file is
// created when missing, owner-only; when shared_with (the database file) is
// given and group-writable, the lock file gets its group and is readable
// and writable by that group too (whoever may write the database may lock),
// and a process run by root gives it the database's owner. It is never
// opened through a link. Another user's lock file is kUnavailable at once
// (the reason names its owner), unless it belongs to the database's owner
// or is shared through the database's group and with nobody else. Held
// until destruction or until the process ends.
class KeyLock {
 public:
  enum class State { kHeld, kBusy, kUnavailable };
  KeyLock(const std::string& lock_file, std::string_view key, int wait_ms,
          const std::string& shared_with = std::string());
  ~KeyLock();
  KeyLock(const KeyLock&) = delete;
  KeyLock& operator=(const KeyLock&) = delete;
  State state() const { return state_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
  intptr_t handle_ = -1;
  State state_ = State::kUnavailable;
};

}  // namespace plom
