#include "tests/shell.h"

#include <sys/wait.h>

#include <cstdio>

namespace plom::test {

std::string Shell(const std::string& cwd, const std::string& cmd, int* status) {
  std::string full = "cd " + ShellQuote(cwd) + " || exit 1; " + cmd;
  FILE* p = popen(full.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
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
