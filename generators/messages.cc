#include "generators/messages.h"

#include <cstdarg>

namespace plom {

void Messages::Printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  if (text_ == nullptr) {
    std::vfprintf(out_, fmt, ap);
    va_end(ap);
    return;
  }
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  if (n > 0) {
    size_t at = text_->size();
    text_->resize(at + static_cast<size_t>(n) + 1);
    std::vsnprintf(text_->data() + at, static_cast<size_t>(n) + 1, fmt, again);
    text_->resize(at + static_cast<size_t>(n));
  }
  va_end(again);
}

}  // namespace plom
