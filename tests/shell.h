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

}  // namespace plom::test
