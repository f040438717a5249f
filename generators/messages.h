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

  // Holding: from Hold on, messages are kept back until Release, so that a
  // message about something decided later (a line the line store refuses
  // when its group is sent) can still be placed where it belongs. Mark is
  // a place in the held messages; Insert puts a text there. Both are only
  // meaningful while holding. Hold when holding already does nothing.
  void Hold() { holding_ = true; }
  bool holding() const { return holding_; }
  size_t Mark() const { return held_.size(); }
  void Insert(size_t mark, const std::string& text);
  // Hands the held messages on (printed or collected) and stops holding.
  void Release();

  // How many messages of each kind were said, the kind being the message's
  // format ("Ausweis %s ohne Zutrittsberechtigung auf Terminal %s"); texts
  // handed on whole ("%s") count with the Messages that formatted them
  // (AddKinds).
  const std::map<std::string, int>& kinds() const { return kinds_; }
  void AddKinds(const Messages& other) {
    for (const auto& [kind, n] : other.kinds_) kinds_[kind] += n;
  }

  // Releases, then flushes; false when anything printed so far could not
  // be written.
  bool Flush() {
    Release();
    if (out_ == nullptr) return true;
    return std::fflush(out_) == 0 && !std::ferror(out_);
  }

 private:
  void Put(const char* data, size_t n);

  FILE* out_;
  std::string* text_ = nullptr;
  bool holding_ = false;
  std::string held_;
  std::map<std::string, int> kinds_;
};

}  // namespace plom
