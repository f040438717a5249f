// Programs of the build run as child processes through the POSIX shell
// (the golden runs; the Windows programs under Wine).
#pragma once

#include <string>

namespace plom::test {

// Runs cmd with sh in the directory cwd; returns its standard output and
// sets *status to its exit status (-1 when it did not exit).
std::string Shell(const std::string& cwd, const std::string& cmd, int* status);

// The text in single quotes for the shell.
std::string ShellQuote(const std::string& text);

// A second user of this host, for the cases where another user plants
// files or runs the companions: "plomvarde-other", created with useradd
// when the tests run as root (as CI does) and it is missing. False with the
// reason when the tests cannot act as another user (not root).
bool OtherUser(unsigned* uid, unsigned* gid, std::string* why);

// The command line that runs cmd (a shell command) as that user.
std::string AsUser(unsigned uid, unsigned gid, const std::string& cmd);

}  // namespace plom::test
