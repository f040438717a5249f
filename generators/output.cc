#include "generators/output.h"

#include <algorithm>
#include <cstdarg>

namespace plom {

void RunOutput::Printf(const char* fmt, ...) {
  CountKind(&kinds_, fmt);
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  if (n > 0) {
    size_t at = text_.size();
    text_.resize(at + static_cast<size_t>(n) + 1);
    std::vsnprintf(text_.data() + at, static_cast<size_t>(n) + 1, fmt, again);
    text_.resize(at + static_cast<size_t>(n));
  }
  va_end(again);
  va_end(ap);
}

int64_t RunOutput::AddLine(std::string line) {
  int64_t seq = line_count();
  lines_.push_back(std::move(line));
  marks_.push_back(Mark{text_.size(), seq});
  return seq;
}

void RunOutput::AddCount(int badges, int64_t first_line) {
  marks_.push_back(Mark{text_.size(), -1, badges, first_line, line_count()});
}

void RunOutput::Render(Messages& msg, const std::string& path,
                       const std::vector<Refusal>& refused) const {
  auto refused_before = [&](int64_t seq) {
    return std::lower_bound(refused.begin(), refused.end(), seq,
                            [](const Refusal& r, int64_t s) { return r.seq < s; }) -
           refused.begin();
  };
  std::map<std::string, int> kinds = kinds_;
  auto say = [&](std::string* to, const char* fmt, auto... args) {
    CountKind(&kinds, fmt);
    AppendF(to, fmt, args...);
  };
  std::string out;
  size_t done = 0;
  auto next = refused.begin();
  for (const Mark& m : marks_) {
    out.append(text_, done, m.at - done);
    done = m.at;
    if (m.line < 0) {
      int64_t lost = refused_before(m.line_end) - refused_before(m.first_line);
      say(&out, "Ausweise gesamt: %d davon in Datei gestellt: %lld\n", m.badges,
              static_cast<long long>(m.line_end - m.first_line - lost));
      continue;
    }
    while (next != refused.end() && next->seq < m.line) ++next;
    if (next == refused.end() || next->seq != m.line) continue;
    say(&out, "Insert-Error Zrt999Tmp! ErrNr: %d", next->sqlcode);
    say(&out, "User: %s  String: %s", path.c_str(), lines_[static_cast<size_t>(m.line)].c_str());
  }
  out.append(text_, done, std::string::npos);
  msg.Write(out);
  msg.AddKinds(kinds);
}

}  // namespace plom
