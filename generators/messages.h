// Messages of the run on standard output (Windows-1252 bytes, German texts).
// Tests hand in another stream to read what was printed; a batch of runs
// collects each run's messages in a text and prints them as one block.
#pragma once

#include <cstdio>
#include <map>
#include <string>

namespace plom {

class Messages {
 public:
  explicit Messages(FILE* out = stdout) : out_(out) {}
  // Collects the messages at the end of *text instead of printing them.
  explicit Messages(std::string* text) : out_(nullptr), text_(text) {}
  void Printf(const char* fmt, ...) __attribute__((format(gnu_printf, 2, 3)));
  void Write(const std::string& text);

  // How many messages of each kind were said (see MessageKind). A text
  // handed on whole (Write) is counted by whoever formatted it (AddKinds).
  const std::map<std::string, int>& kinds() const { return kinds_; }
  void AddKinds(const std::map<std::string, int>& kinds) {
    for (const auto& [kind, n] : kinds) kinds_[kind] += n;
  }

  // False when anything printed so far could not be written.
  bool Flush() {
    if (out_ == nullptr) return true;
    return std::fflush(out_) == 0 && !std::ferror(out_);
  }

 private:
  FILE* out_;
  std::string* text_ = nullptr;
  std::map<std::string, int> kinds_;
};

// The kind of a message: its format with each conversion written plainly
// ("%s", "%d") and without its line end: "Ausweis %s ohne
// Zutrittsberechtigung auf Terminal %s". A format that starts with a
// conversion continues a message or passes a text on: no kind ("").
std::string MessageKind(const char* fmt);

// Counts a message of the format's kind into *kinds.
void CountKind(std::map<std::string, int>* kinds, const char* fmt);

// printf into the end of *to.
void AppendF(std::string* to, const char* fmt, ...) __attribute__((format(gnu_printf, 2, 3)));

}  // namespace plom
