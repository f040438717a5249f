#include "tests/shell.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>

#include "tests/test_util.h"

namespace plom::test {

int ExitStatus(int wait_status) { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }

std::string ShellOutput(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = ExitStatus(pclose(p));
  return out;
}

std::string Shell(const std::string& cwd, const std::string& cmd, int* status) {
  return ShellOutput("cd " + ShellQuote(cwd) + " || exit 1; " + cmd, status);
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char ch : text) {
    if (ch == '\'') {
      out += "'\\''";
    } else {
      out.push_back(ch);
    }
  }
  return out + "'";
}

}  // namespace plom::test
