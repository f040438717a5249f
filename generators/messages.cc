#include "generators/messages.h"

#include <cstdarg>

namespace plom {

void Messages::Printf(const char* fmt, ...) {
  if (fmt[0] != '%') {
    std::string kind = fmt;
    while (!kind.empty() && kind.back() == '\n') kind.pop_back();
    ++kinds_[kind];
  }
  va_list ap;
  va_start(ap, fmt);
  if (text_ == nullptr && !holding_) {
    std::vfprintf(out_, fmt, ap);
    va_end(ap);
    return;
  }
  std::string& to = holding_ ? held_ : *text_;
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  if (n > 0) {
    size_t at = to.size();
    to.resize(at + static_cast<size_t>(n) + 1);
    std::vsnprintf(to.data() + at, static_cast<size_t>(n) + 1, fmt, again);
    to.resize(at + static_cast<size_t>(n));
  }
  va_end(again);
}

void Messages::Insert(size_t mark, const std::string& text) {
  held_.insert(mark < held_.size() ? mark : held_.size(), text);
}

void Messages::Put(const char* data, size_t n) {
  if (n == 0) return;
  if (text_ != nullptr) {
    text_->append(data, n);
  } else {
    std::fwrite(data, 1, n, out_);
  }
}

void Messages::Release() {
  holding_ = false;
  Put(held_.data(), held_.size());
  held_.clear();
}

}  // namespace plom
