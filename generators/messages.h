// Messages of the run on standard output (Windows-1252 bytes, German texts).
// Tests hand in another stream to read what was printed.
#pragma once

#include <cstdio>

namespace plom {

class Messages {
 public:
  explicit Messages(FILE* out = stdout) : out_(out) {}
  void Printf(const char* fmt, ...) __attribute__((format(gnu_printf, 2, 3)));
  void Flush() { std::fflush(out_); }

 private:
  FILE* out_;
};

}  // namespace plom
