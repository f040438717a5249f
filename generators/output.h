// What the generator passes of a run produce, in order: the messages they
// print, the lines of the download file, and each pass's closing count.
// Nothing is stored while they run; the driver stores the lines afterwards
// and then renders the messages with what the line store said of each line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "generators/messages.h"
#include "installation/line_store.h"

namespace plom {

class RunOutput {
 public:
  void Printf(const char* fmt, ...) __attribute__((format(gnu_printf, 2, 3)));

  // Adds a line of the download file; its number (from 0).
  int64_t AddLine(std::string line);
  // The closing count of a pass: its badges, and its lines (those added
  // since first_line).
  void AddCount(int badges, int64_t first_line);

  const std::vector<std::string>& lines() const { return lines_; }
  int64_t line_count() const { return static_cast<int64_t>(lines_.size()); }
  // The messages so far, without the refusals and counts still to be said.
  const std::string& text() const { return text_; }

  // Says everything in order: the messages, each refused line's message in
  // the place where its line was made ("Insert-Error Zrt999Tmp! ..."), and
  // each pass's count of the lines that went into the file. refused is in
  // ascending seq. msg counts them by kind.
  void Render(Messages& msg, const std::string& path, const std::vector<Refusal>& refused) const;

 private:
  // A place in text_ where something decided later is said.
  struct Mark {
    size_t at;      // offset in text_
    int64_t line;   // a line: its number; a count: -1
    int badges = 0;
    int64_t first_line = 0;  // a count: its pass's lines from here to `line_end`
    int64_t line_end = 0;
  };
  std::string text_;
  std::map<std::string, int> kinds_;  // of the messages in text_
  std::vector<std::string> lines_;
  std::vector<Mark> marks_;
};

}  // namespace plom
