// Messages of the run on standard output (Windows-1252 bytes, German texts).
// Tests hand in another stream to read what was printed; a batch of runs
// collects each run's messages in a text and prints them as one block.
#pragma once

#include <cstdio>
#include <string>

namespace plom {

class Messages {
 public:
  explicit Messages(FILE* out = stdout) : out_(out) {}
  // Collects the messages at the end of *text instead of printing them.
  explicit Messages(std::string* text) : out_(nullptr), text_(text) {}
  void Printf(const char* fmt, ...) __attribute__((format(gnu_printf, 2, 3)));
  void Write(const std::string& text);

  // False when anything printed so far could not be written.
  bool Flush() {
    if (out_ == nullptr) return true;
    return std::fflush(out_) == 0 && !std::ferror(out_);
  }

 private:
  FILE* out_;
  std::string* text_ = nullptr;
};

// printf into the end of *to.
void AppendF(std::string* to, const char* fmt, ...) __attribute__((format(gnu_printf, 2, 3)));

}  // namespace plom
